// Renders the main window offscreen for the README and for reviewing the form
// and the themes. Run with QT_QPA_PLATFORM=offscreen.
//
// Usage: orvalin-screenshots [--tabs] [--dark] [--themes] [--scale F] [output directory]
//   --tabs    every tab in English and in Chinese: <view>-en.png, <view>-zh_CN.png
//   --dark    the same tabs in the dark theme: <view>-en-dark.png, <view>-zh_CN-dark.png
//   --themes  light and dark: every tab, the Setting tab as a session greys it,
//             the status card in each state, the tray menu, the directory
//             tick list, the log viewer, the security tips and the
//             connection history:
//             theme-<light|dark>-<view>.png
//   --policy  an administrator's policy in force: the Setting tab with fixed
//             switches, the profile dialog on the policy's gateway, the
//             password prompt and the About tab, in English and Chinese,
//             light and dark: policy-<view>-<language>[-dark].png
//   --scale F the selected set at F times the size, as on a screen scaled to
//             F x 100% (QT_SCALE_FACTOR); the files end in -<F x 100>, for
//             example gateway-en-200.png for --scale 2
// Without a selection it renders --tabs, --themes and --policy. The default output
// directory is docs/screenshots.
//
// The window talks to a silent in-process agent, so the status line keeps its
// start-up text, and it runs on private settings, profiles and autostart
// directory, so the user's own stay out of the pictures. The software and
// routing rules tables show sample rows.

#include "appglobals.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "connectionstatuscard.h"
#include "abouttab.h"
#include "historydialog.h"
#include "appscanner.h"
#include "orvalin.h"
#include "passwordprompt.h"
#include "policy.h"
#include "profilemanager.h"
#include "routingrulestab.h"
#include "sessioncontroller.h"
#include "softwarepickdialog.h"
#include "softwaretab.h"
#include "textbrowser.h"
#include "traycontroller.h"
#include "windowplacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTranslator>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Saves grabs into the output directory and lists every file it writes.
class Shooter
{
public:
    Shooter(const QDir &dir, const QUrl &agentUrl, const QString &suffix, QTextStream &out)
        : dir(dir)
        , agentUrl(agentUrl)
        , suffix(suffix)
        , out(out)
    {
    }

    const QUrl &agent() const { return agentUrl; }

    bool save(QWidget *widget, const QString &fileName)
    {
        settle(100);
        const QString path = dir.filePath(fileName + suffix + QStringLiteral(".png"));
        if (!widget->grab().save(path))
            return false;
        out << path << '\n';
        return true;
    }

private:
    QDir dir;
    QUrl agentUrl;
    QString suffix;
    QTextStream &out;
};

QString pageName(const QWidget *page)
{
    QString name = page->objectName();
    if (name.startsWith(QLatin1String("tab")))
        name.remove(0, 3);
    return name.toLower();
}

SoftwareInfo sampleSoftware(const QString &name, const QString &version, const QString &publisher,
                            const QString &executable, const QString &signer, const QString &date)
{
    SoftwareInfo info;
    info.name = name;
    info.version = version;
    info.publisher = publisher;
    info.executablePath = executable;
    info.installPath = executable.section(QLatin1Char('/'), 0, -2);
    info.installDate = date;
    info.digitalSigner = signer;
    info.processName = executable.section(QLatin1Char('/'), -1);
    return info;
}

