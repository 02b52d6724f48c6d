#include "fuzzsupport.h"

#include "appglobals.h"
#include "configmanager.h"
#include "errorsink.h"
#include "keychainclass.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>

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
    static QTemporaryDir root(QDir(QStringLiteral("/dev/shm")).exists()
                                  ? QStringLiteral("/dev/shm/orvalin-fuzz-XXXXXX")
                                  : QDir::tempPath() + QStringLiteral("/orvalin-fuzz-XXXXXX"));
    configLocation = root.path();
    tempLocation = root.path();
    QDir().mkpath(configLocation);
    configManager = new ConfigManager;
    setErrorSink([](const QString &) {});
}

void fuzzDrainEvents()
{
    // Credential jobs fail over the (unreachable) session bus from a worker
    // thread, so their ends can come a little later than one pass of the
    // loop; jobs left behind would pile up over millions of runs.
    QDeadlineTimer deadline(5000);
    do {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (KeyChainClass::jobsUnderWay() == 0)
            return;
        // The bus's worker thread posts the ends in a moment; sleeping even a
        // millisecond a pass costs ten times the runs.
        QThread::yieldCurrentThread();
    } while (!deadline.hasExpired());
    // Jobs that never end are a fault of their own.
    std::abort();
}
