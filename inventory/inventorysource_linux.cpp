#include "inventorysource.h"

#include "authenticode.h"
#include "scanrules.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace InventorySource {

namespace {

// The Debian package database as installed-software entries: one per
// installed package whose file list names a program (a file in a bin/sbin
// directory or under /opt). A package whose listed programs are all gone
// from the disk has an empty "DisplayName" and is skipped by the scan.
class DpkgRoot : public UninstallRoot
{
public:
    explicit DpkgRoot(const QString &root);
    QStringList entries() override { return m_order; }
    QString value(const QString &entry, const QString &name) override;

private:
    struct Package
    {
        QString name;
        QString version;
        QString maintainer;
        QString listFile;
        QStringList programs; // candidate paths on disk, from the file list
        bool resolved = false;
        QString mainExecutable;
    };
    void resolve(Package &package);

    QString m_root;
    QStringList m_order;
    QHash<QString, Package> m_packages;
};

QString onDisk(const QString &root, const QString &path)
{
    if (root.isEmpty() || root == QLatin1String("/"))
        return path;
    QString base = root;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + path;
}

bool isProgramPath(const QByteArray &path)
{
    if (path.startsWith("/opt/"))
        return true;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return false;
    const qsizetype parentStart = path.lastIndexOf('/', slash - 1);
    const QByteArray parent = path.mid(parentStart + 1, slash - parentStart - 1);
    return parent == "bin" || parent == "sbin";
}

DpkgRoot::DpkgRoot(const QString &root)
    : m_root(root)
{
    QFile status(onDisk(root, QStringLiteral("/var/lib/dpkg/status")));
    if (!status.open(QIODevice::ReadOnly))
        return;
    const QDir info(onDisk(root, QStringLiteral("/var/lib/dpkg/info")));

    const QList<QByteArray> lines = status.readAll().split('\n');
    QHash<QByteArray, QByteArray> fields;
    auto finishStanza = [&] {
        const QByteArray state = fields.value("Status");
        const QString name = QString::fromUtf8(fields.value("Package"));
        if (state.endsWith(" installed") && !name.isEmpty()) {
            const QString arch = QString::fromUtf8(fields.value("Architecture"));
            QString listName = name + QLatin1Char(':') + arch;
            if (!info.exists(listName + QStringLiteral(".list")))
                listName = name;
            Package package;
            package.name = name;
            package.version = QString::fromUtf8(fields.value("Version"));
            QString maintainer = QString::fromUtf8(fields.value("Maintainer"));
            const qsizetype mail = maintainer.indexOf(QLatin1Char('<'));
            if (mail >= 0)
                maintainer.truncate(mail);
            package.maintainer = maintainer.trimmed();
            package.listFile = info.filePath(listName + QStringLiteral(".list"));
            QFile list(package.listFile);
            if (list.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> paths = list.readAll().split('\n');
                for (const QByteArray &path : paths) {
                    if (isProgramPath(path))
                        package.programs.append(onDisk(m_root, QString::fromUtf8(path)));
                }
            }
            if (!package.programs.isEmpty() && !m_packages.contains(listName)) {
                m_order.append(listName);
                m_packages.insert(listName, package);
            }
        }
        fields.clear();
    };
    for (const QByteArray &line : lines) {
        if (line.trimmed().isEmpty()) {
            if (!fields.isEmpty())
                finishStanza();
            continue;
        }
        if (line.startsWith(' ') || line.startsWith('\t'))
            continue; // continuation of a multi-line field; none of ours is one
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        fields.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    if (!fields.isEmpty())
        finishStanza();
}

void DpkgRoot::resolve(Package &package)
{
    package.resolved = true;
    QFileInfoList files;
    for (const QString &path : std::as_const(package.programs)) {
        const QFileInfo file(path);
        if (file.isFile() && !file.isSymLink()
            && (file.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)))
            files.append(file);
    }
    // Name order, as a directory listing would give it.
    std::stable_sort(files.begin(), files.end(),
                     [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    package.mainExecutable = ScanRules::chooseMainExecutable(files, package.name);
}

QString DpkgRoot::value(const QString &entry, const QString &name)
{
    auto it = m_packages.find(entry);
    if (it == m_packages.end())
        return QString();
    Package &package = it.value();
    if (!package.resolved)
        resolve(package);
    if (package.mainExecutable.isEmpty())
        return QString(); // nothing of it left to run: not listed
    if (name == QLatin1String("DisplayName"))
        return package.name;
    if (name == QLatin1String("DisplayVersion"))
        return package.version;
    if (name == QLatin1String("Publisher"))
        return package.maintainer;
    if (name == QLatin1String("InstallDate"))
        return QFileInfo(package.listFile).lastModified().toString(QStringLiteral("yyyyMMdd"));
    if (name == QLatin1String("DisplayIcon"))
        return package.mainExecutable;
    if (name == QLatin1String("InstallLocation"))
        return QFileInfo(package.mainExecutable).absolutePath();
    if (name == QLatin1String("UninstallString"))
        return QStringLiteral("apt-get remove ") + package.name;
    return QString();
}

QByteArray readProcFile(const QString &path)
{
    // /proc files report size 0: read until the end.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool isKernelThread(const QByteArray &stat)
{
    // Fields after the command name in parentheses: state ppid pgrp session
    // tty_nr tpgid flags ...; PF_KTHREAD marks a kernel thread.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    if (fields.size() < 7)
        return false;
    constexpr qulonglong KernelThreadFlag = 0x00200000;
    return (fields.at(6).toULongLong() & KernelThreadFlag) != 0;
}

QString readExeLink(const QString &pidDir)
{
    const QByteArray link = QFile::encodeName(pidDir + QStringLiteral("/exe"));
    char buffer[4096];
    const ssize_t length = ::readlink(link.constData(), buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return QString();
    QString target = QFile::decodeName(QByteArray(buffer, int(length)));
    // A program replaced on disk while it runs.
    const QLatin1String deleted(" (deleted)");
    if (target.endsWith(deleted))
        target.chop(deleted.size());
    return target;
}

} // namespace

std::vector<std::unique_ptr<UninstallRoot>> openUninstallRoots(const QString &packageRoot)
{
    std::vector<std::unique_ptr<UninstallRoot>> roots;
    roots.push_back(std::make_unique<DpkgRoot>(packageRoot.isEmpty() ? QStringLiteral("/") : packageRoot));
    return roots;
}

QList<ProcessEntry> processSnapshot(bool *ok)
{
    QList<ProcessEntry> entries;
    const QDir proc(QStringLiteral("/proc"));
    if (!proc.exists()) {
        *ok = false;
        return entries;
    }
    QList<quint32> pids;
    const QStringList names = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool isPid = false;
        const quint32 pid = name.toUInt(&isPid);
        if (isPid)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());

    for (quint32 pid : std::as_const(pids)) {
        const QString dir = QStringLiteral("/proc/") + QString::number(pid);
        const QByteArray stat = readProcFile(dir + QStringLiteral("/stat"));
        if (stat.isEmpty() || isKernelThread(stat))
            continue; // gone, or a kernel thread
        ProcessEntry entry;
        entry.pid = pid;
        entry.imageKnown = true;
        entry.imagePath = readExeLink(dir);
        if (!entry.imagePath.isEmpty()) {
            entry.exeName = QFileInfo(entry.imagePath).fileName();
        } else {
            // Another user's process: its name only.
            entry.exeName = QString::fromUtf8(readProcFile(dir + QStringLiteral("/comm"))).trimmed();
        }
        if (!entry.exeName.isEmpty())
            entries.append(entry);
    }
    *ok = true;
    return entries;
}

QString processImagePath(const ProcessEntry &entry)
{
    if (entry.imageKnown)
        return entry.imagePath;
    return readExeLink(QStringLiteral("/proc/") + QString::number(entry.pid));
}

QStringList platformExcludedProcesses()
{
    return {QStringLiteral("KestrumSSLVPN"), QStringLiteral("tunwarden"), QStringLiteral("tunwarden-sim")};
}

QString listeningPorts()
{
    QStringList ports = ScanRules::parseProcNetTcpListeningPorts(readProcFile(QStringLiteral("/proc/net/tcp")));
    ScanRules::mergePorts(ports,
                          ScanRules::parseProcNetTcpListeningPorts(readProcFile(QStringLiteral("/proc/net/tcp6"))));
    return ports.join(QLatin1Char(','));
}

QString digitalSigner(const QString &filePath)
{
    return Authenticode::signerName(filePath);
}

FileIdentity fileIdentity(const QString &filePath)
{
    FileIdentity identity;
    struct stat info
    {
    };
    if (filePath.isEmpty() || ::stat(QFile::encodeName(filePath).constData(), &info) != 0)
        return identity;
    identity.valid = true;
    identity.size = info.st_size;
    identity.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    identity.changed = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    identity.volume = info.st_dev;
    identity.fileId = info.st_ino;
    return identity;
}

quint64 trustGeneration()
{
    return Authenticode::systemTrustGeneration();
}

bool isNativeExecutable(const QFileInfo &file)
{
    return file.isFile() && file.isExecutable();
}

} // namespace InventorySource
