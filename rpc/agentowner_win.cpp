#include "agentowner.h"

#include "win32api.h"

#include <QtEndian>

#include <vector>

namespace {

// The agent's service, whose process is trusted even where its token cannot be
// read by an ordinary user.
const wchar_t agentServiceName[] = L"tunwarden";

QHostAddress toHostAddress(const Win32::TcpListener &listener)
{
    if (listener.ipv6)
        return QHostAddress(listener.address.data());
    return QHostAddress(qFromBigEndian<quint32>(listener.address.data()));
}

AgentOwnerVerdict judgeProcess(unsigned long pid)
{
    const QString pidText = QStringLiteral("pid %1").arg(pid);
    const Win32::ProcessOwner owner = Win32::processOwner(pid);
    if (!owner.known) {
        // An ordinary user may not read a service's token; the agent's own
        // service process is known to the service manager.
        const bool service = pid != 0 && pid == Win32::runningServicePid(agentServiceName);
        return AgentOwnerVerdict{service, service ? QStringLiteral("service tunwarden (%1)").arg(pidText) : pidText};
    }
    return AgentOwnerVerdict{owner.trusted, QStringLiteral("SID %1").arg(QString::fromStdWString(owner.sid))};
}

} // namespace

AgentOwnerVerdict checkAgentOwner(quint16 port)
{
    std::vector<Win32::TcpListener> all;
    std::vector<Win32::TcpListener> v6;
    Win32::tcpListeners(false, all);
    Win32::tcpListeners(true, v6);
    all.insert(all.end(), v6.begin(), v6.end());

    AgentOwnerVerdict verdict;
    bool found = false;
    for (const Win32::TcpListener &listener : all) {
        if (listener.port != port || !isAgentListenAddress(toHostAddress(listener)))
            continue;
        const AgentOwnerVerdict one = judgeProcess(listener.pid);
        if (!one.trusted)
            return one;
        if (!found)
            verdict.owner = one.owner;
        found = true;
    }
    verdict.trusted = found;
    return verdict;
}
