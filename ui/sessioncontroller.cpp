#include "sessioncontroller.h"
#include "ui_orvalin.h"

#include "appglobals.h"
#include "configmanager.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "jsonrpcwebsocketclient.h"
#include "messageboxes.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "sessionformat.h"
#include "traycontroller.h"
#include "windowforward.h"

#include <QCoreApplication>
#include <QJsonArray>
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
    , statusCard(card)
{
    statusTimer.setObjectName(QStringLiteral("statusTimer"));
}

void SessionController::setProfileManager(ProfileManager *profiles)
{
    profileManager = profiles;
}

void SessionController::setTray(TrayController *trayController)
{
    tray = trayController;
}

void SessionController::setDetailDialog(DetailDialog *dialog)
{
    detailDialog = dialog;
}

void SessionController::setClient(JsonRpcWebSocketClient *client)
{
    rpcClient = client;
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
    const QLatin1String password("password");
    const QLatin1String secret("secret");
    QStringList secrets;
    if (profileManager) {
        for (const auto &profile : std::as_const(profileManager->profiles))
            secrets << profile[password].toString() << profile[secret].toString();
    }
    const QString sent = currentProfile.value(password).toString();
    secrets << sent << currentProfile.value(secret).toString() << ui->lineEditOTP->text();
    // The one-time password on its own: what was sent after the stored password.
    if (profileManager) {
        const QString stored = profileManager->profiles.value(currentProfileName)[password].toString();
        if (sent.size() > stored.size() && sent.startsWith(stored))
            secrets << sent.mid(stored.size());
    }
    secrets.removeAll(QString());
    return secrets;
}

ConnectionHistory &SessionController::history()
{
    return connectionHistory;
}

void SessionController::recordEvent(const QString &event, const QJsonObject &fields)
{
    flushPendingUp();
    QJsonObject entry = fields;
    entry.insert(QStringLiteral("profile"), currentProfileName);
    entry.insert(QStringLiteral("host"), currentProfile.value(QLatin1String("host")).toString());
    if (sessionConnected && ConnectionHistory::endsSession(event))
        entry.insert(QStringLiteral("duration"), sessionStartedAt.secsTo(connectionHistory.now()));
    connectionHistory.record(event, entry);
}

void SessionController::flushPendingUp(const QString &vpnAddress)
{
    if (pendingUpEvent.isEmpty())
        return;
    const QString event = std::exchange(pendingUpEvent, QString());
    connectionHistory.record(
        event,
        QJsonObject{{QStringLiteral("profile"), currentProfileName},
                    {QStringLiteral("host"), currentProfile.value(QLatin1String("host")).toString()},
                    {QStringLiteral("address"), vpnAddress}},
        sessionStartedAt);
}

void SessionController::linkLost()
{
    // An agent that was never reached before any session (not running at
    // start) is no event of a session.
    if (generation == 0)
        return;
    recordEvent(ConnectionHistory::linkLost);
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
        const QJsonObject stored = profileManager ? profileManager->profiles.value(name).toObject() : QJsonObject();
        currentProfile = connectParameters(stored, ui->lineEditOTP->text());
        currentProfileName = name;
        method = QStringLiteral("connect");
        id = connectId;
    }

    ++generation;
    if (reconnect)
        reconnectGeneration = generation;
    recordEvent(reconnect ? ConnectionHistory::reconnectSent : ConnectionHistory::connectRequested);

    ui->progressBar->start();
    if (tray)
        tray->trayConnecting();
    statusCard->setStatus(ConnectionStatusCard::Connecting);
    statusCard->setServerText(currentProfile.value(QLatin1String("host")).toString());

    // The client keeps the first callback per id, so each variant stays tied
    // to its own id for the life of the process.
    rpcClient->sendRequest(method, id, currentProfile,
                           [this, reconnect](const QJsonValue &reply) { onConnectReply(reply, reconnect); });
}

void SessionController::onConnectReply(const QJsonValue &reply, bool reconnect)
{
    ui->progressBar->stop();

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

    // The agent has just refused these credentials and this one-time password:
    // no reconnection or automatic connection still waiting may send them again.
    const bool reconnectStillCurrent = generation == reconnectGeneration;
    ++generation;

    if (reconnect) {
        // The agent could not resume the lost session: start over with the
        // profile that is selected now, unless the user has acted meanwhile.
        if (!reconnectStillCurrent)
            return;
        const quint64 startedAt = generation;
        QTimer::singleShot(retryAfterRefusedReconnectMs, window, [this, startedAt] {
            if (stillPending(startedAt))
                retryAfterRefusedReconnect();
        });
        return;
    }

    showWindowAgain(window);
    // Nothing is in progress any more, so the tray leaves its connecting image.
    if (tray)
        tray->trayFailed();
    statusCard->setStatus(ConnectionStatusCard::Error);
    statusCard->setErrorText(message);
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
            if (refusedAt == generation)
                MessageBoxes::showError(window, message);
        },
        Qt::QueuedConnection);
}

