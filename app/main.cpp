#include "appglobals.h"
#include "configmanager.h"
#include "errorsink.h"
#include "messageboxes.h"
#include "orvalin.h"
#include "translation.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

int main(int argc, char *argv[])
{
    qSetMessagePattern(QStringLiteral("%{type}:[%{file}:%{line}]  %{message}"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvalin"));
    configLocation = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    tempLocation = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    QDir().mkpath(configLocation);

    QApplication app(argc, argv);
    setErrorSink([](const QString &text) { MessageBoxes::showError(nullptr, text); });

    configManager = new ConfigManager;
    QTranslator translator;
    const bool loaded = configManager->loadConfig();
    installCatalogue(translator, loaded, configManager->config, QLocale());

    Orvalin window;
    window.show();
    QApplication::setQuitOnLastWindowClosed(false);
    return app.exec();
}
