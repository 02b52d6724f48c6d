#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <memory>

namespace Win32 {

namespace {

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

bool listProcesses(std::vector<ProcessRecord> &processes)
{
    processes.clear();
    const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.dwSize = sizeof(PROCESSENTRY32W);
    if (Process32FirstW(snapshot.get(), &entry)) {
        do {
            processes.push_back({entry.th32ProcessID, entry.szExeFile});
        } while (Process32NextW(snapshot.get(), &entry));
    }
    return true;
}

std::wstring processImagePath(unsigned long pid)
{
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return std::wstring();
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(process.get(), 0, path, &length))
        return std::wstring();
    return std::wstring(path, length);
}

bool processExists(long long pid)
{
    if (pid <= 0 || pid > static_cast<long long>(MAXDWORD))
        return false;
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid)));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD exitCode = 0;
    return GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

} // namespace Win32
