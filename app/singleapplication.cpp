#include "singleapplication.h"
#include "singleapplication_p.h"

#include "commandchannel.h"
#include "processprobe.h"
#include "username.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QThread>

#include <cstdlib>

using namespace InstanceProtocol;

namespace {
const char *errorName(QSharedMemory::SharedMemoryError error)
{
    switch (error) {
    case QSharedMemory::NoError:
        return "NoError";
    case QSharedMemory::PermissionDenied:
        return "PermissionDenied";
    case QSharedMemory::InvalidSize:
        return "InvalidSize";
    case QSharedMemory::KeyError:
        return "KeyError";
    case QSharedMemory::AlreadyExists:
        return "AlreadyExists";
    case QSharedMemory::NotFound:
        return "NotFound";
    case QSharedMemory::LockError:
        return "LockError";
    case QSharedMemory::OutOfResources:
        return "OutOfResources";
    case QSharedMemory::UnknownError:
        break;
    }
    return "UnknownError";
}

void debugUnlockFailure(const char *text, const InstanceMemory *memory)
{
    qDebug("%s", text);
    qDebug().noquote() << memory->errorString();
}
} // namespace

SingleApplication::SingleApplication(int &argc, char *argv[], bool secondaryAllowed, int options, int timeoutMs,
                                     const QString &extraData, const SecondaryStart &secondaryStart)
    : QApplication(argc, argv)
    , d(new SingleApplicationPrivate(this))
{
    d->options = options;
    if (!extraData.isEmpty())
        d->extraKeyData.append(extraData);
    d->blockName = ownBlockName(options, extraData);
    d->serverName = instanceServerName(d->blockName);
    SingleApplicationPrivate::randomPause();

    d->memory = new InstanceMemory(d->blockName);
    if (d->memory->create(int(sizeof(InstanceBlock)))) {
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory block after create.");
            d->failAndExit();
        }
        resetBlock(*d->block());
    } else if (d->memory->error() == QSharedMemory::AlreadyExists) {
        if (!d->memory->attach()) {
            qCritical("SingleApplication: Unable to attach to shared memory block.");
            d->failAndExit();
        }
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory block after attach.");
            d->failAndExit();
        }
        // Not a block of this program (another build, a damaged file): reading
        // it as one would run past its end.
        if (d->memory->size() < int(sizeof(InstanceBlock))) {
            const int size = d->memory->size();
            d->memory->unlock();
            qCritical("SingleApplication: Shared memory block is smaller than expected.");
            d->failAndExit(
                QSharedMemory::InvalidSize,
                QStringLiteral("the block holds %1 bytes, %2 expected").arg(size).arg(sizeof(InstanceBlock)));
        }
    } else {
        qCritical("SingleApplication: Unable to create block.");
        d->failAndExit();
    }

    QElapsedTimer inconsistent;
    inconsistent.start();
    while (!isConsistent(*d->block())) {
        if (inconsistent.elapsed() > 5000) {
            qWarning("SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
                     "Assuming primary instance failure.");
            resetBlock(*d->block());
        }
        if (!d->memory->unlock())
            debugUnlockFailure("SingleApplication: Unable to unlock memory for random wait.", d->memory);
        SingleApplicationPrivate::randomPause();
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory after random wait.");
            d->failAndExit();
        }
    }

    // A primary that was killed never cleared the block. Only a process that
    // is gone counts: a primary that is alive but busy keeps its place.
    InstanceBlock *block = d->block();
    if (block->hasPrimary && !processExists(block->primaryProcessId)) {
        qWarning("SingleApplication: The primary instance (process %lld) no longer exists; taking its place.",
                 static_cast<long long>(block->primaryProcessId));
        resetBlock(*block);
    }

    if (!block->hasPrimary) {
        d->becomePrimary();
        if (!d->memory->unlock())
            debugUnlockFailure("SingleApplication: Unable to unlock memory after primary start.", d->memory);
        return;
    }

    if (secondaryAllowed) {
        d->registerSecondary();
        if (d->options & NotifySecondary)
            d->contactPrimary(timeoutMs, KindSecondary);
        if (!d->memory->unlock())
            debugUnlockFailure("SingleApplication: Unable to unlock memory after secondary start.", d->memory);
        return;
    }

    // A process id alone can mislead: it may belong to a new process by now,
    // or to a zombie. A primary whose name nobody listens on, or that hangs up
    // unanswered, is gone; this start takes its place unless a successor has
    // come meanwhile, which it then tells instead.
    int exitStatus = EXIT_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        const qint64 contacted = block->primaryProcessId;
        if (!d->memory->unlock())
            debugUnlockFailure("SingleApplication: Unable to unlock memory at end of execution.", d->memory);
        SingleApplicationPrivate::Contact contact;
        if (secondaryStart) {
            const std::optional<int> status = secondaryStart(d->serverName, d->blockName);
            contact = status ? SingleApplicationPrivate::Contact::Delivered : SingleApplicationPrivate::Contact::Gone;
            // A command that reached no primary has not been carried out.
            exitStatus = status.value_or(EXIT_FAILURE);
        } else {
            contact = d->contactPrimary(timeoutMs, KindNewInstance);
        }
        if (contact != SingleApplicationPrivate::Contact::Gone || attempt == 3)
            break;
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory after contacting the primary.");
            d->failAndExit();
        }
        block = d->block();
        if (isConsistent(*block) && block->hasPrimary && block->primaryProcessId != contacted)
            continue;
        if (block->hasPrimary && block->primaryProcessId == contacted)
            qWarning("SingleApplication: The primary instance (process %lld) does not answer on its socket; taking "
                     "its place.",
                     static_cast<long long>(contacted));
        resetBlock(*block);
        d->becomePrimary();
        if (!d->memory->unlock())
            debugUnlockFailure("SingleApplication: Unable to unlock memory after primary start.", d->memory);
        return;
    }
    delete d;
    d = nullptr;
    ::exit(exitStatus);
}

