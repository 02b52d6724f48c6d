#include "scenario.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace {

bool readNumber(const QCommandLineParser &parser, const QString &name, int maximum, int &target, QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0 || value > maximum) {
        error = QStringLiteral("--%1 wants a whole number from 0 to %2").arg(name).arg(maximum);
        return false;
    }
    target = value;
    return true;
}

} // namespace

bool parseScenario(const QStringList &arguments, Scenario &scenario, int &exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated tunwarden agent: JSON-RPC 2.0 over a WebSocket on ws://127.0.0.1:<port>/rpc.\n"
                       "It pretends to run VPN sessions and keeps software reports in memory."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    parser.addOption(help);
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("Port on 127.0.0.1 (default 6210; 0 picks a free one, printed on stdout)."),
                      QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("refuse-connect"), QStringLiteral("Refuse every \"connect\" with MESSAGE."),
                      QStringLiteral("MESSAGE")});
    parser.addOption({QStringLiteral("refuse-reconnect"), QStringLiteral("Refuse every \"reconnect\".")});
    parser.addOption({QStringLiteral("password-file"),
                      QStringLiteral("Accept a \"connect\" only with the password (the stored password and the "
                                     "one-time password together) on the first line of FILE."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("lose-after"),
                      QStringLiteral("Lose each session SECONDS after it came up (push under id 6)."),
                      QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("end-after"),
                      QStringLiteral("End each session from the gateway SECONDS after it came up (push under id 3)."),
                      QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("drop-after"),
                      QStringLiteral("Drop each client's WebSocket link SECONDS after it opened."),
                      QStringLiteral("SECONDS")});
    parser.addOption(
        {QStringLiteral("restart-after"),
         QStringLiteral("Restart like a service SECONDS after start: close every link, stop listening for %1 s, "
                        "listen again. The session ends with it unless --keep-sessions.")
             .arg(restartPauseSeconds),
         QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("keep-sessions"),
                      QStringLiteral("Keep the session up across --restart-after, as a service restart that "
                                     "leaves the tunnel up does.")});
    parser.addOption(
        {QStringLiteral("delay"), QStringLiteral("Delay every reply by MS milliseconds."), QStringLiteral("MS")});

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        exitCode = 2;
        return false;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        exitCode = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "Unexpected argument: %s\n", qPrintable(parser.positionalArguments().first()));
        exitCode = 2;
        return false;
    }

    QString error;
    int port = scenario.port;
    const int day = 24 * 3600;
    if (!readNumber(parser, QStringLiteral("port"), 65535, port, error)
        || !readNumber(parser, QStringLiteral("lose-after"), day, scenario.loseAfterSeconds, error)
        || !readNumber(parser, QStringLiteral("end-after"), day, scenario.endAfterSeconds, error)
        || !readNumber(parser, QStringLiteral("drop-after"), day, scenario.dropAfterSeconds, error)
        || !readNumber(parser, QStringLiteral("restart-after"), day, scenario.restartAfterSeconds, error)
        || !readNumber(parser, QStringLiteral("delay"), 600000, scenario.delayMs, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        exitCode = 2;
        return false;
    }
    scenario.port = quint16(port);
    if (parser.isSet(QStringLiteral("password-file"))) {
        // From a file: on the command line every process could read it.
        QFile file(parser.value(QStringLiteral("password-file")));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "--password-file: %s\n", qPrintable(file.errorString()));
            exitCode = 2;
            return false;
        }
        scenario.password = QString::fromUtf8(file.readLine(4096)).remove(QLatin1Char('\n'));
    }
    if (parser.isSet(QStringLiteral("refuse-connect"))) {
        scenario.refuseConnectMessage = parser.value(QStringLiteral("refuse-connect"));
        if (scenario.refuseConnectMessage.isEmpty()) {
            std::fprintf(stderr, "--refuse-connect wants a message\n");
            exitCode = 2;
            return false;
        }
    }
    scenario.refuseReconnect = parser.isSet(QStringLiteral("refuse-reconnect"));
    scenario.keepSessions = parser.isSet(QStringLiteral("keep-sessions"));
    if (scenario.keepSessions && scenario.restartAfterSeconds == 0) {
        std::fprintf(stderr, "--keep-sessions goes with --restart-after\n");
        exitCode = 2;
        return false;
    }
    return true;
}
