#include "instanceipc.h"

#include <QLocalServer>

#include <memory>

struct InstanceMemory::Private
{
    std::unique_ptr<QSharedMemory> memory;
};

InstanceMemory::InstanceMemory(const QString &blockName)
    : d(new Private)
{
    // Named kernel objects live in the user's session. Newer Qt deprecates the
    // string-key constructor in favour of this spelling of the same key.
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    d->memory = std::make_unique<QSharedMemory>(QSharedMemory::legacyNativeKey(blockName));
#else
    d->memory = std::make_unique<QSharedMemory>(blockName);
#endif
}

InstanceMemory::~InstanceMemory()
{
    delete d;
}

bool InstanceMemory::create(int size)
{
    return d->memory->create(size);
}

bool InstanceMemory::attach()
{
    return d->memory->attach();
}

bool InstanceMemory::isAttached() const
{
    return d->memory->isAttached();
}

bool InstanceMemory::lock()
{
    return d->memory->lock();
}

bool InstanceMemory::unlock()
{
    return d->memory->unlock();
}

void *InstanceMemory::data() const
{
    return d->memory->data();
}

int InstanceMemory::size() const
{
    return int(d->memory->size());
}

QSharedMemory::SharedMemoryError InstanceMemory::error() const
{
    return d->memory->error();
}

QString InstanceMemory::errorString() const
{
    return d->memory->errorString();
}

QString instanceServerName(const QString &blockName)
{
    return blockName;
}

bool listenForInstances(QLocalServer *server, const QString &serverName, bool userOnly)
{
    QLocalServer::removeServer(serverName);
    server->setSocketOptions(userOnly ? QLocalServer::UserAccessOption : QLocalServer::WorldAccessOption);
    return server->listen(serverName);
}

void removeInstanceServer(const QString &)
{
    // A named pipe goes with the last handle to it: closing the server was enough.
}
