#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include <vector>

namespace Win32 {

bool fileOwnedByCurrentUser(const std::wstring &path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor)
        != ERROR_SUCCESS)
        return false;
    bool same = false;
    HANDLE token = nullptr;
    if (owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size))
            same = EqualSid(owner, reinterpret_cast<const TOKEN_USER *>(user.data())->User.Sid) != FALSE;
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return same;
}

} // namespace Win32
