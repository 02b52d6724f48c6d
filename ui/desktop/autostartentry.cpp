#include "autostartentry.h"

#include <QDir>
#include <QFileInfo>

namespace AutostartEntry {

QString filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/KestrumSSLVPN.desktop");
}

QString quotedExec(const QString &executablePath)
{
    // Inside double quotes the Exec key reserves ", `, $ and \ (escaped with a
    // backslash); the key's string syntax then doubles every backslash, and a
    // literal % must be written %% so it is not read as a field code.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\") + c;
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("%%");
        else
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool isInstalled(const QString &executablePath)
{
    const QDir bin = QFileInfo(executablePath).absoluteDir();
    return QFileInfo::exists(
        bin.filePath(QStringLiteral(ORVALIN_DATADIR_FROM_BINDIR "/applications/" ORVALIN_APP_ID ".desktop")));
}

QString contents(const QString &executablePath, bool installed)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kestrum SSLVPN Client\n"
                          "Comment=Start the Kestrum SSLVPN Client at log-on\n"
                          "Exec=")
           + quotedExec(executablePath) + (installed ? QStringLiteral("\nIcon=" ORVALIN_APP_ID) : QString())
           + QStringLiteral("\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n");
}

} // namespace AutostartEntry
