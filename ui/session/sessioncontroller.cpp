#include "sessioncontroller.h"
#include "ui_orvalin.h"

#include "agentlink.h"
#include "appglobals.h"
#include "configmanager.h"
#include "jsonrpcwebsocketclient.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "sessionformat.h"
#include "sessiontakeover.h"
#include "sessionview.h"
#include "traycontroller.h"
#include "windowforward.h"

#include <QLineEdit>

#include <utility>

namespace {

constexpr int statusId = 0;
constexpr int connectId = 2;
constexpr int disconnectId = 3;
constexpr int reconnectId = 4;
constexpr int sessionLostId = 6;

constexpr int statusPollMs = 60000;
constexpr int reconnectDelayMs = 1500;
constexpr int retryAfterRefusedReconnectMs = 3000;
constexpr int automaticConnectionDelayMs = 500;

} // namespace

SessionController::SessionController(Orvalin *window, Ui::Orvalin *form, ConnectionStatusCard *card)
    : QObject(window)
    , window(window)
    , ui(form)
    , view(new SessionView(window, form, card, this))
{
    statusTimer.setObjectName(QStringLiteral("statusTimer"));
    history().setObserver([this](const QJsonObject &event) { emit eventRecorded(event); });
}

void SessionController::setPasswordPrompt(PasswordPrompter prompter)
{
    askPassword = std::move(prompter);
}

void SessionController::forgetAskedPassword()
{
    if (askPassword)
        currentProfile.remove(QLatin1String("password"));
}

void SessionController::setProfileManager(ProfileManager *profiles)
{
    profileManager = profiles;
}

void SessionController::setTray(TrayController *trayController)
{
    tray = trayController;
    view->setTray(trayController);
}

void SessionController::setDetailDialog(DetailDialog *dialog)
{
    view->setDetailDialog(dialog);
}

void SessionController::setClient(JsonRpcWebSocketClient *client)
{
    rpcClient = client;
}

void SessionController::setLink(AgentLink *agentLink)
{
    link = agentLink;
}

AgentLink *SessionController::agentLink() const
{
    return link;
}

bool SessionController::isSessionConnected() const
{
    return sessionConnected;
}

bool SessionController::isDisconnectRequested() const
{
    return disconnectRequested;
}

QJsonObject SessionController::sessionParameters() const
{
    return currentProfile;
}

bool SessionController::isStatusPolling() const
{
    return statusTimer.isActive();
}

int SessionController::statusPollInterval() const
{
    return statusTimer.interval();
}

bool SessionController::isLinkUp() const
{
    return linkUp();
}

SessionController::State SessionController::state() const
{
    if (!linkUp())
        return State::AgentUnreachable;
    if (sessionConnected)
        return disconnectRequested ? State::Disconnecting : State::Connected;
    return attemptPending ? State::Connecting : State::Idle;
}

bool SessionController::isAgentSessionKnown() const
{
    return linkUp() && !probePending && probedEpoch == linkEpoch();
}

bool SessionController::hasSessionStatus() const
{
    return sessionConnected && sessionStatusKnown;
}

QString SessionController::sessionProfileName() const
{
    return currentProfileName;
}

QString SessionController::sessionHost() const
{
    return sessionHostName;
}

QString SessionController::sessionVpnAddress() const
{
    return hasSessionStatus() ? lastStatus.value(QLatin1String("VPNAddress")).toString() : QString();
}

QDateTime SessionController::sessionSince() const
{
    return sessionConnected ? sessionStartedAt : QDateTime();
}

QJsonObject SessionController::lastStatusReply() const
{
    return lastStatus;
}

ProfileManager *SessionController::profiles() const
{
    return profileManager;
}

QStringList SessionController::heldSecrets() const
{
    return SessionFormat::secretsIn(profileManager ? profileManager->profiles : QJsonObject(), currentProfile,
                                    currentProfileName, ui->lineEditOTP->text());
}

ConnectionHistory &SessionController::history()
{
    return recorder.history();
}

void SessionController::recordEvent(const QString &event, const QJsonObject &fields)
{
    recorder.setSubject(currentProfileName, currentProfile.value(QLatin1String("host")).toString());
    recorder.record(event, fields);
}

void SessionController::linkLost(bool wasUp)
{
    sessionCutByLink = sessionConnected;
    probePending = false;
    attemptPending = false;
    // An agent not reached yet (not running at start) has lost no link.
    if (wasUp) {
        recorder.setSubject(currentProfileName, currentProfile.value(QLatin1String("host")).toString());
        recorder.linkLost(sessionConnected);
    }
    emit stateChanged();
}

void SessionController::linkRestored()
{
    recorder.linkRestored();
}

quint64 SessionController::linkEpoch() const
{
    return link ? link->epoch() : 0;
}

