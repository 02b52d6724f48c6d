#pragma once

#include <QSharedMemory>
#include <QString>

class QLocalServer;

// Where the single-instance block and the local server live, by block name.
// On Linux both sit in a directory only this user can enter ($XDG_RUNTIME_DIR,
// or a 0700 folder of the user's own), so another account can neither take
// the names first nor reach the block: the shared temporary directory and the
// system-wide key space of System V memory would let it. On Windows they are
// Qt's named kernel objects and pipes of the user's session.

// The shared block, locked between processes. The interface is the part of
// QSharedMemory the guard uses, with its error codes.
class InstanceMemory
{
public:
    explicit InstanceMemory(const QString &blockName);
    ~InstanceMemory();
    InstanceMemory(const InstanceMemory &) = delete;
    InstanceMemory &operator=(const InstanceMemory &) = delete;

    // Makes a new zero-filled block of `size` bytes and attaches it; false
    // with AlreadyExists when there is one already.
    bool create(int size);
    bool attach();
    bool isAttached() const;
    bool lock();
    bool unlock();
    void *data() const;
    int size() const;
    QSharedMemory::SharedMemoryError error() const;
    QString errorString() const;

private:
    struct Private;
    Private *d;
};

// The name the local server listens on and clients connect to.
QString instanceServerName(const QString &blockName);

// Listens on `serverName`, replacing a server left there by a primary that
// died. `userOnly` limits the socket to this user. Closing or deleting the
// server later never removes the name: a successor may be listening on it by
// then, so only removeInstanceServer does.
bool listenForInstances(QLocalServer *server, const QString &serverName, bool userOnly);
void removeInstanceServer(const QString &serverName);
