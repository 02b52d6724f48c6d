#pragma once

#include "sessionrecorder.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace Ui {
class Orvalin;
}

class AgentLink;
class ConnectionStatusCard;
class DetailDialog;
class JsonRpcWebSocketClient;
class Orvalin;
class ProfileManager;
class SessionView;
class TrayController;

// The VPN session as the main window runs it: "connect", "reconnect",
// "disconnect" and "status" through the agent link, the agent's pushes for a
// closed (id 3) or lost (id 6) session, the session the agent already runs
// when a link comes up, and the controls, tray, status card and detail dialog
// that follow the session. The window only forwards to it.
class SessionController : public QObject
{
    Q_OBJECT

public:
    // What the session is doing, as the command line reports it.
    enum class State { Idle, Connecting, Connected, Disconnecting, AgentUnreachable };
    Q_ENUM(State)

    SessionController(Orvalin *window, Ui::Orvalin *form, ConnectionStatusCard *card);

    // Parts of the window that appear after the controller: the profile store,
    // and what the deferred set-up creates.
    void setProfileManager(ProfileManager *profiles);
    void setTray(TrayController *tray);
    void setDetailDialog(DetailDialog *dialog);
    void setClient(JsonRpcWebSocketClient *client);
    // Where the password of a connection comes from when passwords are not
    // kept (the administrator's policy): asked for each "connect", used for
    // it and its reconnections, and forgotten when the session ends or is
    // refused. Nothing (a cancel) means nothing is sent.
    using PasswordPrompter = std::function<std::optional<QString>(const QString &profile)>;
    void setPasswordPrompt(PasswordPrompter prompter);
    void setLink(AgentLink *link);
    AgentLink *agentLink() const;

    bool isSessionConnected() const;
    bool isDisconnectRequested() const;
    // The parameters of the last "connect", reused unchanged by "reconnect".
    QJsonObject sessionParameters() const;
    bool isStatusPolling() const;
    bool isLinkUp() const;
    State state() const;
    // The link is up and the agent has said whether it already runs a
    // session, so a "connect" cannot start a second one.
    bool isAgentSessionKnown() const;
    // A status reply has described the session that is up.
    bool hasSessionStatus() const;
    // The session that is up or coming up: the profile (empty for one taken
    // over without knowing whose it is), the gateway, the VPN address once a
    // status brought it, and when it came up (invalid when not known).
    QString sessionProfileName() const;
    QString sessionHost() const;
    QString sessionVpnAddress() const;
    QDateTime sessionSince() const;
    // The last "status" reply that described a session; kept after it ends.
    QJsonObject lastStatusReply() const;
    ProfileManager *profiles() const;
    // The passwords, secrets and one-time password held in memory: the stored
    // profiles' and those of the last "connect".
    QStringList heldSecrets() const;

    // Where the session's events are recorded.
    ConnectionHistory &history();

    // The link to the agent has failed (`wasUp`: it had been up, rather than
    // not coming up at all): recorded before the session goes down.
    void linkLost(bool wasUp);
    // A link came up again after a loss.
    void linkRestored();
    // Asks the agent, once per link, whether it already runs a session; one
    // that it runs is taken over as it is, without a "connect".
    void probeAgentSession();
    int statusPollInterval() const;

    // The "connect" parameters: the stored profile, with a one-time password
    // appended directly to the stored password when one was typed.
    static QJsonObject connectParameters(const QJsonObject &profile, const QString &oneTimePassword);

    void connectVPN(bool reconnect = false);
    void disconnectVPN();
    void getVPNStatus();
    // The connect button: disconnect while a session is up, otherwise connect.
    void toggleConnection();

    // Set-up steps, called by the window in its construction and deferred
    // initialisation order.
    void wireOneTimePasswordField();
    void wireStatusTimer();
    void wireSessionSignals();
    void registerPushHandlers();

    // A profile's password has been restored: with "autoLogin" on, the last
    // used profile connects by itself shortly after, once the agent has said
    // that it runs no session already.
    void scheduleAutomaticConnection(const QString &profile);

signals:
    // Every session event as the connection history records it.
    void eventRecorded(const QJsonObject &event);
    // state() may have changed.
    void stateChanged();
    // The agent refused a fresh connection; the message is its own.
    void connectRefused(const QString &message);
    // A status reply has described the session that is up.
    void statusReceived();

private:
    void forgetAskedPassword();
    bool linkUp() const;
    void onConnectReply(const QJsonValue &reply, bool reconnect);
    void retryAfterRefusedReconnect();
    void onStatus(const QJsonValue &reply);
    void onSessionClosed(const QJsonValue &reply);
    void onSessionLost(const QJsonValue &reply);
    void takeOver(const QJsonObject &status);
    void runPendingAutomaticConnection();
    void sessionUp();
    // The session-up look: tray, connect button, inputs and status card.
    void showSessionUp(const QString &host);
    void sessionDown();
    quint64 linkEpoch() const;
    // True while a timer started at `generation` on the link of `epoch` may
    // still act: that link is still the one, nothing has been sent, ended or
    // come up since, and no session is up.
    bool stillPending(quint64 generation, quint64 epoch) const;
    // Records an event about the profile and host of the last "connect".
    void recordEvent(const QString &event, const QJsonObject &fields = QJsonObject());

    Orvalin *window;
    Ui::Orvalin *ui;
    QPointer<ProfileManager> profileManager;
    QPointer<TrayController> tray;
    SessionView *view;
    QPointer<JsonRpcWebSocketClient> rpcClient;
    QPointer<AgentLink> link;

    // A child as well as a member, so it can be found by its object name.
    QTimer statusTimer{this};
    bool sessionConnected = false;
    bool disconnectRequested = false;
    QJsonObject currentProfile;
    PasswordPrompter askPassword;
    bool asking = false;
    // The profile whose parameters the last "connect" carried; the selector
    // may have moved on since.
    QString currentProfileName;
    // Bumped by every connect, reconnect, disconnect, refusal and session up, so the
    // delayed reconnections and the automatic connection can tell whether
    // what they were started for still holds.
    quint64 generation = 0;
    quint64 reconnectGeneration = 0;

    SessionRecorder recorder;
    QJsonObject lastStatus;
    // A "connect" or "reconnect" is out and unanswered.
    bool attemptPending = false;
    bool sessionStatusKnown = false;
    QString sessionHostName;
    QDateTime sessionStartedAt;
    // The refusal the "Error" box shows while it is open.
    // Whether the session coming up resumed a lost one.
    bool comingUpByReconnect = false;
    // The session that was up went down with the link: if the next link finds
    // the agent still running it, it is this window's own.
    bool sessionCutByLink = false;

    // The probe's "status" is out on the current link; then the link it was
    // answered on.
    bool probePending = false;
    quint64 probedEpoch = 0;
    // The automatic connection waiting for the probe's answer, and the
    // generation it was started at.
    QString pendingAutoLogin;
    quint64 autoLoginGeneration = 0;
};