bool SessionController::linkUp() const
{
    return rpcClient && rpcClient->isConnected();
}

QJsonObject SessionController::connectParameters(const QJsonObject &profile, const QString &oneTimePassword)
{
    QJsonObject parameters = profile;
    if (!oneTimePassword.isEmpty()) {
        const QString password = profile.value(QLatin1String("password")).toString() + oneTimePassword;
        parameters.insert(QStringLiteral("password"), password);
    }
    return parameters;
}

void SessionController::connectVPN(bool reconnect)
{
    if (!linkUp())
        return;

    QString method;
    int id;
    if (reconnect) {
        method = QStringLiteral("reconnect");
        id = reconnectId;
    } else {
        const QString name = ui->comboBoxHost->currentText();
        if (name.isEmpty())
            return;
        QJsonObject stored = profileManager ? profileManager->profiles.value(name).toObject() : QJsonObject();
        if (askPassword) {
            // Not kept anywhere: asked for this connection (and its reconnections).
            if (asking)
                return;
            asking = true;
            const std::optional<QString> password = askPassword(name);
            asking = false;
            // The prompt ran an event loop of its own: the link may have gone
            // or a session come up meanwhile.
            if (!password || !linkUp() || sessionConnected)
                return;
            stored.insert(QStringLiteral("password"), *password);
        }
        currentProfile = connectParameters(stored, ui->lineEditOTP->text());
        currentProfileName = name;
        method = QStringLiteral("connect");
        id = connectId;
    }

    ++generation;
    if (reconnect)
        reconnectGeneration = generation;
    recordEvent(reconnect ? ConnectionHistory::reconnectSent : ConnectionHistory::connectRequested);

    view->showConnecting(currentProfile.value(QLatin1String("host")).toString());

    // The client keeps the first callback per id, so each variant stays tied
    // to its own id for the life of the process.
    rpcClient->sendRequest(method, id, currentProfile,
                           [this, reconnect](const QJsonValue &reply) { onConnectReply(reply, reconnect); });
    attemptPending = true;
    sessionHostName = currentProfile.value(QLatin1String("host")).toString();
    emit stateChanged();
}

void SessionController::onConnectReply(const QJsonValue &reply, bool reconnect)
{
    ui->progressBar->stop();
    attemptPending = false;

    // A second answer for a session already up (a double click on Connect
    // sends two requests): the session, and a disconnection the user may have
    // asked for meanwhile, stay as they are; only the text is shown.
    if (sessionConnected) {
        ui->statusBar->setText(reply.isObject() ? reply.toObject().value(QLatin1String("message")).toString()
                                                : reply.toString());
        return;
    }

    if (!reply.isObject()) {
        ui->statusBar->setText(reply.toString());
        comingUpByReconnect = reconnect;
        emit window->vpnConnected();
        return;
    }

    const QString message = reply.toObject().value(QLatin1String("message")).toString();
    const QJsonObject messageField{{QStringLiteral("message"), message}};
    recordEvent(reconnect ? ConnectionHistory::reconnectRefused : ConnectionHistory::refused, messageField);
    forgetAskedPassword();

    // The agent has just refused these credentials and this one-time password:
    // no reconnection or automatic connection still waiting may send them again.
    const bool reconnectStillCurrent = generation == reconnectGeneration;
    ++generation;

    if (reconnect) {
        // The agent could not resume the lost session: start over with the
        // profile that is selected now, unless the user has acted meanwhile.
        if (!reconnectStillCurrent) {
            emit stateChanged();
            return;
        }
        const quint64 startedAt = generation;
        const quint64 epoch = linkEpoch();
        QTimer::singleShot(retryAfterRefusedReconnectMs, window, [this, startedAt, epoch] {
            if (stillPending(startedAt, epoch))
                retryAfterRefusedReconnect();
        });
        emit stateChanged();
        return;
    }

    showWindowAgain(window);
    view->showRefused(message);
    emit connectRefused(message);
    emit stateChanged();
    // The box runs an event loop of its own. Opened from here it would run
    // inside the link's read handler, and nothing more from the agent would be
    // read until the user dismissed it; so it opens once this reply is done.
    const quint64 refusedAt = generation;
    QMetaObject::invokeMethod(
        window,
        [this, message, refusedAt] {
            // A session that came up meanwhile makes the box stale; its text
            // stays in the status line.
            if (sessionConnected) {
                ui->statusBar->setText(message);
                return;
            }
            if (refusedAt != generation)
                return;
            view->showRefusalBox(message);
        },
        Qt::QueuedConnection);
}

void SessionController::retryAfterRefusedReconnect()
{
    // With no profile selected any more (the user removed it meanwhile) there
    // is nothing to connect: leave the connecting look instead of keeping it
    // with nothing in progress.
    if (linkUp() && ui->comboBoxHost->currentText().isEmpty()) {
        view->showNothingToConnect();
        return;
    }
    connectVPN(false);
}

