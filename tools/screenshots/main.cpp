// Renders the main window offscreen, one PNG per tab, in English and in Chinese.
// Usage: orvalin-screenshots [output directory] [--dark]
// Run with QT_QPA_PLATFORM=offscreen; the default output is docs/screenshots.
// The window talks to a silent in-process agent, so the status line keeps its
// start-up text and the settings and theme are applied as in a real start.

#include "appglobals.h"
#include "configmanager.h"
#include "orvalin.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonObject>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTranslator>
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

QString pageName(const QWidget *page)
{
    QString name = page->objectName();
    if (name.startsWith(QLatin1String("tab")))
        name.remove(0, 3);
    return name.toLower();
}

bool save(QWidget &window, const QDir &dir, const QString &name, QTextStream &out)
{
    settle(100);
    const QString path = dir.filePath(name);
    if (!window.grab().save(path))
        return false;
    out << path << '\n';
    return true;
}

bool renderLanguage(const QString &language, const QString &suffix, const QUrl &agentUrl, const QDir &dir,
                    QTextStream &out)
{
    QTranslator translator;
    if (language != QLatin1String("en")) {
        if (!translator.load(QStringLiteral(":/i18n/orvalin_") + language + QStringLiteral(".qm")))
            return false;
        QCoreApplication::installTranslator(&translator);
    }

    const QString variant = QLatin1Char('-') + suffix + QStringLiteral(".png");
    bool ok = true;
    {
        Orvalin window;
        window.setAgentUrl(agentUrl);
        window.show();
        settle(400); // the deferred set-up runs 50 ms after the first show

        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        auto *inner = window.findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"));
        for (int i = 0; tabs && i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QWidget *page = tabs->widget(i);
            if (inner && page->isAncestorOf(inner)) {
                for (int j = 0; j < inner->count(); ++j) {
                    inner->setCurrentIndex(j);
                    ok &= save(window, dir, pageName(inner->widget(j)) + variant, out);
                }
                inner->setCurrentIndex(0);
            } else {
                ok &= save(window, dir, pageName(page) + variant, out);
            }
        }
        window.hide();
    }
    QCoreApplication::removeTranslator(&translator);
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

    QStringList args = QCoreApplication::arguments().mid(1);
    const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
    const QDir dir(args.value(0, QStringLiteral("docs/screenshots")));
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "cannot create " << dir.path() << '\n';
        return 1;
    }

    // A private settings directory keeps the user's own settings and profiles out of the pictures.
    QTemporaryDir sandbox;
    configLocation = sandbox.filePath(QStringLiteral("Orvalin"));
    tempLocation = sandbox.path();
    QDir().mkpath(configLocation);
    configManager = new ConfigManager;
    configManager->loadConfig();
    if (dark) {
        configManager->config.insert(QStringLiteral("theme"), QStringLiteral("dark"));
        configManager->saveConfig();
    }

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

    bool ok = true;
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("zh_CN")}) {
        if (!renderLanguage(language, dark ? language + QStringLiteral("-dark") : language, agentUrl, dir, out)) {
            err << "rendering failed for " << language << '\n';
            ok = false;
        }
    }
    qDeleteAll(links);
    return ok ? 0 : 1;
}
