#include "processprobe.h"

#include "win32api.h"

bool processExists(qint64 pid)
{
    return Win32::processExists(static_cast<long long>(pid));
}
