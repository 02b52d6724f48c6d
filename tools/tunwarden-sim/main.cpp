#include "agentservice.h"
#include "rpcserver.h"
#include "scenario.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int)
{
    stopRequested = 1;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tunwarden-sim"));

    Scenario scenario;
    int exitCode = 0;
    if (!parseScenario(QCoreApplication::arguments(), scenario, exitCode))
        return exitCode;

    AgentService service(scenario);
    RpcServer server(&service, scenario.delayMs, scenario.dropAfterSeconds);
    if (!server.listen(scenario.port)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u: %s\n", unsigned(scenario.port),
                     qPrintable(server.errorString()));
        return 1;
    }
    // Tests that ask for port 0 read the chosen port from this line.
    std::printf("listening on 127.0.0.1:%u\n", unsigned(server.port()));
    std::fflush(stdout);
    if (scenario.restartAfterSeconds > 0) {
        QTimer::singleShot(scenario.restartAfterSeconds * 1000, &server,
                           [&server, &scenario] { server.restart(restartPauseSeconds, scenario.keepSessions); });
    }

    // Stopping like a service does: every client gets a close frame before the
    // process ends. The handler only sets a flag; the loop looks at it.
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [&server, &stopWatch] {
        if (!stopRequested)
            return;
        stopWatch.stop();
        server.closeAll();
        QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    });
    stopWatch.start(100);
    return app.exec();
}
