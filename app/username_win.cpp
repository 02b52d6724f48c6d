#include "username.h"

#include <windows.h>

QString currentUserName()
{
    // UNLEN + 1 characters hold any account name.
    wchar_t buffer[257];
    DWORD size = 257;
    if (GetUserNameW(buffer, &size) && size > 0)
        return QString::fromWCharArray(buffer, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
}
