#include "autostart.h"

#include "win32api.h"

namespace {

const wchar_t valueName[] = L"KestrumSSLVPN";

} // namespace

namespace Autostart {

bool isEnabled()
{
    return Win32::runValueExists(valueName);
}

bool enable(const QString &nativeExecutablePath)
{
    // Quoted so that a path with spaces starts the right program.
    const QString data = QLatin1Char('"') + nativeExecutablePath + QLatin1Char('"');
    return Win32::writeRunValue(valueName, data.toStdWString());
}

void disable()
{
    Win32::deleteRunValue(valueName);
}

} // namespace Autostart
