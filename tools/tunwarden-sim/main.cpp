#include "agentservice.h"
#include "rpcserver.h"
#include "scenario.h"

#include <QCoreApplication>

#include <cstdio>

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
    return app.exec();
}