SingleApplication::~SingleApplication()
{
    delete d;
}

QString SingleApplication::ownBlockName(int options, const QString &extraData)
{
    const QStringList extraKeyData = extraData.isEmpty() ? QStringList() : QStringList{extraData};
    return computeBlockName({applicationName(), organizationName(), organizationDomain(), extraKeyData,
                             applicationVersion(), applicationFilePath(), currentUserName(), options});
}

bool SingleApplication::isPrimary() const
{
    return d && d->server;
}

quint32 SingleApplication::instanceId() const
{
    return d ? d->ownInstanceId : 0;
}

QString SingleApplication::blockName() const
{
    return d ? d->blockName : QString();
}

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *owner)
    : q(owner)
{
}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    if (socket) {
        socket->close();
        delete socket;
        socket = nullptr;
    }
    if (memory) {
        if (memory->isAttached()) {
            memory->lock();
            if (server) {
                server->close();
                delete server;
                server = nullptr;
                // After a start took this primary's place (it did not answer,
                // or the block was reset as damaged), the record and the name
                // are the successor's.
                InstanceBlock *b = block();
                if (b->hasPrimary && b->primaryProcessId == QCoreApplication::applicationPid()) {
                    removeInstanceServer(serverName);
                    b->hasPrimary = false;
                    b->primaryProcessId = -1;
                    b->primaryUserName[0] = '\0';
                    b->checksum = infoChecksum(*b);
                }
            }
            memory->unlock();
        }
        delete memory;
        memory = nullptr;
    }
}

InstanceBlock *SingleApplicationPrivate::block() const
{
    return static_cast<InstanceBlock *>(memory->data());
}

void SingleApplicationPrivate::randomPause()
{
    const quint64 r = QRandomGenerator::global()->generate();
    QThread::msleep(8 + ((r * 10) >> 32));
}

