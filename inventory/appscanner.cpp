#include "appscanner.h"

#include "filedigest.h"
#include "inventorysource.h"
#include "scanrules.h"
#include "signerchecks.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

const QStringList &executableSuffixes()
{
    static const QStringList suffixes{QStringLiteral("exe"), QStringLiteral("dll"), QStringLiteral("com"),
                                      QStringLiteral("bat"), QStringLiteral("cmd")};
    return suffixes;
}

bool hasExeName(const QFileInfo &file)
{
    return file.fileName().endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
}

// A file the directory and main-executable searches take: "*.exe" by name, or
// what the platform runs directly.
bool isProgramFile(const QFileInfo &file)
{
    return hasExeName(file) || InventorySource::isNativeExecutable(file);
}

QString stripEnclosingQuotes(const QString &text)
{
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace

AppScanner::AppScanner(QObject *parent)
    : AppScanner(QStringLiteral("/"), parent)
{
}

AppScanner::AppScanner(const QString &packageRoot, QObject *parent)
    : QObject(parent)
    , m_packageRoot(packageRoot)
{
    qRegisterMetaType<SoftwareInfo>();
    qRegisterMetaType<QList<SoftwareInfo>>();
}

AppScanner::~AppScanner()
{
    m_stopping.store(true);
    QMutexLocker locker(&m_taskMutex);
    while (m_runningTasks > 0)
        m_tasksDone.wait(&m_taskMutex);
}

template<typename Job>
void AppScanner::runTask(Job job)
{
    {
        QMutexLocker locker(&m_taskMutex);
        ++m_runningTasks;
    }
    // The future is not kept: results come back through signals.
    (void)QtConcurrent::run(QThreadPool::globalInstance(), [this, job] {
        if (!stopping()) // not started before the scanner began to go away
            job();
        QMutexLocker locker(&m_taskMutex);
        if (--m_runningTasks == 0)
            m_tasksDone.wakeAll();
    });
}

void AppScanner::startScan()
{
    runTask([this] {
        const QList<SoftwareInfo> list = scanInstalledSoftware();
        if (!stopping())
            emit scanFinished(list);
    });
}

void AppScanner::startProcessScan()
{
    runTask([this] {
        const QList<SoftwareInfo> list = scanRunningProcesses();
        if (!stopping())
            emit processScanFinished(list);
    });
}

void AppScanner::startDirectoryScan(const QString &directory)
{
    runTask([this, directory] {
        const QList<SoftwareInfo> list = scanDirectory(directory);
        if (!stopping())
            emit directoryScanFinished(directory, list);
    });
}

QList<SoftwareInfo> AppScanner::scanInstalledSoftware()
{
    const std::vector<std::unique_ptr<InventorySource::UninstallRoot>> opened
        = InventorySource::openUninstallRoots(m_packageRoot);
    std::vector<InventorySource::UninstallRoot *> roots;
    for (const auto &root : opened)
        roots.push_back(root.get());
    return scanUninstallRoots(roots);
}

// The scan itself, the same on every platform: only the roots differ. The
// records are read first; their signers are then checked in parallel and
// filled in record order, each record's progress reported once its signer is
// known.
QList<SoftwareInfo> AppScanner::scanUninstallRoots(const std::vector<InventorySource::UninstallRoot *> &roots)
{
    QList<SoftwareInfo> list;
    QStringList signerPaths; // per record: the executable whose signer it gets, or empty
    int total = 0;
    std::vector<QStringList> entriesOfRoot;
    for (InventorySource::UninstallRoot *root : roots) {
        entriesOfRoot.push_back(root->entries());
        total += int(entriesOfRoot.back().size());
    }

    for (size_t r = 0; r < roots.size(); ++r) {
        InventorySource::UninstallRoot &root = *roots[r];
        for (const QString &entry : entriesOfRoot[r]) {
            if (stopping())
                return list;
            const QString name = root.value(entry, QStringLiteral("DisplayName"));
            if (name.isEmpty())
                continue;
            SoftwareInfo info;
            info.name = name;
            info.version = root.value(entry, QStringLiteral("DisplayVersion"));
            info.publisher = root.value(entry, QStringLiteral("Publisher"));
            info.installPath = root.value(entry, QStringLiteral("InstallLocation"));
            info.uninstallString = root.value(entry, QStringLiteral("UninstallString"));
            info.installDate = ScanRules::normaliseInstallDate(root.value(entry, QStringLiteral("InstallDate")));
            info.executablePath = extractExecutablePath(root.value(entry, QStringLiteral("DisplayIcon")));

            QString signerPath;
            if (!info.executablePath.isEmpty()) {
                const QFileInfo file(info.executablePath);
                if (file.exists())
                    info.fileSize = file.size();
                info.processName = extractProcessName(info.executablePath);
                signerPath = info.executablePath;
            } else if (!info.installPath.isEmpty()) {
                info.processName = extractProcessName(info.installPath);
                const QString mainExecutable = findMainExecutable(info.installPath, info.name);
                if (!mainExecutable.isEmpty()) {
                    info.executablePath = mainExecutable;
                    const QFileInfo file(mainExecutable);
                    if (file.exists())
                        info.fileSize = file.size();
                    info.processName = extractProcessName(mainExecutable);
                    signerPath = mainExecutable;
                }
            }
            list.append(info);
            signerPaths.append(signerPath);
        }
    }

    int current = 0;
    fillSigners(list, signerPaths, [&] {
        ++current;
        if (!stopping())
            emit scanProgress(current, total);
    });

    if (stopping())
        return list; // the port probe can take seconds; nobody waits for this list
    const QString ports = getListeningPorts();
    for (SoftwareInfo &info : list)
        info.portList = ports;
    return list;
}

void AppScanner::fillSigners(QList<SoftwareInfo> &list, const QStringList &signerPaths,
                             const std::function<void()> &recordDone)
{
    SignerChecks::signersInOrder(
        signerPaths,
        [&](qsizetype i, const QString &signer) {
            list[i].digitalSigner = signer;
            if (recordDone)
                recordDone();
        },
        [this] { return stopping(); });
}

QList<SoftwareInfo> AppScanner::scanRunningProcesses()
{
    QList<SoftwareInfo> list;
    QStringList signerPaths;
    bool ok = false;
    const QList<InventorySource::ProcessEntry> snapshot = InventorySource::processSnapshot(&ok);
    if (!ok)
        return list;
    const QStringList &excluded = ScanRules::excludedProcesses();
    for (const InventorySource::ProcessEntry &entry : snapshot) {
        if (stopping())
            return list;
        if (entry.exeName.isEmpty() || excluded.contains(entry.exeName, Qt::CaseInsensitive))
            continue;
        const bool seen = std::any_of(list.cbegin(), list.cend(), [&](const SoftwareInfo &info) {
            return info.processName.compare(entry.exeName, Qt::CaseInsensitive) == 0;
        });
        if (seen)
            continue;

        SoftwareInfo info;
        info.processName = entry.exeName;
        info.name = ScanRules::processRecordName(entry.exeName);
        const QString imagePath = InventorySource::processImagePath(entry);
        if (!imagePath.isEmpty()) {
            const QFileInfo file(imagePath);
            info.executablePath = imagePath;
            info.installPath = file.absolutePath();
            if (file.exists())
                info.fileSize = file.size();
        }
        list.append(info);
        signerPaths.append(imagePath);
    }
    fillSigners(list, signerPaths);
    return list;
}

QList<SoftwareInfo> AppScanner::scanDirectory(const QString &directory)
{
    QList<SoftwareInfo> list;
    const QDir dir(directory);
    if (directory.isEmpty() || !dir.exists())
        return list;

    QFileInfoList files;
    const QFileInfoList topLevel = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
    for (const QFileInfo &file : topLevel) {
        if (isProgramFile(file))
            files.append(file);
    }
    if (files.isEmpty()) {
        // Nothing at the top: take what lies directly in the immediate subdirectories.
        QDirIterator it(directory, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (stopping())
                return list;
            const QFileInfo file = it.nextFileInfo();
            if (!isProgramFile(file))
                continue;
            const QString relative = dir.relativeFilePath(file.absoluteFilePath());
            if (relative.split(QLatin1Char('/'), Qt::SkipEmptyParts).size() <= 2)
                files.append(file);
        }
    }

    const QString key = dir.dirName().toLower();
    QStringList signerPaths;
    for (const QFileInfo &file : std::as_const(files)) {
        SoftwareInfo info;
        info.name = file.baseName();
        info.processName = file.baseName();
        info.executablePath = file.absoluteFilePath();
        info.installPath = directory;
        info.fileSize = file.size();
        list.append(info);
        signerPaths.append(info.executablePath);
    }
    fillSigners(list, signerPaths);
    if (stopping())
        return list;

    std::sort(list.begin(), list.end(), [&key](const SoftwareInfo &a, const SoftwareInfo &b) {
        const bool aMatches = a.processName.toLower() == key;
        const bool bMatches = b.processName.toLower() == key;
        if (aMatches != bMatches)
            return aMatches;
        return a.fileSize > b.fileSize;
    });
    return list;
}

void AppScanner::calculateFileHashes(SoftwareInfo &info)
{
    if (info.executablePath.isEmpty())
        return;
    const QFileInfo file(info.executablePath);
    if (!file.exists())
        return;
    info.fileSize = file.size();
    const QString name = file.fileName();

    emit hashProgress(name, 0);
    bool halfReported = false;
    const FileDigest::Pair digests = FileDigest::md5AndSha256(info.executablePath, [&] {
        halfReported = true;
        emit hashProgress(name, 50);
    });
    if (!halfReported)
        emit hashProgress(name, 50);
    info.fileHashMd5 = QString::fromLatin1(digests.md5);
    info.fileHashSha256 = QString::fromLatin1(digests.sha256);
    emit hashProgress(name, 100);
}

QString AppScanner::calculateFileHash(const QString &filePath, QCryptographicHash::Algorithm algorithm)
{
    return QString::fromLatin1(FileDigest::hexDigest(filePath, algorithm));
}

QString AppScanner::extractExecutablePath(const QString &displayIcon)
{
    if (displayIcon.isEmpty())
        return QString();
    const QString text = stripEnclosingQuotes(displayIcon);

    const qsizetype comma = text.lastIndexOf(QLatin1Char(','));
    if (comma >= 1) {
        const QString path = text.left(comma).trimmed();
        const QFileInfo file(path);
        if (file.exists() && file.isExecutable())
            return path;
    }

    const QFileInfo file(text);
    if (file.exists() && file.isFile()
        && (executableSuffixes().contains(file.suffix().toLower()) || InventorySource::isNativeExecutable(file)))
        return text;
    return QString();
}

QString AppScanner::extractProcessName(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString text = stripEnclosingQuotes(path);
    const qsizetype separator = std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
    if (separator < 0 || separator == text.size() - 1)
        return text;
    const QString name = text.mid(separator + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 1 ? name.left(dot) : name;
}

QString AppScanner::findMainExecutable(const QString &installDir, const QString &displayName)
{
    if (installDir.isEmpty())
        return QString();
    const QDir dir(installDir);
    if (!dir.exists())
        return QString();
    QFileInfoList files;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &file : entries) {
        if (isProgramFile(file))
            files.append(file);
    }
    return ScanRules::chooseMainExecutable(files, displayName);
}

QString AppScanner::getListeningPorts()
{
    return InventorySource::listeningPorts();
}

QString AppScanner::getDigitalSigner(const QString &filePath)
{
    return SignerChecks::signerOf(filePath);
}
