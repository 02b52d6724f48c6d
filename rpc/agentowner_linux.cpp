#include "agentowner.h"

#include <QFile>

#include <unistd.h>

AgentOwnerVerdict checkAgentOwner(const TcpEndpoint &agent, const TcpEndpoint &client)
{
    QList<TcpSocketRow> rows;
    // A dual-stack listener's accepted sockets are in the IPv6 table, with
    // the IPv4 addresses in mapped form.
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(path));
        // A kernel without IPv6 has no tcp6 table; what is there still decides.
        if (file.open(QIODevice::ReadOnly))
            rows += parseProcNetTcp(file.readAll());
    }
    return judgeConnection(rows, agent, client, qint64(::geteuid()));
}
