#pragma once

#include "noticethrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class DesktopNotice;
class QWidget;

// Tells the user through desktop notices what the VPN session and the link
// to the agent do while the window is hidden in the tray or minimised: the
// session up, lost and reconnecting, back, refused, ended by the server, and
// the agent out of reach and back. The "notifications" setting turns them
// off; NoticeThrottle keeps a flapping session from flooding the desktop.
// Texts from the agent are cut short and cleared of the passwords, secrets
// and one-time passwords held in memory.
class SessionNotifier : public QObject
{
    Q_OBJECT

public:
    enum class Kind {
        Connected,
        Lost,
        Reconnected,
        ReconnectRefused,
        Refused,
        ClosedByServer,
        AgentUnreachable,
        AgentBack,
    };
    Q_ENUM(Kind)

    struct Notice
    {
        QString title;
        QString body;
    };

    // The longest agent text a notice carries.
    static constexpr int maxAgentTextLength = 160;

    SessionNotifier(QWidget *window, DesktopNotice *poster, QObject *parent = nullptr);

    // The passwords, secrets and one-time password held in memory, which no
    // notice may carry.
    void setSecretsSource(std::function<QStringList()> source);
    // How long a kind of notice stays quiet after it was shown; 30 s unless
    // a test sets a shorter time.
    void setQuietInterval(qint64 ms);

    // A session event as the connection history records it ("event",
    // "profile", "address", "message").
    void onSessionEvent(const QJsonObject &event);
    // The link to the agent went down, or came back after a loss.
    void onAgentLost();
    void onAgentBack();

    // The notice for an event, in the interface language.
    static Notice compose(Kind kind, const QJsonObject &event);
    // An agent text made fit for a notice: one line, at most
    // maxAgentTextLength characters.
    static QString boundedAgentText(const QString &text);

private:
    void notify(Kind kind, const QJsonObject &event);
    bool wanted() const;
    void post(Kind kind);
    void showDue();
    void scheduleDue();
    qint64 now() const;

    QPointer<QWidget> window;
    DesktopNotice *poster;
    std::function<QStringList()> secrets;
    QElapsedTimer steady;
    NoticeThrottle throttle;
    // The newest event of each kind, for a notice held back until later.
    QHash<int, QJsonObject> latest;
    QTimer dueTimer;
};
