#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

// The one simulated tunnel of the agent: comes up on a valid login, reports
// plausible status and growing traffic counters, and ends on request or when
// the scenario lets the gateway end or lose it.
class VpnSession : public QObject
{
    Q_OBJECT

public:
    explicit VpnSession(QObject *parent = nullptr);

    // Seconds after which a session is lost / ended by the gateway (0: never).
    void setLoseAfter(int seconds);
    void setEndAfter(int seconds);
    void setDtlsEnabled(bool enabled);

    // Brings a session up with these login parameters; returns the reason when
    // the parameters cannot make one.
    QString start(const QJsonObject &login);
    void stop();
    bool isUp() const;
    QString host() const;

    QJsonObject status() const;
    QJsonObject traffic() const;

signals:
    void lost(const QString &message);
    void ended(const QString &message);

private:
    void finish();

    bool up = false;
    bool dtlsEnabled = true;
    QString gatewayHost;
    QElapsedTimer uptime;
    QTimer loseTimer;
    QTimer endTimer;
};
