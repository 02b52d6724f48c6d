#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

namespace Win32 {

std::wstring currentUserName()
{
    // UNLEN + 1 characters hold any account name.
    wchar_t buffer[257];
    DWORD size = 257;
    if (GetUserNameW(buffer, &size) && size > 0)
        return std::wstring(buffer, size - 1);
    const DWORD length = GetEnvironmentVariableW(L"USERNAME", nullptr, 0);
    if (length == 0)
        return std::wstring();
    std::vector<wchar_t> value(length);
    const DWORD written = GetEnvironmentVariableW(L"USERNAME", value.data(), length);
    return written > 0 && written < length ? std::wstring(value.data(), written) : std::wstring();
}

} // namespace Win32