// Rows for the software and routing rules tables, as a scan and the agent
// would fill them; the status line keeps its start-up text.
void fillInventory(Orvalin &window)
{
    auto *software = window.software();
    auto *rules = window.findChild<RoutingRulesTab *>();
    auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
    if (!software || !rules || !statusBar)
        return;
    const QString status = statusBar->text();
    emit software->scanner()->scanFinished({
        sampleSoftware(QStringLiteral("Firefox"), QStringLiteral("128.5.1"), QStringLiteral("Mozilla"),
                       QStringLiteral("/usr/lib/firefox/firefox"), QStringLiteral("Mozilla Corporation"),
                       QStringLiteral("2024-11-26")),
        sampleSoftware(
            QStringLiteral("LibreOffice"), QStringLiteral("7.4.7"), QStringLiteral("The Document Foundation"),
            QStringLiteral("/usr/lib/libreoffice/program/soffice.bin"), QString(), QStringLiteral("2024-06-02")),
        sampleSoftware(QStringLiteral("OpenSSH client"), QStringLiteral("9.2p1"), QStringLiteral("Debian"),
                       QStringLiteral("/usr/bin/ssh"), QStringLiteral("Debian"), QStringLiteral("2025-01-14")),
        sampleSoftware(QStringLiteral("curl"), QStringLiteral("7.88.1"), QStringLiteral("Debian"),
                       QStringLiteral("/usr/bin/curl"), QStringLiteral("Debian"), QStringLiteral("2025-02-03")),
        sampleSoftware(QStringLiteral("fonts-noto-cjk"), QStringLiteral("20220127"), QStringLiteral("Debian"),
                       QString(), QString(), QStringLiteral("2023-09-18")),
    });
    auto rule = [](const char *name, const char *process, const char *signer) {
        return QJsonObject{{QStringLiteral("name"), QString::fromUtf8(name)},
                           {QStringLiteral("process_name"), QString::fromUtf8(process)},
                           {QStringLiteral("digital_signer"), QString::fromUtf8(signer)}};
    };
    rules->onAppSplitRulesReceived(QJsonArray{
        rule("办公邮件", "outlook.exe", "Microsoft Corporation"), rule("企业微信", "WXWork.exe", "Tencent Technology"),
        rule("代码仓库", "git.exe", "Johannes Schindelin"), rule("浏览器", "firefox.exe", "Mozilla Corporation")});
    statusBar->setText(status);
}

// A window as the user meets it: shown, with its deferred set-up (which
// applies the saved theme) done. The theme is read from the settings then.
std::unique_ptr<Orvalin> openWindow(const QString &theme, const QUrl &agentUrl)
{
    configManager->config.insert(QStringLiteral("theme"), theme);
    auto window = std::make_unique<Orvalin>();
    window->setAgentUrl(agentUrl);
    // The form's size whatever the screen: the offscreen one is 800 x 600,
    // too small for the window once scaled, where it would shrink to fit.
    window->setFixedSize(WindowPlacement::formSize);
    window->show();
    settle(400); // the deferred set-up runs 50 ms after the first show
    fillInventory(*window);
    return window;
}

// One picture per tab, the software tab once per inner tab: prefix + view + suffix.
bool shootTabs(Orvalin &window, const QString &prefix, const QString &suffix, Shooter &shooter)
{
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *inner = window.findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"));
    if (!tabs)
        return false;
    bool ok = true;
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QWidget *page = tabs->widget(i);
        if (inner && page->isAncestorOf(inner)) {
            for (int j = 0; j < inner->count(); ++j) {
                inner->setCurrentIndex(j);
                ok &= shooter.save(&window, prefix + pageName(inner->widget(j)) + suffix);
            }
            inner->setCurrentIndex(0);
        } else {
            ok &= shooter.save(&window, prefix + pageName(page) + suffix);
        }
    }
    tabs->setCurrentIndex(0);
    return ok;
}

// The connection history dialog over a day of sample sessions, seen at a
// fixed moment so the pictures do not change from run to run.
bool shootHistory(Orvalin &window, const QString &fileName, Shooter &shooter)
{
    auto *session = window.findChild<SessionController *>();
    if (!session)
        return false;
    ConnectionHistory &history = session->history();
    history.clear();
    const QDateTime now(QDate(2026, 3, 10), QTime(17, 30));
    QDateTime at;
    history.setClock([&at] { return at; });
    const QJsonObject office{{QStringLiteral("profile"), QStringLiteral("总部办公")},
                             {QStringLiteral("host"), QStringLiteral("vpn.example.com")}};
    auto record = [&](int minutesBefore, const QString &event, QJsonObject fields) {
        at = now.addSecs(-60 * minutesBefore);
        for (auto it = office.begin(); it != office.end(); ++it)
            fields.insert(it.key(), it.value());
        history.record(event, fields);
    };
    record(540, ConnectionHistory::connectRequested, {});
    record(540, ConnectionHistory::connected, {{QStringLiteral("address"), QStringLiteral("10.8.0.12")}});
    record(410, ConnectionHistory::lost,
           {{QStringLiteral("message"), QStringLiteral("网络中断")}, {QStringLiteral("duration"), 7800}});
    record(410, ConnectionHistory::reconnectSent, {});
    record(410, ConnectionHistory::reconnected, {{QStringLiteral("address"), QStringLiteral("10.8.0.12")}});
    record(300, ConnectionHistory::disconnected,
           {{QStringLiteral("message"), QStringLiteral("已断开")}, {QStringLiteral("duration"), 6600}});
    record(95, ConnectionHistory::connectRequested, {});
    record(95, ConnectionHistory::refused, {{QStringLiteral("message"), QStringLiteral("认证失败：用户名或密码错误")}});
    record(90, ConnectionHistory::connectRequested, {});
    record(90, ConnectionHistory::connected, {{QStringLiteral("address"), QStringLiteral("10.8.0.15")}});
    // The agent's service restarts and keeps the tunnel: the window links
    // again and takes the running session over.
    record(30, ConnectionHistory::linkLost, {{QStringLiteral("duration"), 3600}});
    at = now.addSecs(-60 * 30 + 4);
    history.record(ConnectionHistory::linkRestored);
    QJsonObject taken{{QStringLiteral("address"), QStringLiteral("10.8.0.15")}};
    for (auto it = office.begin(); it != office.end(); ++it)
        taken.insert(it.key(), it.value());
    history.record(ConnectionHistory::takenOver, taken);
    at = now;

    HistoryDialog dialog(&history, &window);
    dialog.show();
    const bool ok = shooter.save(&dialog, fileName);
    dialog.hide();
    history.setClock({});
    history.clear();
    return ok;
}

