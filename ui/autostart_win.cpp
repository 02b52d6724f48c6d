#include "autostart.h"

#include <QSettings>

namespace {

const QString runKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString valueName = QStringLiteral("KestrumSSLVPN");

} // namespace

namespace Autostart {

bool isEnabled()
{
    QSettings settings(runKey, QSettings::NativeFormat);
    return settings.contains(valueName);
}

bool enable(const QString &nativeExecutablePath)
{
    QSettings settings(runKey, QSettings::NativeFormat);
    // Quoted so that a path with spaces starts the right program.
    settings.setValue(valueName, QString(QLatin1Char('"') + nativeExecutablePath + QLatin1Char('"')));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

void disable()
{
    QSettings settings(runKey, QSettings::NativeFormat);
    settings.remove(valueName);
    settings.sync();
}

} // namespace Autostart
