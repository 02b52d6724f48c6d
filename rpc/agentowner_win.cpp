#include "agentowner.h"

#include <QList>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
// clang-format on

#include <vector>

namespace {

// The agent's service, whose process is trusted even where its token cannot be
// read by an ordinary user.
const wchar_t agentServiceName[] = L"tunwarden";

struct Listener
{
    QHostAddress address;
    quint16 port = 0;
    DWORD pid = 0;
};

QList<Listener> listeners(ULONG family)
{
    QList<Listener> result;
    DWORD size = 0;
    std::vector<char> buffer;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    // The table can grow between the sizing call and the real one.
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size ? size : 1);
        status = GetExtendedTcpTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (status != NO_ERROR)
        return result;
    if (family == AF_INET) {
        const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID &row = table->table[i];
            result.append({QHostAddress(ntohl(row.dwLocalAddr)), ntohs(u_short(row.dwLocalPort)), row.dwOwningPid});
        }
    } else {
        const auto *table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID &row = table->table[i];
            result.append({QHostAddress(row.ucLocalAddr), ntohs(u_short(row.dwLocalPort)), row.dwOwningPid});
        }
    }
    return result;
}

// The token user of a process, or an empty buffer when it cannot be read.
std::vector<char> tokenUser(HANDLE process)
{
    std::vector<char> user;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return user;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size) {
        user.resize(size);
        if (!GetTokenInformation(token, TokenUser, user.data(), size, &size))
            user.clear();
    }
    CloseHandle(token);
    return user;
}

QString sidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return QString();
    const QString result = QString::fromWCharArray(text);
    LocalFree(text);
    return result;
}

DWORD agentServicePid()
{
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    if (SC_HANDLE service = OpenServiceW(manager, agentServiceName, SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status,
                                 &needed)
            && status.dwCurrentState == SERVICE_RUNNING)
            pid = status.dwProcessId;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return pid;
}

// LocalSystem, LocalService, NetworkService, or the user running the client.
bool trustedSid(PSID sid, PSID ownSid)
{
    for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
        if (IsWellKnownSid(sid, type))
            return true;
    }
    return ownSid && EqualSid(sid, ownSid);
}

AgentOwnerVerdict judgeProcess(DWORD pid, PSID ownSid)
{
    const QString pidText = QStringLiteral("pid %1").arg(pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    std::vector<char> user;
    if (process) {
        user = tokenUser(process);
        CloseHandle(process);
    }
    if (user.empty()) {
        // An ordinary user may not read a service's token; the agent's own
        // service process is known to the service manager.
        const bool service = pid != 0 && pid == agentServicePid();
        return AgentOwnerVerdict{service, service ? QStringLiteral("service tunwarden (%1)").arg(pidText) : pidText};
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER *>(user.data())->User.Sid;
    return AgentOwnerVerdict{trustedSid(sid, ownSid), QStringLiteral("SID %1").arg(sidText(sid))};
}

} // namespace

AgentOwnerVerdict checkAgentOwner(quint16 port)
{
    QList<Listener> all = listeners(AF_INET);
    all += listeners(AF_INET6);
    std::vector<char> own;
    own = tokenUser(GetCurrentProcess());
    const PSID ownSid = own.empty() ? nullptr : reinterpret_cast<const TOKEN_USER *>(own.data())->User.Sid;

    AgentOwnerVerdict verdict;
    bool found = false;
    for (const Listener &listener : std::as_const(all)) {
        if (listener.port != port || !isAgentListenAddress(listener.address))
            continue;
        const AgentOwnerVerdict one = judgeProcess(listener.pid, ownSid);
        if (!one.trusted)
            return one;
        if (!found)
            verdict.owner = one.owner;
        found = true;
    }
    verdict.trusted = found;
    return verdict;
}