// Runs `shoot` in English and then with the Chinese catalogue installed. Its
// argument ends the files' names: "-<language>", and "-dark" in the dark
// theme. False when the catalogue cannot be loaded or a shot failed.
bool inEachLanguage(const QString &theme, const std::function<bool(const QString &suffix)> &shoot)
{
    bool ok = true;
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("zh_CN")}) {
        QTranslator translator;
        if (language != QLatin1String("en")) {
            if (!translator.load(QStringLiteral(":/i18n/orvalin_") + language + QStringLiteral(".qm")))
                return false;
            QCoreApplication::installTranslator(&translator);
        }
        ok &= shoot(QLatin1Char('-') + language
                    + (theme == QLatin1String("dark") ? QStringLiteral("-dark") : QString()));
        QCoreApplication::removeTranslator(&translator);
    }
    return ok;
}

// Every tab in English and with the Chinese catalogue installed.
bool shootLanguages(const QString &theme, Shooter &shooter)
{
    return inEachLanguage(theme, [&](const QString &suffix) {
        const std::unique_ptr<Orvalin> window = openWindow(theme, shooter.agent());
        bool ok = shootTabs(*window, QString(), suffix, shooter);
        ok &= shootHistory(*window, QStringLiteral("history") + suffix, shooter);
        return ok;
    });
}

bool shootStatusCard(Orvalin &window, const QString &prefix, Shooter &shooter)
{
    auto *card = window.findChild<ConnectionStatusCard *>();
    if (!card)
        return false;
    card->setServerText(QStringLiteral("vpn.example.com"));
    card->setVpnAddress(QStringLiteral("10.8.0.12"));
    card->setErrorText(QStringLiteral("认证失败：用户名或密码错误"));
    const QList<QPair<ConnectionStatusCard::Status, QString>> states{
        {ConnectionStatusCard::Disconnected, QStringLiteral("disconnected")},
        {ConnectionStatusCard::Connecting, QStringLiteral("connecting")},
        {ConnectionStatusCard::Connected, QStringLiteral("connected")},
        {ConnectionStatusCard::Error, QStringLiteral("error")},
    };
    bool ok = true;
    for (const auto &[status, name] : states) {
        card->setStatus(status);
        ok &= shooter.save(&window, prefix + QStringLiteral("card-") + name);
    }
    card->setStatus(ConnectionStatusCard::Disconnected);
    return ok;
}

bool shootTrayMenu(Orvalin &window, const QString &prefix, Shooter &shooter)
{
    auto *tray = window.findChild<TrayController *>();
    if (!tray || !tray->menu())
        return false;
    tray->trayConnected();
    QMenu *menu = tray->menu();
    menu->ensurePolished();
    menu->adjustSize();
    menu->show();
    const bool ok = shooter.save(menu, prefix + QStringLiteral("traymenu"));
    menu->hide();
    return ok;
}