void SingleApplicationPrivate::becomePrimary()
{
    InstanceBlock *b = block();
    b->hasPrimary = true;
    b->primaryProcessId = QCoreApplication::applicationPid();
    qstrncpy(b->primaryUserName, currentUserName().toUtf8().constData(), sizeof(b->primaryUserName));
    b->checksum = infoChecksum(*b);
    ownInstanceId = 0;

    server = new QLocalServer;
    listenForInstances(server, serverName, options & ScopeUser);
    connect(server, &QLocalServer::newConnection, this, &SingleApplicationPrivate::slotConnectionEstablished);
}

void SingleApplicationPrivate::registerSecondary()
{
    InstanceBlock *b = block();
    b->secondaryCount += 1;
    b->checksum = infoChecksum(*b);
    ownInstanceId = b->secondaryCount;
}

SingleApplicationPrivate::Contact SingleApplicationPrivate::contactPrimary(int timeoutMs, ConnectionKind kind)
{
    QElapsedTimer timer;
    timer.start();
    const auto remaining = [&] { return int(qMax<qint64>(0, timeoutMs - timer.elapsed())); };

    if (!socket)
        socket = new QLocalSocket;
    for (;;) {
        randomPause();
        if (socket->state() != QLocalSocket::ConnectingState)
            socket->connectToServer(serverName, QIODevice::ReadWrite);
        if (socket->state() == QLocalSocket::ConnectingState) {
            if (remaining() == 0)
                return Contact::NoAnswer;
            socket->waitForConnected(remaining());
        }
        if (socket->state() == QLocalSocket::ConnectedState)
            break;
        // The primary listens before it lets go of the block, so no socket,
        // or one nobody listens on, will not change by waiting.
        const QLocalSocket::LocalSocketError error = socket->error();
        if (error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError)
            return Contact::Gone;
        if (remaining() == 0)
            return Contact::NoAnswer;
    }

    const QByteArray body = encodeHello(blockName.toLatin1(), kind, qint32(ownInstanceId));
    const auto sendAndAwaitAck = [&](const QByteArray &bytes) {
        socket->write(bytes);
        socket->flush();
        if (socket->bytesAvailable() < 1) {
            if (remaining() == 0)
                return Contact::NoAnswer;
            // A busy primary still holds the connection; one that hung up refused it.
            if (!socket->waitForReadyRead(remaining()))
                return socket->state() == QLocalSocket::ConnectedState ? Contact::NoAnswer : Contact::Gone;
        }
        char ack = 0;
        return socket->read(&ack, 1) == 1 && ack == acknowledgement ? Contact::Delivered : Contact::NoAnswer;
    };
    const Contact header = sendAndAwaitAck(encodeFrameHeader(body.size()));
    return header == Contact::Delivered ? sendAndAwaitAck(body) : header;
}

void SingleApplicationPrivate::failAndExit()
{
    failAndExit(memory->error(), memory->errorString());
}

void SingleApplicationPrivate::failAndExit(QSharedMemory::SharedMemoryError error, const QString &text)
{
    qCritical().noquote() << QStringLiteral("SingleApplication: ") + QLatin1String(errorName(error)) + QLatin1Char(' ')
                                 + text;
    q->d = nullptr;
    delete this;
    ::exit(EXIT_FAILURE);
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    QLocalSocket *client = server->nextPendingConnection();
    if (!client)
        return;
    connections.insert(client, ClientState());
    connect(client, &QLocalSocket::aboutToClose, this, [this, client] {
        const auto it = connections.constFind(client);
        if (it != connections.constEnd())
            slotClientConnectionClosed(client, it->instanceId);
    });
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QObject::destroyed, this, [this, client] { connections.remove(client); });
    connect(client, &QLocalSocket::readyRead, this, [this, client] { readStep(client); });
}

