#include "username.h"

#include <pwd.h>
#include <unistd.h>

QString currentUserName()
{
    // The effective user decides whose files and sockets the process can reach.
    if (const passwd *entry = getpwuid(geteuid()); entry && entry->pw_name && entry->pw_name[0])
        return QString::fromLocal8Bit(entry->pw_name);
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("USERNAME");
    return name;
}