// The tick list of a chosen directory with several executables.
bool shootSoftwarePick(Orvalin &window, const QString &prefix, Shooter &shooter)
{
    const QList<SoftwareInfo> found{
        sampleSoftware(QStringLiteral("soffice.bin"), QString(), QString(),
                       QStringLiteral("/usr/lib/libreoffice/program/soffice.bin"), QString(), QString()),
        sampleSoftware(QStringLiteral("oosplash"), QString(), QString(),
                       QStringLiteral("/usr/lib/libreoffice/program/oosplash"), QString(), QString()),
        sampleSoftware(QStringLiteral("senddoc"), QString(), QString(),
                       QStringLiteral("/usr/lib/libreoffice/program/senddoc"), QString(), QString()),
    };
    SoftwarePickDialog dialog(found, &window);
    dialog.checkBoxes().last()->setChecked(false);
    dialog.show();
    const bool ok = shooter.save(&dialog, prefix + QStringLiteral("softwarepick"));
    dialog.hide();
    return ok;
}

// The About tab's two readers: the agent's log (a short sample) and the
// security tips.
bool shootReaders(Orvalin &window, const QString &prefix, Shooter &shooter)
{
    QFile log(AboutTab::logFilePath());
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    log.write("2026-12-10 09:14:02.118 [INFO] configured by kestrum-sslvpn Secure Client 1.6.0\n"
              "2026-12-10 09:14:09.502 [INFO] connecting to vpn.example.com:443\n"
              "2026-12-10 09:14:10.037 [INFO] TLS established: TLS_AES_256_GCM_SHA384\n"
              "2026-12-10 09:14:10.412 [INFO] DTLS established on port 443\n"
              "2026-12-10 09:14:10.415 [INFO] tunnel up: vpn address 10.8.0.23, mtu 1399\n");
    log.close();

    AboutTab about(&window);
    // Each browser the tab opened is shown, saved and closed; one that did not
    // open fails the run.
    const auto shoot = [&](TextBrowser *opened, const QString &name) {
        const std::unique_ptr<TextBrowser> browser(opened);
        if (!browser)
            return false;
        browser->show();
        const bool saved = shooter.save(browser.get(), prefix + name);
        browser->hide();
        return saved;
    };
    const bool viewerSaved = shoot(about.openLogViewer(), QStringLiteral("logviewer"));
    const bool tipsSaved = shoot(about.openSecurityTips(QStringLiteral("en_US")), QStringLiteral("securitytips"));
    return viewerSaved && tipsSaved;
}

// The light and the dark theme: every tab, the Setting tab as a session
// greys it, the status card in each state and the tray menu.
bool shootThemes(Shooter &shooter)
{
    bool ok = true;
    for (const QString &theme : {QStringLiteral("light"), QStringLiteral("dark")}) {
        const QString prefix = QStringLiteral("theme-") + theme + QLatin1Char('-');
        const std::unique_ptr<Orvalin> window = openWindow(theme, shooter.agent());
        ok &= shootTabs(*window, prefix, QString(), shooter);

        auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        auto *setting = window->findChild<QWidget *>(QStringLiteral("tabSetting"));
        if (tabs && setting) {
            tabs->setCurrentWidget(setting);
            setting->setEnabled(false);
            ok &= shooter.save(window.get(), prefix + QStringLiteral("setting-disabled"));
            setting->setEnabled(true);
            tabs->setCurrentIndex(0);
        } else {
            ok = false;
        }

        ok &= shootStatusCard(*window, prefix, shooter);
        ok &= shootTrayMenu(*window, prefix, shooter);
        ok &= shootSoftwarePick(*window, prefix, shooter);
        ok &= shootReaders(*window, prefix, shooter);
        ok &= shootHistory(*window, prefix + QStringLiteral("history"), shooter);
    }
    return ok;
}

