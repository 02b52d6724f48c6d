#include "agentowner.h"

#include <QFile>

#include <unistd.h>

AgentOwnerVerdict checkAgentOwner(quint16 port)
{
    QList<ListeningSocket> listeners;
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(path));
        // A kernel without IPv6 has no tcp6 table; what is there still decides.
        if (file.open(QIODevice::ReadOnly))
            listeners += parseProcNetTcp(file.readAll());
    }
    return judgeListeners(listeners, port, qint64(::geteuid()));
}
