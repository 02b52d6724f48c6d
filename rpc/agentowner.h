#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// Who owns the socket the agent link talks to. Passwords go to whatever
// accepted the link's connection, so before anything is sent over it the
// client makes sure that the agent's end of that very connection belongs to
// the system (where the agent runs as a service) or to the user running the
// client, and not to another local account. Listeners elsewhere on the port
// (on ::1, say, which this connection never reaches) play no part.

// One end of a TCP connection.
struct TcpEndpoint
{
    QHostAddress address;
    quint16 port = 0;
};

// A row of the kernel's TCP table.
struct TcpSocketRow
{
    TcpEndpoint local;
    TcpEndpoint remote;
    // The kernel's state number: 1 established, 10 listening.
    int state = 0;
    qint64 uid = -1;
};

struct AgentOwnerVerdict
{
    bool trusted = false;
    // The owner as the warning names it: "uid 0", "SID S-1-5-18", or empty
    // when the agent's end of the connection was not found at all.
    QString owner;
};

// The rows of /proc/net/tcp or /proc/net/tcp6 text. Lines that do not parse
// are skipped.
QList<TcpSocketRow> parseProcNetTcp(const QByteArray &text);

// Whether two addresses name the same host address, an IPv4 address and its
// IPv4-mapped IPv6 form included (a dual-stack socket reports the latter).
bool sameAddress(const QHostAddress &a, const QHostAddress &b);

// Judges the established socket whose local end is `agent` and whose remote
// end is `client`: that is the socket that accepted the client's connection.
// Trusted when it belongs to uid 0 or to `ownUid`; refused when it belongs to
// anyone else or cannot be found.
AgentOwnerVerdict judgeConnection(const QList<TcpSocketRow> &rows, const TcpEndpoint &agent, const TcpEndpoint &client,
                                  qint64 ownUid);

// Looks up the agent's end of the connection from `client` to `agent` on this
// machine (platform code).
AgentOwnerVerdict checkAgentOwner(const TcpEndpoint &agent, const TcpEndpoint &client);
