// Renders the main window offscreen in the light and the dark theme: every tab,
// the status card in each of its states, the Setting tab as a session greys it,
// and the tray menu.
// Usage: orvalin-themeshots [output directory]   (default docs/screenshots)
// Run with QT_QPA_PLATFORM=offscreen. Files are named theme-<light|dark>-<view>.png.

#include "appglobals.h"
#include "configmanager.h"
#include "connectionstatuscard.h"
#include "orvalin.h"
#include "thememanager.h"
#include "traycontroller.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class Shooter
{
public:
    Shooter(const QDir &dir, QTextStream &out)
        : dir(dir)
        , out(out)
    {
    }

    bool save(QWidget *widget, const QString &name)
    {
        settle(80);
        const QString path = dir.filePath(QStringLiteral("theme-") + name + QStringLiteral(".png"));
        if (!widget->grab().save(path))
            return false;
        out << path << '\n';
        return true;
    }

private:
    QDir dir;
    QTextStream &out;
};

QString pageName(const QWidget *page)
{
    QString name = page->objectName();
    if (name.startsWith(QLatin1String("tab")))
        name.remove(0, 3);
    return name.toLower();
}

bool renderTheme(const QString &mode, const QUrl &agentUrl, Shooter &shooter)
{
    configManager->config.insert(QStringLiteral("theme"), mode);
    bool ok = true;
    Orvalin window;
    window.setAgentUrl(agentUrl);
    window.show();
    settle(400); // the deferred set-up, which applies the theme, runs 50 ms after the first show

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *inner = window.findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"));
    for (int i = 0; tabs && i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QWidget *page = tabs->widget(i);
        if (inner && page->isAncestorOf(inner)) {
            for (int j = 0; j < inner->count(); ++j) {
                inner->setCurrentIndex(j);
                ok &= shooter.save(&window, mode + QLatin1Char('-') + pageName(inner->widget(j)));
            }
            inner->setCurrentIndex(0);
        } else {
            ok &= shooter.save(&window, mode + QLatin1Char('-') + pageName(page));
        }
    }

    // The Setting tab as it looks while a session is up.
    if (QWidget *setting = window.findChild<QWidget *>(QStringLiteral("tabSetting"))) {
        tabs->setCurrentWidget(setting);
        setting->setEnabled(false);
        ok &= shooter.save(&window, mode + QStringLiteral("-setting-disabled"));
        setting->setEnabled(true);
        tabs->setCurrentIndex(0);
    }

    if (auto *card = window.findChild<ConnectionStatusCard *>()) {
        card->setServerText(QStringLiteral("vpn.example.com"));
        card->setVpnAddress(QStringLiteral("10.8.0.12"));
        card->setErrorText(QStringLiteral("认证失败：用户名或密码错误"));
        const QList<QPair<ConnectionStatusCard::Status, QString>> states{
            {ConnectionStatusCard::Disconnected, QStringLiteral("disconnected")},
            {ConnectionStatusCard::Connecting, QStringLiteral("connecting")},
            {ConnectionStatusCard::Connected, QStringLiteral("connected")},
            {ConnectionStatusCard::Error, QStringLiteral("error")},
        };
        for (const auto &state : states) {
            card->setStatus(state.first);
            ok &= shooter.save(&window, mode + QStringLiteral("-card-") + state.second);
        }
        card->setStatus(ConnectionStatusCard::Disconnected);
    }

    if (auto *tray = window.findChild<TrayController *>(); tray && tray->menu()) {
        tray->trayConnected();
        QMenu *menu = tray->menu();
        menu->ensurePolished();
        menu->adjustSize();
        menu->show();
        ok &= shooter.save(menu, mode + QStringLiteral("-traymenu"));
        menu->hide();
    }
    window.hide();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvalin"));
    QApplication::setQuitOnLastWindowClosed(false);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QDir dir(QCoreApplication::arguments().value(1, QStringLiteral("docs/screenshots")));
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "cannot create " << dir.path() << '\n';
        return 1;
    }

    // Private settings, profiles and autostart directory: the user's own stay out of the pictures.
    QTemporaryDir sandbox;
    configLocation = sandbox.filePath(QStringLiteral("Orvalin"));
    tempLocation = sandbox.path();
    QDir().mkpath(configLocation);
    qputenv("XDG_CONFIG_HOME", sandbox.filePath(QStringLiteral("xdg")).toUtf8());
    configManager = new ConfigManager;
    configManager->loadConfig();

    QWebSocketServer agent(QStringLiteral("silent agent"), QWebSocketServer::NonSecureMode);
    if (!agent.listen(QHostAddress::LocalHost)) {
        err << "cannot listen for the window's agent link\n";
        return 1;
    }
    QList<QWebSocket *> links;
    QObject::connect(&agent, &QWebSocketServer::newConnection, [&] {
        while (QWebSocket *socket = agent.nextPendingConnection())
            links.append(socket);
    });
    const QUrl agentUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(agent.serverPort()));

    Shooter shooter(dir, out);
    bool ok = true;
    for (const QString &mode : {QStringLiteral("light"), QStringLiteral("dark")})
        ok &= renderTheme(mode, agentUrl, shooter);
    qDeleteAll(links);
    return ok ? 0 : 1;
}
