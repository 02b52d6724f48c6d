#pragma once

#include <QFrame>

class BoundedLabel;
class QLabel;
class QPushButton;

// The panel above the tabs that shows the VPN state at a glance. It holds no
// session logic: the session control sets its state and texts, and the card
// reports its button clicks through signals. Style sheets colour it by state
// through the "status" property.
class ConnectionStatusCard : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QString status READ statusName)

public:
    enum Status { Disconnected = 0, Connecting = 1, Connected = 2, Error = 3 };
    Q_ENUM(Status)

    explicit ConnectionStatusCard(QWidget *parent = nullptr);

    Status status() const;
    // The lowercase word the style sheets select on.
    QString statusName() const;

    void setStatus(Status status);
    void setServerText(const QString &text);
    void setErrorText(const QString &text);
    void setVpnAddress(const QString &address);

signals:
    void disconnectClicked();
    void retryClicked();
    void detailsClicked();

private:
    void updateDisplay();
    // What screen readers announce for the card: the state, in the interface language.
    QString accessibleStateName() const;

    Status currentStatus = Disconnected;
    QLabel *iconLabel = nullptr;
    QLabel *statusLabel = nullptr;
    BoundedLabel *serverLabel = nullptr;
    BoundedLabel *vpnLabel = nullptr;
    QLabel *durationLabel = nullptr;
    BoundedLabel *errorLabel = nullptr;
    QLabel *progressLabel = nullptr;
    QPushButton *disconnectBtn = nullptr;
    QPushButton *retryBtn = nullptr;
    QPushButton *detailsBtn = nullptr;
    QWidget *infoRow = nullptr;
    QWidget *errorRow = nullptr;
    QWidget *progressRow = nullptr;
};
