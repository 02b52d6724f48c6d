#include "orvalin.h"
#include "ui_orvalin.h"
#include "ui_softwarearea.h"

#include "abouttab.h"
#include "agentconfig.h"
#include "agentlink.h"
#include "agentlinknotice.h"
#include "appglobals.h"
#include "commandhandler.h"
#include "configmanager.h"
#include "connectionstatuscard.h"
#include "desktopnotice.h"
#include "detaildialog.h"
#include "historydialog.h"
#include "jsonrpcwebsocketclient.h"
#include "passwordprompt.h"
#include "policy.h"
#include "profilemanager.h"
#include "routingrulestab.h"
#include "sessioncontroller.h"
#include "sessionnotifier.h"
#include "settingstab.h"
#include "softwaretab.h"
#include "thememanager.h"
#include "trafficstatistics.h"
#include "traycontroller.h"
#include "valuelabelaccessible.h"
#include "windowforward.h"
#include "windowplacement.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QJsonArray>
#include <QJsonValue>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QSslSocket>
#include <QStyledItemDelegate>
#include <QScrollArea>
#include <QSysInfo>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Shows the profile named `name` in the host selector; false when there is none.
bool selectHost(QComboBox *hostSelector, const QString &name)
{
    const int row = hostSelector->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (row >= 0)
        hostSelector->setCurrentIndex(row);
    return row >= 0;
}
} // namespace

Orvalin::Orvalin(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Orvalin>())
    , agentUrl(defaultAgentUrl())
{
    // Set while the window is still empty: changing the flags re-parents the
    // widget, which styles every child again under the theme's sheet.
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    tray = new TrayController(this);
    // Made before the form so that its buttons come first in the Tab walk,
    // as the card sits above the tabs; the layout takes it in below.
    statusCard = new ConnectionStatusCard(this);
    ui->setupUi(this);
    // The theme's popup rules (item padding, accent selection) reach a combo
    // box's list only through a styled delegate.
    for (QComboBox *combo : findChildren<QComboBox *>())
        combo->setItemDelegate(new QStyledItemDelegate(combo));
    nameStatusValues();
    setWindowTitle(tr("Kestrum SSLVPN Client") + QStringLiteral(" v") + appVersion);
    setWindowIcon(QIcon(QStringLiteral(":/assets/orvalin64.png")));
    const qreal ratio = devicePixelRatioF();
    const QRect screenRect = screen() ? screen()->geometry() : QRect();
    const QRect usableRect = screen() ? screen()->availableGeometry() : QRect();
    const WindowPlacement placement
        = WindowPlacement::compute(ratio, QSysInfo::kernelType(), screenRect, usableRect, frameGeometry());
    if (placement.fixedSize) {
        setFixedSize(placement.size);
    } else {
        setMinimumSize(WindowPlacement::minimumSize.boundedTo(placement.size));
        resize(placement.size);
    }
    move(placement.position);
    if (auto *mainLayout = qobject_cast<QVBoxLayout *>(layout()))
        mainLayout->insertWidget(0, statusCard);
    connect(statusCard, &ConnectionStatusCard::disconnectClicked, this, &Orvalin::disconnectVPN);
    connect(statusCard, &ConnectionStatusCard::retryClicked, this, [this] { connectVPN(false); });
    connect(statusCard, &ConnectionStatusCard::detailsClicked, this, &Orvalin::on_buttonDetails_clicked);
    session = new SessionController(this, ui.get(), statusCard);
    session->setTray(tray);
    tray->setSessionQuery([this] { return session->isSessionConnected(); });
    session->wireOneTimePasswordField();
    if (!Policy::current().allowSavePassword())
        session->setPasswordPrompt([this](const QString &profile) { return PasswordPrompt::ask(this, profile); });
    aboutTab = new AboutTab(this);
    aboutTab->setSession(session);
    aboutTab->setStatusLine(ui->statusBar);
    AboutTab::showPolicy(ui->labelPolicy, Policy::current());
    profileManager = new ProfileManager(this);
    session->setProfileManager(profileManager);
    connect(profileManager, &ProfileManager::credentialStoreUnavailable, this,
            [this] { ui->statusBar->setText(QStringLiteral("系统密钥环不可用，密码仅在本次运行期间保留")); });
    // The software tab's content is built when it is first shown.
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this] {
        if (ui->tabWidget->currentWidget() == ui->tabSoftwareManagement)
            software();
    });
    if (profileManager->loadProfile()) {
        profileManager->updateModel();
        ui->comboBoxHost->setModel(profileManager->model);
        const QString lastProfile = configManager->config.value(QStringLiteral("lastProfile")).toString();
        if (lastProfile.isEmpty() || !selectHost(ui->comboBoxHost, lastProfile))
            ui->comboBoxHost->setCurrentIndex(0);
        // Save and Delete in the dialog reset the shared list, which moves the
        // selector to the first name; the host the user picked stays picked
        // while it exists.
        auto picked = std::make_shared<QString>();
        connect(profileManager->model, &QAbstractItemModel::modelAboutToBeReset, this,
                [this, picked] { *picked = ui->comboBoxHost->currentText(); });
        connect(profileManager->model, &QAbstractItemModel::modelReset, this,
                [this, picked] { selectHost(ui->comboBoxHost, *picked); });
        connect(profileManager, &ProfileManager::keyRestored, this, &Orvalin::onProfileKeyRestored);
    }
    // Before the passwords come back from the credential store: a command
    // for a profile waits for its password.
    commands = new CommandHandler(this, ui.get(), session, profileManager);
}

