#pragma once

#include <QByteArray>
#include <QObject>

class QLocalSocket;

// The primary's end of one command connection: the replies to the command go
// back through it, a frame each (the body's length as a big-endian int64, then
// the body). It is a child of the connection, so it goes when the other
// process hangs up.
class CommandChannel : public QObject
{
    Q_OBJECT

public:
    explicit CommandChannel(QLocalSocket *connection);

    // Sends one reply; false when it cannot go (too large, or nobody listens).
    bool send(const QByteArray &reply);
    bool isOpen() const;
    // Waits a moment for what was sent to leave: the process may be about to end.
    void flush(int timeoutMs = 1000);

signals:
    // The other process hung up.
    void closed();

private:
    QLocalSocket *connection;
};