void SessionController::getVPNStatus()
{
    if (!linkUp())
        return;
    rpcClient->sendRequest(QStringLiteral("status"), statusId, QJsonObject(),
                           [this](const QJsonValue &reply) { onStatus(reply); });
}

void SessionController::probeAgentSession()
{
    if (!linkUp())
        return;
    probePending = true;
    getVPNStatus();
}

void SessionController::onStatus(const QJsonValue &reply)
{
    const QJsonObject status = reply.toObject();
    // A reply arrives only on the link that carried its request, so while the
    // probe is out the first reply is its answer.
    if (probePending) {
        probePending = false;
        probedEpoch = linkEpoch();
        if (!sessionConnected) {
            if (reply.isObject() && !status.contains(QLatin1String("code")))
                takeOver(status);
            else
                runPendingAutomaticConnection();
            // Whatever waited for the agent's answer may go on.
            emit stateChanged();
            return;
        }
    }
    // "code" means there is no session to report on. A reply that arrives
    // after the session has ended would fill the idle window with the old
    // figures and hand the old routes to the next session.
    if (status.contains(QLatin1String("code")) || !sessionConnected)
        return;
    lastStatus = status;

    const SessionFormat::StatusFields fields = SessionFormat::readStatus(status);
    sessionStatusKnown = true;
    if (view->showStatus(fields, status))
        recorder.firstStatus(fields.vpnAddress);
    emit statusReceived();
}

void SessionController::disconnectVPN()
{
    if (!linkUp())
        return;
    ++generation;
    ui->progressBar->start();
    // The reply arrives at the session-closed handler registered for id 3.
    rpcClient->sendRequest(QStringLiteral("disconnect"), disconnectId, QJsonObject(), ReplyCallback());
    disconnectRequested = true;
    emit stateChanged();
}

void SessionController::toggleConnection()
{
    if (!linkUp())
        return;
    if (sessionConnected)
        disconnectVPN();
    else
        connectVPN(false);
}

void SessionController::wireOneTimePasswordField()
{
    ui->lineEditOTP->setFocus(Qt::OtherFocusReason);
    connect(ui->lineEditOTP, &QLineEdit::returnPressed, this, [this] {
        if (!ui->lineEditOTP->text().isEmpty() && linkUp())
            connectVPN(false);
    });
}

void SessionController::wireStatusTimer()
{
    connect(&statusTimer, &QTimer::timeout, this, [this] {
        // Without DTLS the timer keeps running but asks nothing.
        if (!configManager->config.value(QLatin1String("no_dtls")).toBool(false))
            getVPNStatus();
    });
}

void SessionController::wireSessionSignals()
{
    connect(window, &Orvalin::vpnConnected, this, &SessionController::sessionUp);
    connect(window, &Orvalin::vpnClosed, this, &SessionController::sessionDown);
}

void SessionController::registerPushHandlers()
{
    rpcClient->registerCallback(disconnectId, [this](const QJsonValue &reply) { onSessionClosed(reply); });
    rpcClient->registerCallback(sessionLostId, [this](const QJsonValue &reply) { onSessionLost(reply); });
}

void SessionController::onSessionClosed(const QJsonValue &reply)
{
    ui->progressBar->stop();
    ui->statusBar->setText(reply.toString());
    recordEvent(disconnectRequested ? ConnectionHistory::disconnected : ConnectionHistory::closedByServer,
                QJsonObject{{QStringLiteral("message"), reply.toString()}});
    forgetAskedPassword();
    emit window->vpnClosed();
    // A session the user did not end: bring the window back so they notice.
    if (!disconnectRequested)
        showWindowAgain(window);
}

void SessionController::onSessionLost(const QJsonValue &reply)
{
    ui->statusBar->setText(reply.toString());
    recordEvent(ConnectionHistory::lost, QJsonObject{{QStringLiteral("message"), reply.toString()}});
    emit window->vpnClosed();
    // A session taken over from the agent without knowing its profile has no
    // parameters to resume with.
    if (!disconnectRequested && !currentProfile.isEmpty()) {
        const quint64 startedAt = generation;
        const quint64 epoch = linkEpoch();
        QTimer::singleShot(reconnectDelayMs, window, [this, startedAt, epoch] {
            if (stillPending(startedAt, epoch))
                connectVPN(true);
        });
    }
}