Orvalin::~Orvalin()
{
    // Scans still running must not reach a window that is going.
    if (softwareTab)
        softwareTab->shutDown();
}

void Orvalin::nameStatusValues()
{
    // A value label's own text is all a screen reader would read, and it is
    // empty until the first status: each takes its title as its name, in the
    // interface language, its value as its description, and the title points
    // at it.
    for (QLabel *title : ui->tabStatus->findChildren<QLabel *>()) {
        const QString titleName = title->objectName();
        if (!titleName.endsWith(QLatin1String("Title")))
            continue;
        auto *value = ui->tabStatus->findChild<QLabel *>(titleName.chopped(5));
        if (!value)
            continue;
        QString name = title->text();
        while (name.endsWith(QLatin1Char(':')) || name.endsWith(QChar(0xFF1A)))
            name.chop(1);
        // Marked first: naming it may already create its interface.
        ValueLabelAccessible::mark(value);
        value->setAccessibleName(name);
        title->setBuddy(value);
    }
}

QUrl Orvalin::defaultAgentUrl()
{
    return QUrl(QStringLiteral("ws://127.0.0.1:6210/rpc"));
}

void Orvalin::setAgentUrl(const QUrl &url)
{
    agentUrl = url;
}

QUrl Orvalin::agentAddress() const
{
    return agentUrl;
}

CommandHandler *Orvalin::commandHandler() const
{
    return commands;
}

void Orvalin::showEvent(QShowEvent *event)
{
    // The deferred set-up runs once, 50 ms after the first show; the flag also
    // covers two show events arriving before the timer fires.
    if (!initialised) {
        initialised = true;
        QTimer::singleShot(50, this, &Orvalin::afterShowOneTime);
        // The WebSocket loads the TLS backend when it is created; doing that
        // while the window waits for its deferred set-up keeps it off the
        // path to the agent.
        QTimer::singleShot(0, this, [] { QSslSocket::supportsSsl(); });
    }
    event->accept();
}

void Orvalin::closeEvent(QCloseEvent *event)
{
    tray->handleClose(event);
}

void Orvalin::onThemeChanged(int theme)
{
    ThemeManager::instance()->setTheme(theme == ThemeManager::Dark ? ThemeManager::Dark : ThemeManager::Light);
}

void Orvalin::afterShowOneTime()
{
    tray->setUp(ui->checkBoxMinimize);
    connect(tray, &TrayController::connectRequested, this, &Orvalin::connectVPN);
    connect(tray, &TrayController::disconnectRequested, this, &Orvalin::disconnectVPN);
    settingsTab = new SettingsTab(ui.get(), this);
    settingsTab->setConfigureAgent([this] { configVPN(); });
    settingsTab->initialise();
    profileManager->initConnections();
    trafficStatistics = new TrafficStatistics(this);
    commands->setStatistics(trafficStatistics);
    session->wireStatusTimer();
    session->wireSessionSignals();
    // Desktop notices of the session while the window is hidden or minimised.
    auto *notice = new DesktopNotice(tray, this);
    connect(notice, &DesktopNotice::activated, this, [this] { bringWindowForward(this); });
    notifier = new SessionNotifier(this, notice, this);
    notifier->setSecretsSource([this] { return session->heldSecrets(); });
    connect(session, &SessionController::eventRecorded, notifier, &SessionNotifier::onSessionEvent);
    // The session is not left running behind a program that has gone; nothing
    // waits for the agent's answer.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (session->isSessionConnected())
            disconnectVPN();
    });
    // One client for the window's life, whose socket the link reopens: the
    // other areas keep its pointer and the push handlers stay registered.
    rpcClient = new JsonRpcWebSocketClient(this);
    agentLink = new AgentLink(rpcClient, this);
    linkNotice = new AgentLinkNotice(agentLink, ui->statusBar, this);
    connect(agentLink, &AgentLink::linkUp, this, &Orvalin::onLinkUp);
    connect(agentLink, &AgentLink::linkDown, this, &Orvalin::onLinkDown);
    connect(agentLink, &AgentLink::reopened, this, &Orvalin::configVPN);
    session->setClient(rpcClient);
    session->setLink(agentLink);
    trafficStatistics->setClient(rpcClient);
    if (softwareTab) {
        softwareTab->setClient(rpcClient);
        routingRulesTab->setClient(rpcClient);
    } else {
        // The rules come after every connection; they fill the rules table
        // and the status line whether or not the tab was opened yet.
        connect(rpcClient, &JsonRpcWebSocketClient::appSplitRulesReceived, this, [this](const QJsonArray &rules) {
            if (!routingRulesTab) {
                software();
                routingRulesTab->onAppSplitRulesReceived(rules);
            }
        });
    }
    session->registerPushHandlers();
    agentLink->open(agentUrl);
}

