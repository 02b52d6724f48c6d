#include "truststore.h"

#include "opensslptr.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <vector>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <sys/stat.h>

namespace Authenticode::TrustStore {

namespace {

// Where OpenSSL finds the system's roots, as X509_STORE_set_default_paths
// reads them: the bundle file and the hashed directories.
QList<QByteArray> systemStorePaths()
{
    const QByteArray fileFromEnvironment = qgetenv(X509_get_default_cert_file_env());
    const QByteArray dirsFromEnvironment = qgetenv(X509_get_default_cert_dir_env());
    QList<QByteArray> paths{fileFromEnvironment.isEmpty() ? QByteArray(X509_get_default_cert_file())
                                                          : fileFromEnvironment};
    paths += (dirsFromEnvironment.isEmpty() ? QByteArray(X509_get_default_cert_dir()) : dirsFromEnvironment).split(':');
    return paths;
}

// What the system's root files look like now. Adding or removing a root
// changes the bundle file or the directory (a replaced file has a new inode;
// the status-change time cannot be set back).
QByteArray systemStoreStamp()
{
    QByteArray stamp;
    for (const QByteArray &path : systemStorePaths()) {
        stamp += path;
        struct stat info
        {
        };
        if (::stat(path.constData(), &info) == 0) {
            const qint64 fields[]
                = {qint64(info.st_dev),         qint64(info.st_ino),          qint64(info.st_size),
                   qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec), qint64(info.st_ctim.tv_sec),
                   qint64(info.st_ctim.tv_nsec)};
            stamp += QByteArray(reinterpret_cast<const char *>(fields), sizeof(fields));
        }
        stamp += '\0';
    }
    return stamp;
}

std::shared_ptr<X509_STORE> build(const TrustAnchors &anchors)
{
    std::shared_ptr<X509_STORE> store(X509_STORE_new(), X509_STORE_free);
    if (!store)
        return nullptr;
    if (anchors.systemStore && X509_STORE_set_default_paths(store.get()) != 1)
        return nullptr;
    if (!anchors.extraPem.isEmpty()) {
        OpenSsl::Bio pem(BIO_new_mem_buf(anchors.extraPem.constData(), int(anchors.extraPem.size())));
        while (OpenSsl::Cert cert{PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)}) {
            if (X509_STORE_add_cert(store.get(), cert.get()) != 1)
                return nullptr;
        }
    }
    ERR_clear_error(); // the loop ends on "no start line"; missing default paths leave errors too
    return store;
}

class Cache
{
public:
    quint64 generation()
    {
        QMutexLocker locker(&m_mutex);
        return currentGeneration();
    }

    std::shared_ptr<X509_STORE> store(const TrustAnchors &anchors)
    {
        QMutexLocker locker(&m_mutex);
        const quint64 generation = anchors.systemStore ? currentGeneration() : 0;
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->systemStore != anchors.systemStore || it->extraPem != anchors.extraPem)
                continue;
            if (it->generation == generation)
                return it->store;
            m_entries.erase(it); // checks still running keep their copy
            break;
        }
        std::shared_ptr<X509_STORE> store = build(anchors);
        if (!store)
            return nullptr;
        if (m_entries.size() >= MaxStores)
            m_entries.erase(m_entries.begin());
        m_entries.push_back({anchors.systemStore, anchors.extraPem, generation, store});
        return store;
    }

private:
    // The system's anchors, and a few of tests and benchmarks.
    static constexpr size_t MaxStores = 8;

    quint64 currentGeneration()
    {
        const QByteArray stamp = systemStoreStamp();
        if (stamp != m_stamp) {
            m_stamp = stamp;
            ++m_generation;
        }
        return m_generation;
    }

    struct Entry
    {
        bool systemStore;
        QByteArray extraPem;
        quint64 generation;
        std::shared_ptr<X509_STORE> store;
    };
    QMutex m_mutex;
    std::vector<Entry> m_entries;
    QByteArray m_stamp;
    quint64 m_generation = 0;
};

Cache &cache()
{
    static Cache instance;
    return instance;
}

} // namespace

std::shared_ptr<X509_STORE> shared(const TrustAnchors &anchors)
{
    return cache().store(anchors);
}

quint64 systemGeneration()
{
    return cache().generation();
}

} // namespace Authenticode::TrustStore
