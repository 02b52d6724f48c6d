#include "inventorysource.h"

#include "scanrules.h"
#include "win32api.h"

#include <QProcess>
#include <QSettings>

#include <memory>
#include <vector>

namespace InventorySource {

namespace {

// One uninstall key of the registry; each subkey is one product.
class RegistryRoot : public UninstallRoot
{
public:
    explicit RegistryRoot(const QString &path)
        : m_settings(path, QSettings::NativeFormat)
    {
    }
    QStringList entries() override { return m_settings.childGroups(); }
    QString value(const QString &entry, const QString &name) override
    {
        m_settings.beginGroup(entry);
        const QString text = m_settings.value(name).toString();
        m_settings.endGroup();
        return text;
    }

private:
    QSettings m_settings;
};

} // namespace

std::vector<std::unique_ptr<UninstallRoot>> openUninstallRoots(const QString &)
{
    std::vector<std::unique_ptr<UninstallRoot>> roots;
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    return roots;
}

QList<ProcessEntry> processSnapshot(bool *ok)
{
    QList<ProcessEntry> entries;
    std::vector<Win32::ProcessRecord> processes;
    *ok = Win32::listProcesses(processes);
    entries.reserve(qsizetype(processes.size()));
    for (const Win32::ProcessRecord &record : processes) {
        ProcessEntry process;
        process.pid = record.pid;
        process.exeName = QString::fromStdWString(record.exeName);
        entries.append(process);
    }
    return entries;
}

QString processImagePath(const ProcessEntry &entry)
{
    if (entry.imageKnown)
        return entry.imagePath;
    return QString::fromStdWString(Win32::processImagePath(entry.pid));
}

QStringList platformExcludedProcesses()
{
    return {};
}

QString listeningPorts()
{
    QProcess netstat;
    netstat.start(QStringLiteral("netstat"), {QStringLiteral("-ano")}, QIODevice::ReadWrite);
    netstat.waitForFinished(5000);
    return ScanRules::parseNetstatListeningPorts(netstat.readAllStandardOutput()).join(QLatin1Char(','));
}

QString digitalSigner(const QString &filePath)
{
    return QString::fromStdWString(Win32::authenticodeSigner(filePath.toStdWString()));
}

FileIdentity fileIdentity(const QString &filePath)
{
    FileIdentity identity;
    Win32::FileId id;
    if (filePath.isEmpty() || !Win32::fileIdentity(filePath.toStdWString(), id))
        return identity;
    identity.valid = true;
    identity.size = qint64(id.size);
    identity.modified = qint64(id.lastWriteTime);
    identity.changed = qint64(id.changeTime);
    identity.volume = id.volumeSerial;
    identity.fileId = id.fileIndex;
    return identity;
}

quint64 trustGeneration()
{
    return 0;
}

bool isNativeExecutable(const QFileInfo &)
{
    return false;
}

} // namespace InventorySource
