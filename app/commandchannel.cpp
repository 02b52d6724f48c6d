#include "commandchannel.h"

#include "instanceprotocol.h"

#include <QElapsedTimer>
#include <QLocalSocket>

CommandChannel::CommandChannel(QLocalSocket *socket)
    : QObject(socket)
    , connection(socket)
{
    connect(connection, &QLocalSocket::disconnected, this, &CommandChannel::closed);
}

bool CommandChannel::send(const QByteArray &reply)
{
    if (!isOpen() || reply.size() > InstanceProtocol::maxReplyLength)
        return false;
    connection->write(InstanceProtocol::encodeFrameHeader(reply.size()) + reply);
    connection->flush();
    return true;
}

bool CommandChannel::isOpen() const
{
    return connection->state() == QLocalSocket::ConnectedState;
}

void CommandChannel::flush(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (isOpen() && connection->bytesToWrite() > 0 && timer.elapsed() < timeoutMs)
        connection->waitForBytesWritten(int(qMax<qint64>(1, timeoutMs - timer.elapsed())));
}
