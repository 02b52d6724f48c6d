#include "appglobals.h"
#include "commandchannel.h"
#include "commandhandler.h"
#include "commandstart.h"
#include "configmanager.h"
#include "consoleio.h"
#include "errorsink.h"
#include "keychainclass.h"
#include "leftoversavefiles.h"
#include "messageboxes.h"
#include "orvalin.h"
#include "policy.h"
#include "settingstab.h"
#include "singleapplication.h"
#include "thememanager.h"
#include "translation.h"
#include "windowforward.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

int main(int argc, char *argv[])
{
    const QDateTime startedAt = QDateTime::currentDateTime();
    qSetMessagePattern(logMessagePattern);
    QCoreApplication::setApplicationName(QStringLiteral("Orvalin"));
    configLocation = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    tempLocation = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    // Help, a usage error or a command for the running client end here; a
    // plain start, or --connect with no client running, goes on.
    CommandStart commandStart(ConsoleIo::arguments(argc, argv));
    if (const std::optional<int> status = commandStart.runWithoutWindow(argc, argv))
        return *status;
    QDir().mkpath(configLocation);

    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVALIN_APP_ID));
    // A second start by the same user ends in here and brings the running
    // window forward (or, with --connect, hands over its command).
    SingleApplication app(argc, argv, false, SingleApplication::ScopeUser, 1000, QString(),
                          commandStart.secondaryStart());
    setErrorSink([](const QString &text) { MessageBoxes::showError(nullptr, text); });
    // Past the single-instance guard, no other instance writes these files:
    // a save copy from before this start was left by a save cut short.
    LeftoverSaveFiles::remove(configLocation, LeftoverSaveFiles::storeFileNames(), startedAt);

    configManager = new ConfigManager;
    Policy::install(Policy::read());
    QTranslator translator;
    const bool loaded = configManager->loadConfig();
    installCatalogue(translator, loaded, configManager->config, QLocale());

    // The saved theme is in force before the window is built, so its widgets
    // are styled once; the Setting tab later finds it already applied.
    const QString theme = configManager->config.value(QStringLiteral("theme")).toString();
    ThemeManager::instance()->setTheme(ThemeManager::Theme(SettingsTab::themeIndex(theme)));

    Orvalin window;
    window.show();
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &SingleApplication::instanceStarted, &window, [&window] { bringWindowForward(&window); });
    QObject::connect(&app, &SingleApplication::commandReceived, window.commandHandler(), &CommandHandler::takeCommand);
    commandStart.runLocally(window.commandHandler());
    const int code = app.exec();
    // A credential written just before quitting (or moving out of the profile
    // file) lands in the store, and the file lets go of its copy, before the
    // process ends; a store that hangs does not keep it from ending.
    KeyChainClass::waitForJobs(3000);
    return code;
}
