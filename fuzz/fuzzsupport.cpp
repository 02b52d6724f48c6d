#include "fuzzsupport.h"

#include "appglobals.h"
#include "configmanager.h"
#include "errorsink.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QTemporaryDir>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

void fuzzInitialise()
{
    static int argc = 1;
    static char name[] = "orvalin-fuzz";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    // No credential store is reachable: a job that is started fails at once
    // instead of waiting for (or starting) a desktop session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvalin-fuzz-bus");
    new QCoreApplication(argc, argv);
    qInstallMessageHandler(quiet);
    // Saves sync the file to disk; in memory that costs nothing.
    static QTemporaryDir root(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/orvalin-fuzz-XXXXXX")
                                                                      : QDir::tempPath() + QStringLiteral("/orvalin-fuzz-XXXXXX"));
    configLocation = root.path();
    tempLocation = root.path();
    QDir().mkpath(configLocation);
    configManager = new ConfigManager;
    setErrorSink([](const QString &) {});
}

void fuzzDrainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
