#include "signerchecks.h"

#include "inventorysource.h"

#include <QFuture>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <atomic>

namespace SignerChecks {

namespace {

// Far more files than a machine's installed software and a few chosen
// folders hold; past it everything kept is dropped rather than grow forever.
constexpr qsizetype MaxKept = 50000;

struct Kept
{
    InventorySource::FileIdentity identity;
    quint64 trustGeneration = 0;
    QString signer;
};

QMutex keptMutex;
QHash<QString, Kept> kept;
std::atomic<quint64> checkCount{0};

// A pool thread that waits on other pool work hands its slot over while it
// waits, or on a pool of one or two threads the work it waits for would get
// no thread or only one.
class PoolSlotLent
{
public:
    PoolSlotLent()
        : m_lent(QThreadPool::globalInstance()->contains(QThread::currentThread()))
    {
        if (m_lent)
            QThreadPool::globalInstance()->releaseThread();
    }
    ~PoolSlotLent()
    {
        if (m_lent)
            QThreadPool::globalInstance()->reserveThread();
    }
    PoolSlotLent(const PoolSlotLent &) = delete;
    PoolSlotLent &operator=(const PoolSlotLent &) = delete;

private:
    const bool m_lent;
};

} // namespace

QString signerOf(const QString &filePath)
{
    if (filePath.isEmpty())
        return QString();
    const quint64 generation = InventorySource::trustGeneration();
    const InventorySource::FileIdentity before = InventorySource::fileIdentity(filePath);
    if (before.valid) {
        QMutexLocker locker(&keptMutex);
        const auto it = kept.constFind(filePath);
        if (it != kept.cend() && it->identity == before && it->trustGeneration == generation)
            return it->signer;
    }

    const QString signer = InventorySource::digitalSigner(filePath);
    checkCount.fetch_add(1, std::memory_order_relaxed);

    // Kept only when the file stayed the same version through the check; one
    // changed meanwhile is checked again next time.
    if (before.valid && InventorySource::fileIdentity(filePath) == before
        && InventorySource::trustGeneration() == generation) {
        QMutexLocker locker(&keptMutex);
        if (kept.size() >= MaxKept)
            kept.clear();
        kept.insert(filePath, Kept{before, generation, signer});
    }
    return signer;
}

void signersInOrder(const QStringList &filePaths, const std::function<void(qsizetype, const QString &)> &ready,
                    const std::function<bool()> &stop)
{
    const auto stopped = [&stop] { return stop && stop(); };
    if (filePaths.size() < 2) {
        for (qsizetype i = 0; i < filePaths.size() && !stopped(); ++i)
            ready(i, signerOf(filePaths.at(i)));
        return;
    }

    QFuture<QString> signers = QtConcurrent::mapped(QThreadPool::globalInstance(), filePaths, &signerOf);
    for (qsizetype i = 0; i < filePaths.size(); ++i) {
        if (stopped()) {
            signers.cancel();
            const PoolSlotLent lent;
            signers.waitForFinished(); // nothing of ours runs on after the caller returns
            return;
        }
        if (!signers.isResultReadyAt(int(i))) {
            const PoolSlotLent lent;
            signers.resultAt(int(i)); // waits for it
        }
        ready(i, signers.resultAt(int(i)));
    }
}

quint64 checksRun()
{
    return checkCount.load(std::memory_order_relaxed);
}

} // namespace SignerChecks
