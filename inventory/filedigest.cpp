#include "filedigest.h"

#include <QFile>
#include <QThread>

#include <openssl/evp.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace FileDigest {

namespace {

constexpr qint64 BlockSize = 256 * 1024;
constexpr int BlockCount = 4;

struct MdCtxDeleter
{
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

MdCtx newContext(const EVP_MD *md)
{
    MdCtx ctx(EVP_MD_CTX_new());
    if (ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        ctx.reset();
    return ctx;
}

QByteArray finalHex(EVP_MD_CTX *ctx)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

const EVP_MD *evpFor(QCryptographicHash::Algorithm algorithm)
{
    switch (algorithm) {
    case QCryptographicHash::Md5:
        return EVP_md5();
    case QCryptographicHash::Sha1:
        return EVP_sha1();
    case QCryptographicHash::Sha224:
        return EVP_sha224();
    case QCryptographicHash::Sha256:
        return EVP_sha256();
    case QCryptographicHash::Sha384:
        return EVP_sha384();
    case QCryptographicHash::Sha512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

// Counts the bytes read and calls back once, when half of the file's size is in.
class HalfWatch
{
public:
    HalfWatch(qint64 size, const std::function<void()> &callback)
        : m_size(size)
        , m_callback(callback)
    {
    }
    void add(qint64 bytes)
    {
        m_read += bytes;
        if (!m_done && m_read * 2 >= m_size && m_size > 0)
            fire();
    }
    void finish()
    {
        if (!m_done)
            fire();
    }

private:
    void fire()
    {
        m_done = true;
        if (m_callback)
            m_callback();
    }
    qint64 m_size;
    qint64 m_read = 0;
    bool m_done = false;
    const std::function<void()> &m_callback;
};

Pair singleThread(QFile &file, HalfWatch &half)
{
    MdCtx md5 = newContext(EVP_md5());
    MdCtx sha = newContext(EVP_sha256());
    if (!md5 || !sha)
        return Pair();
    std::vector<char> buffer(BlockSize);
    bool failed = false;
    while (true) {
        const qint64 n = file.read(buffer.data(), BlockSize);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(md5.get(), buffer.data(), size_t(n));
        EVP_DigestUpdate(sha.get(), buffer.data(), size_t(n));
        half.add(n);
    }
    half.finish();
    if (failed)
        return Pair();
    return Pair{true, finalHex(md5.get()), finalHex(sha.get())};
}

// The calling thread reads each block and feeds SHA-256, then hands the block
// to a helper thread that feeds MD5; a few blocks in flight keep both busy.
Pair twoThreads(QFile &file, HalfWatch &half)
{
    MdCtx md5 = newContext(EVP_md5());
    MdCtx sha = newContext(EVP_sha256());
    if (!md5 || !sha)
        return Pair();

    struct Block
    {
        std::vector<char> data = std::vector<char>(BlockSize);
        qint64 size = 0;
    };
    Block blocks[BlockCount];
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int> free = {0, 1, 2, 3};
    std::deque<int> full;
    bool endOfInput = false;

    std::thread md5Thread([&] {
        while (true) {
            int index;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !full.empty() || endOfInput; });
                if (full.empty())
                    return;
                index = full.front();
                full.pop_front();
            }
            EVP_DigestUpdate(md5.get(), blocks[index].data.data(), size_t(blocks[index].size));
            {
                std::lock_guard<std::mutex> lock(mutex);
                free.push_back(index);
            }
            changed.notify_all();
        }
    });

    bool failed = false;
    while (true) {
        int index;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !free.empty(); });
            index = free.front();
            free.pop_front();
        }
        Block &block = blocks[index];
        block.size = file.read(block.data.data(), BlockSize);
        if (block.size <= 0) {
            failed = block.size < 0;
            std::lock_guard<std::mutex> lock(mutex);
            free.push_back(index);
            break;
        }
        EVP_DigestUpdate(sha.get(), block.data.data(), size_t(block.size));
        const qint64 size = block.size;
        {
            std::lock_guard<std::mutex> lock(mutex);
            full.push_back(index);
        }
        changed.notify_all();
        half.add(size);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        endOfInput = true;
    }
    changed.notify_all();
    md5Thread.join();
    half.finish();
    if (failed)
        return Pair();
    return Pair{true, finalHex(md5.get()), finalHex(sha.get())};
}

} // namespace

Pair md5AndSha256(const QString &filePath, const std::function<void()> &halfRead, Threads threads)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Pair();
    HalfWatch half(file.size(), halfRead);
    // A small file is done before a second thread would have started.
    if (threads == Threads::Auto && QThread::idealThreadCount() > 1 && file.size() > 4 * BlockSize)
        return twoThreads(file, half);
    return singleThread(file, half);
}

// Feeds the whole file to feed() block by block; false when a read fails.
template<typename Feed>
bool readBlocks(QFile &file, Feed feed)
{
    std::vector<char> buffer(BlockSize);
    while (true) {
        const qint64 n = file.read(buffer.data(), BlockSize);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        feed(buffer.data(), n);
    }
}

QByteArray hexDigest(const QString &filePath, QCryptographicHash::Algorithm algorithm)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    const EVP_MD *md = evpFor(algorithm);
    if (!md) {
        // Digests OpenSSL is not asked for here (SHA-3, BLAKE2 ...) stay with Qt.
        QCryptographicHash hash(algorithm);
        if (!readBlocks(file, [&](const char *data, qint64 n) { hash.addData(QByteArrayView(data, n)); }))
            return QByteArray();
        return hash.result().toHex();
    }
    MdCtx ctx = newContext(md);
    if (!ctx)
        return QByteArray();
    if (!readBlocks(file, [&](const char *data, qint64 n) { EVP_DigestUpdate(ctx.get(), data, size_t(n)); }))
        return QByteArray();
    return finalHex(ctx.get());
}

} // namespace FileDigest