// A policy in force: what it fixes and provides, as the user meets it.
bool shootPolicy(Shooter &shooter)
{
    Policy::install(Policy::fromJson(R"({"allowSavePassword": false,
        "settings": {"block": true, "debug": false, "notifications": true, "minimize": true},
        "profiles": [{"name": "总部办公", "host": "vpn.example.com", "group": "staff"}]})",
                                     Policy::defaultLocation()));
    bool ok = true;
    for (const QString &theme : {QStringLiteral("light"), QStringLiteral("dark")}) {
        ok &= inEachLanguage(theme, [&](const QString &suffix) {
            const std::unique_ptr<Orvalin> window = openWindow(theme, shooter.agent());
            auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
            auto *profiles = window->findChild<ProfileManager *>();
            if (!tabs || !profiles)
                return false;
            bool shot = true;
            for (const char *page : {"tabSetting", "tabAbout"}) {
                tabs->setCurrentWidget(window->findChild<QWidget *>(QLatin1String(page)));
                shot
                    &= shooter.save(window.get(), QStringLiteral("policy-") + pageName(tabs->currentWidget()) + suffix);
            }
            profiles->show();
            profiles->findChild<QListView *>(QStringLiteral("listProfile"))->setCurrentIndex(profiles->model->index(0));
            shot &= shooter.save(profiles, QStringLiteral("policy-profile") + suffix);
            profiles->hide();
            PasswordPrompt prompt(QStringLiteral("总部办公"), window.get());
            prompt.show();
            shot &= shooter.save(&prompt, QStringLiteral("policy-password") + suffix);
            return shot;
        });
    }
    Policy::install(Policy());
    return ok;
}

} // namespace

// The scale has to be in the environment before the application starts, so
// it is read ahead of the parser (which then accepts and documents it).
// Returns 0 for a missing or unusable value.
double scaleArgument(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        QByteArray value;
        if (argument == "--scale" && i + 1 < argc)
            value = argv[i + 1];
        else if (argument.startsWith("--scale="))
            value = argument.mid(8);
        else
            continue;
        bool ok = false;
        const double scale = value.toDouble(&ok);
        return ok && scale >= 1.0 && scale <= 4.0 ? scale : 0.0;
    }
    return 1.0;
}

int main(int argc, char *argv[])
{
    const double scale = scaleArgument(argc, argv);
    if (scale == 0.0) {
        std::fprintf(stderr, "--scale takes a factor from 1 to 4, for example --scale 2\n");
        return 2;
    }
    if (scale != 1.0)
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvalin"));
    QApplication::setQuitOnLastWindowClosed(false);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the main window offscreen into PNG files."));
    parser.addHelpOption();
    const QCommandLineOption tabsOption(QStringLiteral("tabs"),
                                        QStringLiteral("Every tab in English and in Chinese (<view>-<language>.png)."));
    const QCommandLineOption darkOption(
        QStringLiteral("dark"), QStringLiteral("The same tabs in the dark theme (<view>-<language>-dark.png)."));
    const QCommandLineOption themesOption(
        QStringLiteral("themes"),
        QStringLiteral("Light and dark: tabs, status card states, tray menu (theme-<light|dark>-<view>.png)."));
    const QCommandLineOption scaleOption(
        QStringLiteral("scale"),
        QStringLiteral("Render at this scale factor (1 to 4); file names end in -<factor x 100>."),
        QStringLiteral("factor"));
    const QCommandLineOption policyOption(
        QStringLiteral("policy"),
        QStringLiteral("An administrator's policy in force (policy-<view>-<language>[-dark].png)."));
    parser.addOptions({tabsOption, darkOption, themesOption, policyOption, scaleOption});
    parser.addPositionalArgument(QStringLiteral("directory"),
                                 QStringLiteral("Output directory (default docs/screenshots)."),
                                 QStringLiteral("[directory]"));
    parser.process(app);
    if (parser.positionalArguments().size() > 1)
        parser.showHelp(2);

    const bool all = !parser.isSet(tabsOption) && !parser.isSet(darkOption) && !parser.isSet(themesOption)
                     && !parser.isSet(policyOption);
    const QDir dir(parser.positionalArguments().value(0, QStringLiteral("docs/screenshots")));
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "cannot create " << dir.path() << '\n';
        return 1;
    }

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
    const QString suffix = scale == 1.0 ? QString() : QStringLiteral("-%1").arg(qRound(scale * 100));
    Shooter shooter(dir, QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(agent.serverPort())), suffix, out);

    bool ok = true;
    if (all || parser.isSet(tabsOption))
        ok &= shootLanguages(QStringLiteral("light"), shooter);
    if (parser.isSet(darkOption))
        ok &= shootLanguages(QStringLiteral("dark"), shooter);
    if (all || parser.isSet(themesOption))
        ok &= shootThemes(shooter);
    if (all || parser.isSet(policyOption))
        ok &= shootPolicy(shooter);
    qDeleteAll(links);
    if (!ok)
        err << "some pictures could not be rendered\n";
    return ok ? 0 : 1;
}
