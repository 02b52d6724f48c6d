#include "instanceipc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The block is 152 bytes; anything far larger is not one.
constexpr qint64 maxBlockSize = 64 * 1024;

// A block name (44 characters) and the server's temporary suffix (a dot and
// a process id) after the directory and a slash.
constexpr qsizetype longestEntry = 1 + 44 + 1 + 10;

// A real directory (not a link to one) of this user that nobody else may
// enter, short enough that a socket in it can be named.
bool isPrivateDirectory(const QByteArray &path)
{
    struct stat info;
    return path.startsWith('/') && size_t(path.size() + longestEntry) < sizeof(sockaddr_un::sun_path)
           && ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid()
           && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool makePrivateDirectory(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (!native.startsWith('/'))
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // One that someone else made first under this name is theirs, not ours.
    return isPrivateDirectory(native);
}

// The first usable of: the session's runtime directory, a folder of this user
// in the temporary directory, one in the user's cache folder (where nobody
// else can take the name first). The names are the same in every process of
// the user, so all instances meet there.
QString privateDirectory()
{
    static const QString directory = [] {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (isPrivateDirectory(runtime))
            return QFile::decodeName(runtime);
        const QString uid = QString::number(::geteuid());
        const QString inTemp = QDir::tempPath() + QStringLiteral("/orvalin-") + uid;
        if (makePrivateDirectory(inTemp))
            return inTemp;
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        const QString inCache = cache + QStringLiteral("/orvalin-instance-") + uid;
        if (!cache.isEmpty() && makePrivateDirectory(inCache))
            return inCache;
        return QString();
    }();
    return directory;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

struct InstanceMemory::Private
{
    QString path;
    int fd = -1;
    void *data = nullptr;
    qint64 size = 0;
    QSharedMemory::SharedMemoryError error = QSharedMemory::NoError;
    QString errorString;

    bool fail(QSharedMemory::SharedMemoryError code, const QString &text)
    {
        error = code;
        errorString = path + QStringLiteral(": ") + text;
        return false;
    }

    bool failFromErrno()
    {
        const QSharedMemory::SharedMemoryError code
            = errno == ENOENT                      ? QSharedMemory::NotFound
              : errno == EACCES || errno == EPERM  ? QSharedMemory::PermissionDenied
              : errno == ENOSPC || errno == ENOMEM ? QSharedMemory::OutOfResources
                                                   : QSharedMemory::UnknownError;
        return fail(code, errnoText());
    }

    bool map(int file, qint64 bytes)
    {
        void *mapped = nullptr;
        if (bytes > 0) {
            mapped = ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
            if (mapped == MAP_FAILED) {
                failFromErrno();
                ::close(file);
                return false;
            }
        }
        fd = file;
        data = mapped;
        size = bytes;
        return true;
    }
};

InstanceMemory::InstanceMemory(const QString &blockName)
    : d(new Private)
{
    const QString directory = privateDirectory();
    if (!directory.isEmpty())
        d->path = directory + QLatin1Char('/') + blockName + QStringLiteral(".block");
}

InstanceMemory::~InstanceMemory()
{
    // The file stays: a process that has it open still shares it with the next
    // start, which a removed and recreated file would split in two.
    if (d->data)
        ::munmap(d->data, size_t(d->size));
    if (d->fd >= 0)
        ::close(d->fd);
    delete d;
}

bool InstanceMemory::create(int size)
{
    d->error = QSharedMemory::NoError;
    d->errorString.clear();
    if (d->path.isEmpty())
        return d->fail(QSharedMemory::KeyError, QStringLiteral("no directory of this user's own for the block"));
    if (isAttached())
        return d->fail(QSharedMemory::AlreadyExists, QStringLiteral("already attached"));
    // Made whole under a temporary name and linked into place, so whoever
    // finds the block finds all of its bytes.
    QByteArray temporary = QFile::encodeName(d->path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return d->failFromErrno();
    bool linked = false;
    if (::ftruncate(fd, size) != 0)
        d->failFromErrno();
    else if (::link(temporary.constData(), QFile::encodeName(d->path).constData()) != 0)
        errno == EEXIST ? d->fail(QSharedMemory::AlreadyExists, QStringLiteral("the block exists already"))
                        : d->failFromErrno();
    else
        linked = true;
    ::unlink(temporary.constData());
    if (!linked) {
        ::close(fd);
        return false;
    }
    return d->map(fd, size);
}

bool InstanceMemory::attach()
{
    d->error = QSharedMemory::NoError;
    d->errorString.clear();
    if (d->path.isEmpty())
        return d->fail(QSharedMemory::KeyError, QStringLiteral("no directory of this user's own for the block"));
    if (isAttached())
        return true;
    const int fd = ::open(QFile::encodeName(d->path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return d->failFromErrno();
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return d->fail(QSharedMemory::PermissionDenied, QStringLiteral("not a file of this user"));
    }
    if (info.st_size > maxBlockSize) {
        ::close(fd);
        return d->fail(QSharedMemory::InvalidSize,
                       QStringLiteral("%1 bytes, far more than a block holds").arg(qint64(info.st_size)));
    }
    return d->map(fd, info.st_size);
}

bool InstanceMemory::isAttached() const
{
    return d->fd >= 0;
}

bool InstanceMemory::lock()
{
    if (!isAttached())
        return d->fail(QSharedMemory::LockError, QStringLiteral("not attached"));
    while (::flock(d->fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return d->fail(QSharedMemory::LockError, errnoText());
    }
    return true;
}

bool InstanceMemory::unlock()
{
    if (!isAttached() || ::flock(d->fd, LOCK_UN) != 0)
        return d->fail(QSharedMemory::LockError, isAttached() ? errnoText() : QStringLiteral("not attached"));
    return true;
}

void *InstanceMemory::data() const
{
    return d->data;
}

int InstanceMemory::size() const
{
    return int(d->size);
}

QSharedMemory::SharedMemoryError InstanceMemory::error() const
{
    return d->error;
}

QString InstanceMemory::errorString() const
{
    return d->errorString;
}

QString instanceServerName(const QString &blockName)
{
    const QString directory = privateDirectory();
    return directory.isEmpty() ? QString() : directory + QLatin1Char('/') + blockName;
}

bool listenForInstances(QLocalServer *server, const QString &serverName, bool userOnly)
{
    if (serverName.isEmpty())
        return false;
    // Bound under a name of this process and renamed into place. The server
    // knows the socket by the name it was bound to and removes that one when
    // it closes, so its closing can never take away a successor's socket.
    const QByteArray path = QFile::encodeName(serverName);
    const QByteArray bound = path + '.' + QByteArray::number(QCoreApplication::applicationPid());
    sockaddr_un address;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (size_t(bound.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, bound.constData(), size_t(bound.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::unlink(bound.constData());
    const bool ready = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0
                       && ::chmod(bound.constData(), userOnly ? S_IRWXU : (S_IRWXU | S_IRWXG | S_IRWXO)) == 0
                       && ::listen(fd, SOMAXCONN) == 0 && ::rename(bound.constData(), path.constData()) == 0;
    if (!ready) {
        ::unlink(bound.constData());
        ::close(fd);
        return false;
    }
    if (!server->listen(qintptr(fd))) {
        ::unlink(path.constData());
        ::close(fd);
        return false;
    }
    return true;
}

void removeInstanceServer(const QString &serverName)
{
    if (!serverName.isEmpty())
        ::unlink(QFile::encodeName(serverName).constData());
}
