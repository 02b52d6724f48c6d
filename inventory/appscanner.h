#pragma once

#include "softwareinfo.h"

#include <QCryptographicHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <vector>

namespace InventorySource {
class UninstallRoot;
}

// Produces SoftwareInfo records from three sources: the installed software,
// the executables of a chosen directory and the running processes; fills in an
// executable's size and digests on request.
//
// The long scans run on QThreadPool::globalInstance() and report through
// signals emitted from the worker thread (queued to receivers in the GUI
// thread). The scanner keeps no state between operations; destroying it asks
// running tasks to stop early and waits for them.
class AppScanner : public QObject
{
    Q_OBJECT
public:
    explicit AppScanner(QObject *parent = nullptr);
    // Linux: the root of the Debian package database (default "/"), so tests can use a fixture.
    // Windows: ignored.
    explicit AppScanner(const QString &packageRoot, QObject *parent = nullptr);
    ~AppScanner() override;

    void startScan();
    void startProcessScan();
    void startDirectoryScan(const QString &directory);
    QList<SoftwareInfo> scanDirectory(const QString &directory);
    void calculateFileHashes(SoftwareInfo &info);

signals:
    void scanProgress(int current, int total);
    void scanFinished(QList<SoftwareInfo> list);
    void hashProgress(QString fileName, int percent);
    void processScanFinished(QList<SoftwareInfo> list);
    void directoryScanFinished(QString directory, QList<SoftwareInfo> list);

private:
    QList<SoftwareInfo> scanInstalledSoftware();
    QList<SoftwareInfo> scanUninstallRoots(const std::vector<InventorySource::UninstallRoot *> &roots);
    QList<SoftwareInfo> scanRunningProcesses();
    QString getListeningPorts();
    QString extractExecutablePath(const QString &displayIcon);
    QString extractProcessName(const QString &path);
    QString findMainExecutable(const QString &installDir, const QString &displayName);
    QString getDigitalSigner(const QString &filePath);
    // Checks the signers of signerPaths (one per record, empty for none) in
    // parallel and stores each in its record, in record order, calling
    // recordDone after each.
    void fillSigners(QList<SoftwareInfo> &list, const QStringList &signerPaths,
                     const std::function<void()> &recordDone = {});
    QString calculateFileHash(const QString &filePath, QCryptographicHash::Algorithm algorithm);

    // Runs job on the global pool, counted so that the destructor can wait for it.
    template<typename Job>
    void runTask(Job job);
    bool stopping() const { return m_stopping.load(std::memory_order_relaxed); }

    const QString m_packageRoot;
    std::atomic<bool> m_stopping{false};
    QMutex m_taskMutex;
    QWaitCondition m_tasksDone;
    int m_runningTasks = 0;

    friend class AppScannerTestAccess; // test-only access point
};
