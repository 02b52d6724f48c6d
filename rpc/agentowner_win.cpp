#include "agentowner.h"

#include "win32api.h"

#include <QtEndian>

#include <array>
#include <vector>

namespace {

// The agent's service, whose process is trusted even where its token cannot be
// read by an ordinary user.
const wchar_t agentServiceName[] = L"tunwarden";

QHostAddress toHostAddress(bool ipv6, const std::array<unsigned char, 16> &address)
{
    if (ipv6)
        return QHostAddress(address.data());
    return QHostAddress(qFromBigEndian<quint32>(address.data()));
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

AgentOwnerVerdict checkAgentOwner(const TcpEndpoint &agent, const TcpEndpoint &client)
{
    std::vector<Win32::TcpRow> all;
    std::vector<Win32::TcpRow> v6;
    Win32::tcpSockets(false, all);
    Win32::tcpSockets(true, v6);
    all.insert(all.end(), v6.begin(), v6.end());

    // The socket that accepted this client's connection, and its process.
    for (const Win32::TcpRow &row : all) {
        if (row.state != Win32::tcpStateEstablished || row.localPort != agent.port || row.remotePort != client.port
            || !sameAddress(toHostAddress(row.ipv6, row.localAddress), agent.address)
            || !sameAddress(toHostAddress(row.ipv6, row.remoteAddress), client.address))
            continue;
        return judgeProcess(row.pid);
    }
    return AgentOwnerVerdict{};
}
