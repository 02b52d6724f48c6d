#pragma once

#include <QObject>
#include <QPointer>

class JsonRpcWebSocketClient;

// The agent's traffic counters, from "stat" (id 7). Every reply under an id
// reaches the first callback registered for it, so this is the one reader of
// id 7: whoever wants the figures asks here and is told when they arrive.
class TrafficStatistics : public QObject
{
    Q_OBJECT

public:
    static constexpr int statId = 7;

    explicit TrafficStatistics(QObject *parent = nullptr);

    // Registers the reader of id 7; before anything sends "stat".
    void setClient(JsonRpcWebSocketClient *client);
    // Sends "stat" while the link is up; false when it could not go.
    bool request();

    // The figures of the last reply that carried them; -1 before one came.
    double bytesSent() const;
    double bytesReceived() const;

signals:
    // A reply with figures arrived (a reply with "code" is an error and
    // changes nothing).
    void updated();

private:
    QPointer<JsonRpcWebSocketClient> rpcClient;
    double sent = -1;
    double received = -1;
};
