#include "processprobe.h"

#include <cerrno>
#include <signal.h>

bool processExists(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    // Signal 0 checks existence and permission without touching the process;
    // EPERM means it exists under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}
