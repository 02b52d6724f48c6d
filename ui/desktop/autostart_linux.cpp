#include "autostart.h"
#include "autostartentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace Autostart {

bool isEnabled()
{
    return QFileInfo::exists(AutostartEntry::filePath());
}

bool enable(const QString &nativeExecutablePath)
{
    const QString path = AutostartEntry::filePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool installed = AutostartEntry::isInstalled(nativeExecutablePath);
    file.write(AutostartEntry::contents(nativeExecutablePath, installed).toUtf8());
    return file.commit();
}

void disable()
{
    QFile::remove(AutostartEntry::filePath());
}

} // namespace Autostart
