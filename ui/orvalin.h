#pragma once

#include <QUrl>
#include <QWidget>

#include <memory>

namespace Ui {
class Orvalin;
class SoftwareArea;
} // namespace Ui

class AboutTab;
class AgentLink;
class AgentLinkNotice;
class CommandHandler;
class ConnectionStatusCard;
class DetailDialog;
class JsonRpcWebSocketClient;
class ProfileManager;
class RoutingRulesTab;
class SessionController;
class SessionNotifier;
class SettingsTab;
class SoftwareTab;
class TrafficStatistics;
class TrayController;

// The main window: a frame that builds the form and hands each area (session,
// tray, settings, profiles) to the class that owns it.
class Orvalin : public QWidget
{
    Q_OBJECT

public:
    explicit Orvalin(QWidget *parent = nullptr);
    ~Orvalin() override;

    static QUrl defaultAgentUrl();
    // The product always talks to the default address; tests point a window
    // at their own server before it is first shown.
    void setAgentUrl(const QUrl &url);
    QUrl agentAddress() const;
    // Runs the commands of later starts of the program on this window.
    CommandHandler *commandHandler() const;
    // The "Statistics and Route Details" dialog, built the first time it is
    // asked for; none before the window's deferred set-up.
    DetailDialog *details();
    // The software tab's content (the inventory and the rules), built the
    // first time the tab is shown or asked for.
    SoftwareTab *software();

signals:
    void vpnConnected();
    void vpnClosed();

private slots:
    void configVPN();
    void connectVPN(bool reconnect = false);
    void disconnectVPN();
    void getVPNStatus();
    void on_buttonConnect_clicked();
    void on_buttonDetails_clicked();
    void on_buttonHistory_clicked();
    void on_buttonProfile_clicked();
    void on_buttonViewLog_clicked();
    void on_buttonSecurityTips_clicked();
    void on_buttonExportDiagnostics_clicked();
    void onThemeChanged(int theme);

private:
    void nameStatusValues();
    void afterShowOneTime();
    void onLinkUp();
    void onLinkDown(bool wasUp);
    void onProfileKeyRestored(const QString &profile);

    std::unique_ptr<Ui::Orvalin> ui;
    JsonRpcWebSocketClient *rpcClient = nullptr;
    AgentLink *agentLink = nullptr;
    AgentLinkNotice *linkNotice = nullptr;
    ProfileManager *profileManager = nullptr;
    QUrl agentUrl;
    bool initialised = false;
    TrayController *tray = nullptr;
    SettingsTab *settingsTab = nullptr;
    ConnectionStatusCard *statusCard = nullptr;
    DetailDialog *detailDialog = nullptr;
    TrafficStatistics *trafficStatistics = nullptr;
    SessionController *session = nullptr;
    SessionNotifier *notifier = nullptr;
    AboutTab *aboutTab = nullptr;
    // Owns the scanner (appScanner) and the records (softwareList).
    std::unique_ptr<Ui::SoftwareArea> softwareArea;
    SoftwareTab *softwareTab = nullptr;
    RoutingRulesTab *routingRulesTab = nullptr;
    CommandHandler *commands = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};
