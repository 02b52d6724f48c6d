#include "scanrules.h"

#include "inventorysource.h"

#include <QRegularExpression>

namespace ScanRules {

QString normaliseInstallDate(const QString &value)
{
    if (value.size() != 8)
        return value;
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (!ok || number <= 0)
        return value;
    return value.left(4) + QLatin1Char('-') + value.mid(4, 2) + QLatin1Char('-') + value.mid(6, 2);
}

QStringList parseNetstatListeningPorts(const QByteArray &output)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QStringList ports;
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!line.contains(QLatin1String("LISTENING")))
            continue;
        const QStringList fields = line.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        const QString &address = fields.at(1);
        const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString port = address.mid(colon + 1);
        bool ok = false;
        const int number = port.toInt(&ok, 10);
        if (!ok || number <= 0)
            continue;
        if (!ports.contains(port))
            ports.append(port);
    }
    return ports;
}

QStringList parseProcNetTcpListeningPorts(const QByteArray &table)
{
    // "  sl  local_address rem_address   st ..." with addresses as HEX:PORT and
    // the state in hex; 0A is LISTEN.
    QStringList ports;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 4 || fields.at(3) != "0A")
            continue;
        const QByteArray &local = fields.at(1);
        const qsizetype colon = local.lastIndexOf(':');
        if (colon < 0)
            continue;
        bool ok = false;
        const uint number = local.mid(colon + 1).toUInt(&ok, 16);
        if (!ok || number == 0 || number > 65535)
            continue;
        const QString port = QString::number(number);
        if (!ports.contains(port))
            ports.append(port);
    }
    return ports;
}

void mergePorts(QStringList &ports, const QStringList &more)
{
    for (const QString &port : more) {
        if (!ports.contains(port))
            ports.append(port);
    }
}

QString chooseMainExecutable(const QFileInfoList &files, const QString &displayName)
{
    if (files.isEmpty())
        return QString();
    QString key = displayName.toLower();
    key.remove(QLatin1Char(' '));
    for (const QFileInfo &file : files) {
        const QString base = file.baseName().toLower();
        if (key.contains(base) || base.contains(key))
            return file.absoluteFilePath();
    }
    for (const QFileInfo &file : files) {
        if (file.size() > 1048576)
            return file.absoluteFilePath();
    }
    return files.first().absoluteFilePath();
}

const QStringList &excludedProcesses()
{
    static const QStringList names = QStringList{
        QStringLiteral("svchost.exe"),     QStringLiteral("lsass.exe"),       QStringLiteral("services.exe"),
        QStringLiteral("wininit.exe"),     QStringLiteral("csrss.exe"),       QStringLiteral("smss.exe"),
        QStringLiteral("System"),          QStringLiteral("Registry"),        QStringLiteral("MemCompression"),
        QStringLiteral("dllhost.exe"),     QStringLiteral("tasklist.exe"),    QStringLiteral("conhost.exe"),
        QStringLiteral("sihost.exe"),      QStringLiteral("taskhostw.exe"),   QStringLiteral("fontdrvhost.exe"),
        QStringLiteral("dwm.exe"),         QStringLiteral("tunwarden.exe"),   QStringLiteral("KestrumSSLVPN.exe"),
    } + InventorySource::platformExcludedProcesses();
    return names;
}

QString processRecordName(const QString &exeName)
{
    if (exeName.toLower().endsWith(QLatin1String(".exe")))
        return exeName.left(exeName.size() - 4);
    return exeName;
}

} // namespace ScanRules