void SessionController::retryAfterRefusedReconnect()
{
    // With no profile selected any more (the user removed it meanwhile) there
    // is nothing to connect: leave the connecting look instead of keeping it
    // with nothing in progress.
    if (linkUp() && ui->comboBoxHost->currentText().isEmpty()) {
        statusCard->setStatus(ConnectionStatusCard::Disconnected);
        if (tray)
            tray->trayFailed();
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

void SessionController::onStatus(const QJsonValue &reply)
{
    const QJsonObject status = reply.toObject();
    // "code" means there is no session to report on. A reply that arrives
    // after the session has ended would fill the idle window with the old
    // figures and hand the old routes to the next session.
    if (status.contains(QLatin1String("code")) || !sessionConnected)
        return;
    lastStatus = status;

    const SessionFormat::StatusFields fields = SessionFormat::readStatus(status);
    ui->labelChannelType->setText(fields.channelType);
    ui->labelTlsCipherSuite->setText(fields.tlsCipherSuite);
    ui->labelDtlsCipherSuite->setText(fields.dtlsCipherSuite);
    ui->labelDTLSPort->setText(fields.dtlsPort);
    ui->labelServerAddress->setText(fields.serverAddress);
    ui->labelLocalAddress->setText(fields.localAddress);
    ui->labelVPNAddress->setText(fields.vpnAddress);
    ui->labelMTU->setText(fields.mtu);
    ui->labelDNS->setText(fields.dns);
    statusCard->setVpnAddress(fields.vpnAddress);

    // The routes are fixed for a session: take them from its first status.
    if (!ui->buttonDetails->isEnabled()) {
        flushPendingUp(fields.vpnAddress);
        ui->buttonDetails->setEnabled(true);
        if (detailDialog) {
            detailDialog->setRoutes(status.value(QLatin1String("SplitExclude")).toArray(),
                                    status.value(QLatin1String("SplitInclude")).toArray());
        }
    }
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
    if (!disconnectRequested) {
        const quint64 startedAt = generation;
        QTimer::singleShot(reconnectDelayMs, window, [this, startedAt] {
            if (stillPending(startedAt))
                connectVPN(true);
        });
    }
}

void SessionController::sessionUp()
{
    getVPNStatus();
    if (rpcClient)
        rpcClient->getEnabledAppSplitRules();
    ++generation;
    sessionStartedAt = connectionHistory.now();
    pendingUpEvent = comingUpByReconnect ? ConnectionHistory::reconnected : ConnectionHistory::connected;
    comingUpByReconnect = false;
    sessionConnected = true;
    disconnectRequested = false;
    // Connected image, "连接网关" disabled and "断开网关" enabled.
    if (tray)
        tray->trayConnected();
    ui->buttonConnect->setText(QCoreApplication::translate("Orvalin", "Disconnect"));
    setInputsEnabled(false);

    const QString host = currentProfile.value(QLatin1String("host")).toString();
    statusCard->setStatus(ConnectionStatusCard::Connected);
    statusCard->setServerText(host);
    if (tray)
        tray->closeToTrayIfWanted(host);

    // The profile that was sent, not whatever the selector shows by now.
    if (!currentProfileName.isEmpty()
        && configManager->config.value(QLatin1String("lastProfile")).toString() != currentProfileName) {
        configManager->config.insert(QStringLiteral("lastProfile"), currentProfileName);
        configManager->saveConfig();
    }
    statusTimer.start(statusPollMs);
}

void SessionController::sessionDown()
{
    flushPendingUp();
    sessionConnected = false;
    // Whatever was in flight has lost its session or its link.
    ui->progressBar->stop();
    // Not-connected image, empty tooltip, "连接网关" enabled, "断开网关" disabled.
    if (tray)
        tray->trayDisconnected();
    ui->buttonConnect->setText(QCoreApplication::translate("Orvalin", "Connect"));
    setInputsEnabled(true);
    statusCard->setStatus(ConnectionStatusCard::Disconnected);

    for (QLabel *label :
         {ui->labelChannelType, ui->labelTlsCipherSuite, ui->labelDtlsCipherSuite, ui->labelDTLSPort,
          ui->labelServerAddress, ui->labelLocalAddress, ui->labelVPNAddress, ui->labelMTU, ui->labelDNS})
        label->clear();

    ui->buttonDetails->setEnabled(false);
    if (detailDialog)
        detailDialog->clearDetails();
    ui->lineEditOTP->clear();
    statusTimer.stop();
}

void SessionController::setInputsEnabled(bool enabled)
{
    ui->comboBoxHost->setEnabled(enabled);
    ui->lineEditOTP->setEnabled(enabled);
    ui->buttonProfile->setEnabled(enabled);
    ui->tabSetting->setEnabled(enabled);
}

bool SessionController::stillPending(quint64 startedAt) const
{
    return startedAt == generation && !sessionConnected && !disconnectRequested;
}

void SessionController::scheduleAutomaticConnection(const QString &profileName)
{
    const quint64 startedAt = generation;
    QTimer::singleShot(automaticConnectionDelayMs, window, [this, profileName, startedAt] {
        if (!stillPending(startedAt))
            return;
        const QJsonObject &config = configManager->config;
        if (config.value(QLatin1String("autoLogin")).toBool(false)
            && config.value(QLatin1String("lastProfile")).toString() == profileName)
            connectVPN(false);
    });
}