void Orvalin::configVPN()
{
    if (!rpcClient || !rpcClient->isConnected())
        return;
    const AgentSwitches switches{ui->checkBoxDebug->isChecked(), ui->checkBoxBlock->isChecked(),
                                 ui->checkBoxCiscoCompat->isChecked(), ui->checkBoxDtls->isChecked()};
    rpcClient->sendRequest(QStringLiteral("config"), 1, buildAgentConfig(switches, tempLocation),
                           [this](const QJsonValue &reply) { ui->statusBar->setText(reply.toString()); });
}

void Orvalin::onLinkUp()
{
    if (agentLink->restoredCount() > 0) {
        session->linkRestored();
        if (notifier)
            notifier->onAgentBack();
    }
    ui->buttonConnect->setEnabled(true);
    configVPN();
    // After "config": does the agent already run a session?
    session->probeAgentSession();
}

void Orvalin::onLinkDown(bool wasUp)
{
    session->linkLost(wasUp);
    if (notifier)
        notifier->onAgentLost();
    // The fixed text (or the identity refusal) with the next try; the link
    // tries again by itself.
    linkNotice->show();
    ui->buttonConnect->setEnabled(false);
    emit vpnClosed();
    showWindowAgain(this);
}

void Orvalin::on_buttonProfile_clicked()
{
    profileManager->exec();
}

void Orvalin::on_buttonViewLog_clicked()
{
    aboutTab->viewLog();
}

void Orvalin::on_buttonSecurityTips_clicked()
{
    aboutTab->showSecurityTips();
}

void Orvalin::on_buttonExportDiagnostics_clicked()
{
    aboutTab->exportDiagnostics();
}

void Orvalin::onProfileKeyRestored(const QString &profile)
{
    session->scheduleAutomaticConnection(profile);
}

void Orvalin::connectVPN(bool reconnect)
{
    session->connectVPN(reconnect);
}

void Orvalin::disconnectVPN()
{
    session->disconnectVPN();
}

void Orvalin::getVPNStatus()
{
    session->getVPNStatus();
}

void Orvalin::on_buttonConnect_clicked()
{
    session->toggleConnection();
}

void Orvalin::on_buttonDetails_clicked()
{
    if (DetailDialog *dialog = details())
        dialog->exec();
}

DetailDialog *Orvalin::details()
{
    // Built on first use: the first screen does not show it.
    if (!detailDialog && trafficStatistics) {
        detailDialog = new DetailDialog(this, trafficStatistics);
        session->setDetailDialog(detailDialog);
    }
    return detailDialog;
}

void Orvalin::on_buttonHistory_clicked()
{
    HistoryDialog dialog(&session->history(), this);
    dialog.exec();
}

SoftwareTab *Orvalin::software()
{
    if (softwareTab)
        return softwareTab;
    // Two tables and their buttons that the first screen does not show.
    softwareArea = std::make_unique<Ui::SoftwareArea>();
    auto *area = new QScrollArea(ui->tabSoftwareManagement);
    softwareArea->setupUi(area);
    ui->tabSoftwareManagement->layout()->addWidget(area);
    softwareTab = new SoftwareTab(softwareArea.get(), ui->statusBar, this, this);
    routingRulesTab = new RoutingRulesTab(softwareArea.get(), ui->statusBar, this);
    connect(softwareArea->btnScanSoftware, &QAbstractButton::clicked, softwareTab,
            &SoftwareTab::on_btnScanSoftware_clicked);
    connect(softwareArea->btnSelectDirectory, &QAbstractButton::clicked, softwareTab,
            &SoftwareTab::on_btnSelectDirectory_clicked);
    connect(softwareArea->btnScanProcesses, &QAbstractButton::clicked, softwareTab,
            &SoftwareTab::on_btnScanProcesses_clicked);
    connect(softwareArea->btnReportSoftware, &QAbstractButton::clicked, softwareTab,
            &SoftwareTab::on_btnReportSoftware_clicked);
    connect(softwareArea->btnMyReports, &QAbstractButton::clicked, softwareTab, &SoftwareTab::on_btnMyReports_clicked);
    if (rpcClient) {
        softwareTab->setClient(rpcClient);
        routingRulesTab->setClient(rpcClient);
    }
    return softwareTab;
}
