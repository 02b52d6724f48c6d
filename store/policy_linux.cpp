#include "policy.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Only root (or the user it applies to, who could do anything the policy
// stops anyway) may own what holds the policy, and nobody else may write it:
// a policy that another user could write would let them hand out a gateway
// of their own.
bool trustedOwner(const struct stat &info)
{
    return (info.st_uid == 0 || info.st_uid == ::geteuid()) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString Policy::defaultLocation()
{
    return QStringLiteral("/etc/kestrum-sslvpn/policy.json");
}

Policy Policy::read(const QString &location)
{
    const QByteArray path = QFile::encodeName(location);
    Descriptor file;
    // Non-blocking, so that a FIFO in its place cannot hold the start up.
    file.fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return Policy();
        return unusable(location, QStringLiteral("cannot be opened (%1); nothing of it applies")
                                      .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat info
    {
    };
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return unusable(location, QStringLiteral("is not a regular file; nothing of it applies"));
    if (!trustedOwner(info))
        return unusable(location, QStringLiteral("may be written by users other than root; nothing of it applies"));
    // The folder decides who may replace the file.
    const QString folder = QFileInfo(QFileInfo(location).canonicalFilePath()).path();
    struct stat folderInfo
    {
    };
    if (::stat(QFile::encodeName(folder).constData(), &folderInfo) != 0 || !trustedOwner(folderInfo))
        return unusable(location,
                        QStringLiteral("lies in a folder that users other than root may write; nothing of it applies"));
    if (info.st_size > maxFileSize)
        return unusable(location, QStringLiteral("is larger than %1 bytes; nothing of it applies").arg(maxFileSize));

    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return unusable(location, QStringLiteral("cannot be read (%1); nothing of it applies")
                                          .arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (got == 0)
            break;
        bytes.append(buffer, got);
        // It may have grown since it was looked at.
        if (bytes.size() > maxFileSize)
            return unusable(location,
                            QStringLiteral("is larger than %1 bytes; nothing of it applies").arg(maxFileSize));
    }
    return fromJson(bytes, location);
}
