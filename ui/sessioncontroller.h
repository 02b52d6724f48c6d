#pragma once

#include "connectionhistory.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace Ui {
class Orvalin;
}

class ConnectionStatusCard;
class DetailDialog;
class JsonRpcWebSocketClient;
class Orvalin;
class ProfileManager;
class TrayController;

// The VPN session as the main window runs it: "connect", "reconnect",
// "disconnect" and "status" through the agent link, the agent's pushes for a
// closed (id 3) or lost (id 6) session, and the controls, tray, status card and
// detail dialog that follow the session. The window only forwards to it.
class SessionController : public QObject
{
    Q_OBJECT

public:
    SessionController(Orvalin *window, Ui::Orvalin *form, ConnectionStatusCard *card);

    // Parts of the window that appear after the controller: the profile store,
    // and what the deferred set-up creates.
    void setProfileManager(ProfileManager *profiles);
    void setTray(TrayController *tray);
    void setDetailDialog(DetailDialog *dialog);
    void setClient(JsonRpcWebSocketClient *client);

    bool isSessionConnected() const;
    bool isDisconnectRequested() const;
    // The parameters of the last "connect", reused unchanged by "reconnect".
    QJsonObject sessionParameters() const;
    bool isStatusPolling() const;
    bool isLinkUp() const;
    // The last "status" reply that described a session; kept after it ends.
    QJsonObject lastStatusReply() const;
    ProfileManager *profiles() const;
    // The passwords, secrets and one-time password held in memory: the stored
    // profiles' and those of the last "connect".
    QStringList heldSecrets() const;

    // Where the session's events are recorded.
    ConnectionHistory &history();

    // The link to the agent has failed: recorded before the session goes down.
    void linkLost();
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
    // used profile connects by itself shortly after.
    void scheduleAutomaticConnection(const QString &profile);

private:
    bool linkUp() const;
    void onConnectReply(const QJsonValue &reply, bool reconnect);
    void retryAfterRefusedReconnect();
    void onStatus(const QJsonValue &reply);
    void onSessionClosed(const QJsonValue &reply);
    void onSessionLost(const QJsonValue &reply);
    void sessionUp();
    void sessionDown();
    void setInputsEnabled(bool enabled);
    // True while a timer started at `generation` may still act: nothing has
    // been sent, ended or come up since, and no session is up.
    bool stillPending(quint64 generation) const;
    // Records an event with the profile and host of the last "connect", and
    // how long the session lasted when the event ends one that is up.
    void recordEvent(const QString &event, const QJsonObject &fields = QJsonObject());
    // The session's "connected" waits for the first status, which brings the
    // VPN address; anything else that happens first writes it without.
    void flushPendingUp(const QString &vpnAddress = QString());

    Orvalin *window;
    Ui::Orvalin *ui;
    QPointer<ProfileManager> profileManager;
    ConnectionStatusCard *statusCard;
    QPointer<TrayController> tray;
    QPointer<DetailDialog> detailDialog;
    QPointer<JsonRpcWebSocketClient> rpcClient;

    // A child as well as a member, so it can be found by its object name.
    QTimer statusTimer{this};
    bool sessionConnected = false;
    bool disconnectRequested = false;
    QJsonObject currentProfile;
    // The profile whose parameters the last "connect" carried; the selector
    // may have moved on since.
    QString currentProfileName;
    // Bumped by every connect, reconnect, disconnect, refusal and session up, so the
    // delayed reconnections and the automatic connection can tell whether
    // what they were started for still holds.
    quint64 generation = 0;
    quint64 reconnectGeneration = 0;

    ConnectionHistory connectionHistory;
    QJsonObject lastStatus;
    QDateTime sessionStartedAt;
    // The "connected" or "reconnected" of the session that is up, not yet written.
    QString pendingUpEvent;
    // Whether the session coming up resumed a lost one.
    bool comingUpByReconnect = false;
};
