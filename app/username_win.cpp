#include "username.h"

#include "win32api.h"

QString currentUserName()
{
    return QString::fromStdWString(Win32::currentUserName());
}