void SingleApplicationPrivate::readStep(QLocalSocket *client)
{
    // A client may send more than one frame before we answer; keep stepping
    // while a step consumes something.
    for (;;) {
        const auto it = connections.constFind(client);
        if (it == connections.constEnd())
            return;
        bool progressed = false;
        switch (it->stage) {
        case AwaitHelloHeader:
            progressed = readFrameHeader(client, AwaitHelloBody);
            break;
        case AwaitHelloBody:
            progressed = readHello(client);
            break;
        case AwaitMessageHeader:
            progressed = readFrameHeader(client, AwaitMessageBody);
            break;
        case AwaitMessageBody:
            progressed = frameComplete(client);
            if (progressed)
                slotDataAvailable(client, it->instanceId);
            break;
        case CommandTaken:
            // One command per connection; what follows it is not ours.
            reject(client);
            return;
        }
        if (!progressed || client->bytesAvailable() == 0)
            return;
    }
}

bool SingleApplicationPrivate::readFrameHeader(QLocalSocket *client, Stage next)
{
    const auto it = connections.find(client);
    if (it == connections.end() || client->bytesAvailable() < 8)
        return false;
    char header[8];
    client->read(header, 8);
    const qint64 length = decodeFrameHeader(header);
    const qint64 bound = next == AwaitHelloBody    ? maxHelloLength
                         : it->kind == KindCommand ? maxCommandLength
                                                   : maxMessageLength;
    if (length < 0 || length > bound) {
        reject(client);
        return false;
    }
    it->expectedLength = length;
    it->stage = next;
    client->write(&acknowledgement, 1);
    return true;
}

bool SingleApplicationPrivate::frameComplete(QLocalSocket *client) const
{
    const auto it = connections.constFind(client);
    return it != connections.constEnd() && client->bytesAvailable() >= it->expectedLength;
}

bool SingleApplicationPrivate::readHello(QLocalSocket *client)
{
    if (!frameComplete(client))
        return false;
    const auto it = connections.find(client);
    const std::optional<Hello> hello = parseHello(client->read(it->expectedLength));
    if (!hello || hello->blockName != blockName.toLatin1()) {
        reject(client);
        return false;
    }
    it->instanceId = quint32(hello->instanceId);
    it->kind = hello->kind;
    it->stage = AwaitMessageHeader;
    const bool notify = hello->kind == KindNewInstance || (hello->kind == KindSecondary && (options & NotifySecondary));
    // Answer first: the new instance waits on a short timeout, and what
    // listens to the signal may take its time.
    client->write(&acknowledgement, 1);
    client->flush();
    if (notify)
        emit q->instanceStarted();
    return true;
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *client, quint32 instanceId)
{
    if (!frameComplete(client))
        return;
    const auto it = connections.find(client);
    if (it->kind == KindCommand) {
        takeCommand(client);
        return;
    }
    const QByteArray message = client->read(it->expectedLength);
    it->stage = AwaitMessageHeader;
    client->write(&acknowledgement, 1);
    emit q->receivedMessage(instanceId, message);
}

void SingleApplicationPrivate::takeCommand(QLocalSocket *client)
{
    const auto it = connections.find(client);
    const QByteArray command = client->read(it->expectedLength);
    it->stage = CommandTaken;
    client->write(&acknowledgement, 1);
    client->flush();
    // The channel lives as long as the connection: the handler keeps a guarded
    // pointer and finds it gone once the other process has hung up.
    auto *channel = new CommandChannel(client);
    emit q->commandReceived(command, channel);
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *client, quint32 instanceId)
{
    const auto it = connections.constFind(client);
    // A command whose sender has already hung up has nobody to answer.
    if (it != connections.constEnd() && it->stage == AwaitMessageBody && it->kind != KindCommand
        && client->bytesAvailable() > 0)
        slotDataAvailable(client, instanceId);
}

void SingleApplicationPrivate::reject(QLocalSocket *client)
{
    // Forget it first so closing does not offer its bytes as a message.
    connections.remove(client);
    client->abort();
    client->deleteLater();
}
