#include "fileowner.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

bool isOwnRegularFile(const QString &path)
{
    // lstat: a link is judged as itself, not by what it points at.
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
}
