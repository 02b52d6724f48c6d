// The Debian package database read by the installed-software scan: the input
// is var/lib/dpkg/status under a private root.
#include "fuzzsupport.h"

#include "appglobals.h"
#include "inventorysource.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzInitialise();
    static const QString root = tempLocation + QStringLiteral("/dpkg-root");
    // Packages count only with a file list naming a program.
    static const bool made = [] {
        if (!QDir().mkpath(root + QStringLiteral("/var/lib/dpkg/info")))
            return false;
        for (const char *list : {"hello:amd64.list", "tool.list"}) {
            QFile file(root + QStringLiteral("/var/lib/dpkg/info/") + QLatin1String(list));
            if (!file.open(QIODevice::WriteOnly) || file.write("/.\n/usr\n/usr/bin\n/usr/bin/hello\n") < 0)
                return false;
        }
        return true;
    }();
    if (!made)
        std::abort();
    {
        QFile status(root + QStringLiteral("/var/lib/dpkg/status"));
        if (!status.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        status.write(fuzzBytes(data, size));
    }
    const auto roots = InventorySource::openUninstallRoots(root);
    for (const auto &uninstallRoot : roots) {
        for (const QString &entry : uninstallRoot->entries()) {
            for (const char *name : {"DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "DisplayIcon",
                                     "UninstallString", "InstallDate"})
                uninstallRoot->value(entry, QLatin1String(name));
        }
    }
    return 0;
}
