#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// Who owns the socket the agent link talks to. Passwords go to whatever answers
// on the agent's port, so before anything is sent the client makes sure that
// the listener belongs to the system (where the agent runs as a service) or to
// the user running the client, and not to another local account.

struct ListeningSocket
{
    QHostAddress address;
    quint16 port = 0;
    qint64 uid = -1;
};

struct AgentOwnerVerdict
{
    bool trusted = false;
    // The owner as the warning names it: "uid 0", "SID S-1-5-18", or empty
    // when no listener was found at all.
    QString owner;
};

// The listening rows of /proc/net/tcp or /proc/net/tcp6 text. Rows in any
// other state and lines that do not parse are skipped.
QList<ListeningSocket> parseProcNetTcp(const QByteArray &text);

// True for the addresses a listener that answers on the loopback address is
// bound to: 127.0.0.1, the any addresses 0.0.0.0 and ::, ::1 and the mapped
// forms ::ffff:127.0.0.1 and ::ffff:0.0.0.0.
bool isAgentListenAddress(const QHostAddress &address);

// Trusted only when at least one listener on `port` is bound to an agent
// address and every such listener belongs to uid 0 or to `ownUid`. When
// several share the port, one foreign listener is enough to refuse.
AgentOwnerVerdict judgeListeners(const QList<ListeningSocket> &listeners, quint16 port, qint64 ownUid);

// Looks up the listener on the agent's port on this machine (platform code).
AgentOwnerVerdict checkAgentOwner(quint16 port);
