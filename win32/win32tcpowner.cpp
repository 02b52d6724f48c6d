#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
// clang-format on

#include <cstring>

namespace Win32 {

namespace {

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

std::wstring sidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    std::wstring result(text);
    LocalFree(text);
    return result;
}

} // namespace

bool tcpSockets(bool ipv6, std::vector<TcpRow> &rows)
{
    rows.clear();
    const ULONG family = ipv6 ? AF_INET6 : AF_INET;
    DWORD size = 0;
    std::vector<char> buffer;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    // The table can grow between the sizing call and the real one.
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size ? size : 1);
        status = GetExtendedTcpTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    if (status != NO_ERROR)
        return false;
    if (!ipv6) {
        const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID &entry = table->table[i];
            TcpRow row;
            // The addresses are in network order, as in_addr holds them.
            std::memcpy(row.localAddress.data(), &entry.dwLocalAddr, 4);
            std::memcpy(row.remoteAddress.data(), &entry.dwRemoteAddr, 4);
            row.localPort = ntohs(u_short(entry.dwLocalPort));
            row.remotePort = ntohs(u_short(entry.dwRemotePort));
            row.state = entry.dwState;
            row.pid = entry.dwOwningPid;
            rows.push_back(row);
        }
    } else {
        const auto *table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID *>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID &entry = table->table[i];
            TcpRow row;
            row.ipv6 = true;
            std::memcpy(row.localAddress.data(), entry.ucLocalAddr, 16);
            std::memcpy(row.remoteAddress.data(), entry.ucRemoteAddr, 16);
            row.localPort = ntohs(u_short(entry.dwLocalPort));
            row.remotePort = ntohs(u_short(entry.dwRemotePort));
            row.state = entry.dwState;
            row.pid = entry.dwOwningPid;
            rows.push_back(row);
        }
    }
    return true;
}

ProcessOwner processOwner(unsigned long pid)
{
    ProcessOwner owner;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return owner;
    const std::vector<char> user = tokenUser(process);
    CloseHandle(process);
    if (user.empty())
        return owner;
    const std::vector<char> own = tokenUser(GetCurrentProcess());
    const PSID sid = reinterpret_cast<const TOKEN_USER *>(user.data())->User.Sid;
    owner.known = true;
    owner.sid = sidText(sid);
    for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid}) {
        if (IsWellKnownSid(sid, type))
            owner.trusted = true;
    }
    if (!own.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER *>(own.data())->User.Sid))
        owner.trusted = true;
    return owner;
}

unsigned long runningServicePid(const std::wstring &serviceName)
{
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    if (SC_HANDLE service = OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_STATUS)) {
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

} // namespace Win32