void SessionController::sessionUp()
{
    sessionStatusKnown = false;
    sessionStartedAt = QDateTime::currentDateTime();
    getVPNStatus();
    if (rpcClient)
        rpcClient->getEnabledAppSplitRules();
    ++generation;
    recorder.setSubject(currentProfileName, currentProfile.value(QLatin1String("host")).toString());
    recorder.sessionUp(std::exchange(comingUpByReconnect, false));
    sessionConnected = true;
    disconnectRequested = false;
    const QString host = currentProfile.value(QLatin1String("host")).toString();
    showSessionUp(host);
    if (tray)
        tray->closeToTrayIfWanted(host);

    // The profile that was sent, not whatever the selector shows by now.
    if (!currentProfileName.isEmpty()
        && configManager->config.value(QLatin1String("lastProfile")).toString() != currentProfileName) {
        configManager->config.insert(QStringLiteral("lastProfile"), currentProfileName);
        configManager->saveConfig();
    }
    statusTimer.start(statusPollMs);
    emit stateChanged();
}

void SessionController::showSessionUp(const QString &host)
{
    sessionHostName = host;
    view->showUp(host);
}

void SessionController::takeOver(const QJsonObject &status)
{
    // The agent runs a session: nothing may start a second one.
    pendingAutoLogin.clear();
    ++generation;

    const QString lastName = configManager->config.value(QLatin1String("lastProfile")).toString();
    const QJsonObject stored = profileManager ? profileManager->profiles.value(lastName).toObject() : QJsonObject();
    // The window's own session, cut off with the link, or one that a previous
    // run of the client left up when it stopped without a word.
    const bool ownSession = std::exchange(sessionCutByLink, false) && currentProfileName == lastName;
    const QJsonObject previous
        = ownSession
              ? QJsonObject{{QStringLiteral("profile"), currentProfileName},
                            {QStringLiteral("host"), currentProfile.value(QLatin1String("host")).toString()},
                            {QStringLiteral("address"), lastStatus.value(QLatin1String("VPNAddress")).toString()}}
              : recorder.unendedSession();
    const SessionTakeover::Owner owner
        = SessionTakeover::identify(status, lastName, stored.value(QLatin1String("host")).toString(), previous);
    if (!owner.known) {
        // Not knowing whose session it is, nothing is resumed with a profile's password.
        currentProfile = QJsonObject();
        currentProfileName.clear();
    } else if (!ownSession) {
        // The window's own "connect" parameters (with their one-time password)
        // stay; otherwise the stored profile stands in for them.
        currentProfile = connectParameters(stored, QString());
        currentProfileName = lastName;
    }

    recorder.setSubject(currentProfileName, owner.host);
    recorder.sessionTakenOver(status.value(QLatin1String("VPNAddress")).toString(), owner.since);
    sessionConnected = true;
    disconnectRequested = false;
    sessionStatusKnown = false;
    sessionStartedAt = owner.since;
    // The session-up look, but the window stays where it is: nobody asked for
    // a connection that would close it into the tray.
    showSessionUp(owner.host);
    // Labels, routes and Details from the reply at hand.
    onStatus(status);
    if (rpcClient)
        rpcClient->getEnabledAppSplitRules();
    statusTimer.start(statusPollMs);
    emit stateChanged();
}

void SessionController::sessionDown()
{
    recorder.sessionDown();
    sessionConnected = false;
    view->showDown();
    statusTimer.stop();
    attemptPending = false;
    sessionStatusKnown = false;
    emit stateChanged();
}

bool SessionController::stillPending(quint64 startedAt, quint64 epoch) const
{
    return startedAt == generation && epoch == linkEpoch() && !sessionConnected && !disconnectRequested;
}

namespace {
bool automaticConnectionWanted(const QString &profileName)
{
    const QJsonObject &config = configManager->config;
    return config.value(QLatin1String("autoLogin")).toBool(false)
           && config.value(QLatin1String("lastProfile")).toString() == profileName;
}
} // namespace

void SessionController::scheduleAutomaticConnection(const QString &profileName)
{
    const quint64 startedAt = generation;
    QTimer::singleShot(automaticConnectionDelayMs, window, [this, profileName, startedAt] {
        // The user has acted meanwhile, or a session is up. The link may have
        // come and gone: the automatic connection waits for the agent, not for one link.
        if (startedAt != generation || sessionConnected || disconnectRequested
            || !automaticConnectionWanted(profileName))
            return;
        // Until the agent has said that it runs no session, a "connect" could
        // start a second one: the probe's answer lets it go.
        if (!linkUp() || probedEpoch != linkEpoch() || probePending) {
            pendingAutoLogin = profileName;
            autoLoginGeneration = startedAt;
            return;
        }
        connectVPN(false);
    });
}

void SessionController::runPendingAutomaticConnection()
{
    const QString profileName = std::exchange(pendingAutoLogin, QString());
    if (profileName.isEmpty() || autoLoginGeneration != generation || sessionConnected || disconnectRequested
        || !automaticConnectionWanted(profileName))
        return;
    connectVPN(false);
}
