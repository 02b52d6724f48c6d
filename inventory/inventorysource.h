#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// What the scanner reads from the operating system. One header, defined once
// per platform (inventorysource_win.cpp, inventorysource_linux.cpp); the scan
// rules built on top of it are shared.
namespace InventorySource {

// One root of the installed-software database: a list of entries, each with
// named text values ("DisplayName", "DisplayVersion", "Publisher",
// "InstallLocation", "DisplayIcon", "UninstallString", "InstallDate").
class UninstallRoot
{
public:
    virtual ~UninstallRoot() = default;
    virtual QStringList entries() = 0;
    // Absent values read as empty text.
    virtual QString value(const QString &entry, const QString &name) = 0;
};

// The roots in their fixed order. packageRoot is the root of the Debian
// package database on Linux and ignored on Windows.
std::vector<std::unique_ptr<UninstallRoot>> openUninstallRoots(const QString &packageRoot);

struct ProcessEntry
{
    quint32 pid = 0;
    QString exeName;         // the executable's name as the system gives it, with extension
    QString imagePath;       // full image path when already known from the snapshot
    bool imageKnown = false; // true when imagePath is final (possibly empty)
};

// The running processes in the system's order, system processes (kernel
// threads) left out. ok is false when no snapshot could be taken.
QList<ProcessEntry> processSnapshot(bool *ok);
// The image path of a process of the snapshot, or empty when it cannot be read.
QString processImagePath(const ProcessEntry &entry);
// Our own executables as the process list names them on this platform, besides
// the common exclusion list.
QStringList platformExcludedProcesses();

// The machine's listening TCP ports, comma-joined, first appearance first.
QString listeningPorts();

// The display name of the file's Authenticode signer, or empty.
QString digitalSigner(const QString &filePath);

// One version of one file: equal identities mean the bytes are those seen
// before. Built from the size, the modification time and the file id (the
// inode and device, with the status-change time, on Linux; the volume serial
// and file index on Windows). valid is false when the file cannot be looked
// at.
struct FileIdentity
{
    bool valid = false;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds (Linux) or 100-nanosecond ticks (Windows)
    qint64 changed = 0;
    quint64 volume = 0;
    quint64 fileId = 0;
    bool operator==(const FileIdentity &other) const
    {
        return valid == other.valid && size == other.size && modified == other.modified && changed == other.changed
               && volume == other.volume && fileId == other.fileId;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};
FileIdentity fileIdentity(const QString &filePath);

// Changes whenever the roots that digitalSigner trusts may have changed, so
// that signers kept from before are checked again. Constant where the system
// verifier keeps its own roots (Windows).
quint64 trustGeneration();

// True for a file the platform runs directly although it has no ".exe" name
// (on Linux: a regular file the user may execute). Always false on Windows.
bool isNativeExecutable(const QFileInfo &file);

} // namespace InventorySource
