#pragma once

#include <QUrl>
#include <QWidget>

#include <memory>

namespace Ui {
class Orvalin;
}

class AboutTab;
class ConnectionStatusCard;
class DetailDialog;
class JsonRpcWebSocketClient;
class ProfileManager;
class SessionController;
class SettingsTab;
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
    void on_buttonProfile_clicked();
    void on_buttonViewLog_clicked();
    void on_buttonSecurityTips_clicked();
    void onThemeChanged(int theme);

private:
    void afterShowOneTime();
    void onLinkFailed();
    void onProfileKeyRestored(const QString &profile);

    std::unique_ptr<Ui::Orvalin> ui;
    JsonRpcWebSocketClient *rpcClient = nullptr;
    ProfileManager *profileManager = nullptr;
    QUrl agentUrl;
    bool initialised = false;
    TrayController *tray = nullptr;
    SettingsTab *settingsTab = nullptr;
    ConnectionStatusCard *statusCard = nullptr;
    DetailDialog *detailDialog = nullptr;
    SessionController *session = nullptr;
    AboutTab *aboutTab = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};
