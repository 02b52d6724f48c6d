#pragma once

#include <QString>
#include <QStringList>

// How the simulated agent behaves, chosen on the command line.
struct Scenario
{
    quint16 port = 6210;
    QString refuseConnectMessage; // non-empty: every "connect" is refused with it
    QString password;             // not null: a "connect" with another password is refused
    bool refuseReconnect = false;
    int loseAfterSeconds = 0;    // 0: sessions are never lost
    int endAfterSeconds = 0;     // 0: the gateway never ends a session
    int dropAfterSeconds = 0;    // 0: client links are never dropped
    int restartAfterSeconds = 0; // 0: the service never restarts
    bool keepSessions = false;   // a restart leaves the session up
    int delayMs = 0;             // added before every reply
};

// How long a restart (--restart-after) leaves the port closed.
constexpr int restartPauseSeconds = 3;

// Parses the arguments; on --help or a bad option prints to stdout/stderr and
// returns false with exitCode set.
bool parseScenario(const QStringList &arguments, Scenario &scenario, int &exitCode);
