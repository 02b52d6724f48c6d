#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

bool openRegularFile(QFile &file)
{
    // A path in the file system cannot be a pipe here, so opening never waits;
    // what is left to refuse is anything that is not a plain file.
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    return true;
}
