#pragma once

#include "instanceprotocol.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class SingleApplication;

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    enum Stage { AwaitHelloHeader = 0, AwaitHelloBody = 1, AwaitMessageHeader = 2, AwaitMessageBody = 3 };

    struct ClientState
    {
        qint64 expectedLength = 0;
        quint32 instanceId = 0;
        Stage stage = AwaitHelloHeader;
    };

    explicit SingleApplicationPrivate(SingleApplication *owner);
    ~SingleApplicationPrivate() override;

    InstanceBlock *block() const;
    void becomePrimary();
    void registerSecondary();
    bool contactPrimary(int timeoutMs, InstanceProtocol::ConnectionKind kind);
    [[noreturn]] void failAndExit();
    static void randomPause();

    SingleApplication *q;
    QSharedMemory *memory = nullptr;
    QLocalSocket *socket = nullptr;
    QLocalServer *server = nullptr;
    quint32 ownInstanceId = 0;
    QString blockName;
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
};
