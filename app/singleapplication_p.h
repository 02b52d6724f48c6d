#pragma once

#include "instanceipc.h"
#include "instanceprotocol.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class SingleApplication;

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    // A command connection ends in CommandTaken: it carries one command, and
    // any byte after it closes the connection.
    enum Stage {
        AwaitHelloHeader = 0,
        AwaitHelloBody = 1,
        AwaitMessageHeader = 2,
        AwaitMessageBody = 3,
        CommandTaken = 4,
    };

    struct ClientState
    {
        qint64 expectedLength = 0;
        quint32 instanceId = 0;
        Stage stage = AwaitHelloHeader;
        qint8 kind = 0;
    };

    // How a contact with the primary ended. Gone: nothing listens on its
    // name, or it closed the connection unanswered, so it is not running
    // (its process id may have been reused, or it is a zombie).
    enum class Contact { Delivered, NoAnswer, Gone };

    explicit SingleApplicationPrivate(SingleApplication *owner);
    ~SingleApplicationPrivate() override;

    InstanceBlock *block() const;
    void becomePrimary();
    void registerSecondary();
    Contact contactPrimary(int timeoutMs, InstanceProtocol::ConnectionKind kind);
    // Logs the block's own error, or the given one, and ends the process with 1.
    [[noreturn]] void failAndExit();
    [[noreturn]] void failAndExit(QSharedMemory::SharedMemoryError error, const QString &text);
    static void randomPause();

    SingleApplication *q;
    InstanceMemory *memory = nullptr;
    QLocalSocket *socket = nullptr;
    QLocalServer *server = nullptr;
    quint32 ownInstanceId = 0;
    QString blockName;
    QString serverName;
    int options = 0;
    QHash<QLocalSocket *, ClientState> connections;
    QStringList extraKeyData;

public slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *client, quint32 instanceId);
    void slotClientConnectionClosed(QLocalSocket *client, quint32 instanceId);

private:
    void readStep(QLocalSocket *client);
    bool readFrameHeader(QLocalSocket *client, Stage next);
    bool readHello(QLocalSocket *client);
    bool frameComplete(QLocalSocket *client) const;
    void reject(QLocalSocket *client);
    void takeCommand(QLocalSocket *client);
};
