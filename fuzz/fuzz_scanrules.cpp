// The inventory's text rules: `netstat -ano` output, the kernel's socket
// tables, install dates, and the executable path and process name taken from
// an uninstall entry. The first byte picks the rule, the rest is its input.
#include "fuzzsupport.h"

#include "appscanner.h"
#include "scanrules.h"

#include <QSet>

#include <cstdlib>

class AppScannerTestAccess
{
public:
    static QString extractExecutablePath(AppScanner &scanner, const QString &displayIcon)
    {
        return scanner.extractExecutablePath(displayIcon);
    }
    static QString extractProcessName(AppScanner &scanner, const QString &path)
    {
        return scanner.extractProcessName(path);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzInitialise();
    static AppScanner scanner;
    if (size == 0)
        return 0;
    const QByteArray bytes = fuzzBytes(data + 1, size - 1);
    const QString text = QString::fromUtf8(bytes);
    switch (data[0] % 5) {
    case 0: {
        const QStringList ports = ScanRules::parseNetstatListeningPorts(bytes);
        // Each port once.
        if (QSet<QString>(ports.cbegin(), ports.cend()).size() != ports.size())
            std::abort();
        break;
    }
    case 1: {
        QStringList ports = ScanRules::parseProcNetTcpListeningPorts(bytes);
        ScanRules::mergePorts(ports, ScanRules::parseNetstatListeningPorts(bytes));
        if (QSet<QString>(ports.cbegin(), ports.cend()).size() != ports.size())
            std::abort();
        break;
    }
    case 2: {
        const QString date = ScanRules::normaliseInstallDate(text);
        // Only an eight-digit date is rewritten, into ten characters.
        if (date != text && date.size() != 10)
            std::abort();
        break;
    }
    case 3:
        AppScannerTestAccess::extractExecutablePath(scanner, text);
        break;
    default:
        AppScannerTestAccess::extractProcessName(scanner, text);
        ScanRules::processRecordName(text);
        break;
    }
    return 0;
}
