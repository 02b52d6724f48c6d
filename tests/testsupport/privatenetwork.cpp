#include "privatenetwork.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString failure(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeFile(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

} // namespace

QString enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        if (errno != EPERM)
            return failure("unshare(CLONE_NEWNET)");
        // Unprivileged: a user namespace that maps the same ids, so files,
        // the D-Bus session and the credential store still see this user.
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return failure("unshare(CLONE_NEWUSER | CLONE_NEWNET)");
        if (!writeFile("/proc/self/setgroups", "deny")
            || !writeFile("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1")
            || !writeFile("/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1"))
            return failure("writing the user namespace's id maps");
    }
    // A new namespace's loopback starts down.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failure("socket");
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = short(request.ifr_flags | IFF_UP);
        up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    const QString error = up ? QString() : failure("bringing up lo");
    ::close(fd);
    return error;
}
