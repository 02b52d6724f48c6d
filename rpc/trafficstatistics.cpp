#include "trafficstatistics.h"

#include "jsonrpcwebsocketclient.h"

#include <QJsonObject>

TrafficStatistics::TrafficStatistics(QObject *parent)
    : QObject(parent)
{
}

void TrafficStatistics::setClient(JsonRpcWebSocketClient *client)
{
    rpcClient = client;
    if (!client)
        return;
    QPointer<TrafficStatistics> self(this);
    client->registerCallback(statId, [self](const QJsonValue &reply) {
        if (!self)
            return;
        const QJsonObject stats = reply.toObject();
        if (stats.contains(QLatin1String("code")))
            return;
        self->sent = stats.value(QLatin1String("bytesSent")).toDouble(0);
        self->received = stats.value(QLatin1String("bytesReceived")).toDouble(0);
        emit self->updated();
    });
}

bool TrafficStatistics::request()
{
    if (!rpcClient || !rpcClient->isConnected())
        return false;
    rpcClient->sendRequest(QStringLiteral("stat"), statId, QJsonObject(), ReplyCallback());
    return true;
}

double TrafficStatistics::bytesSent() const
{
    return sent;
}

double TrafficStatistics::bytesReceived() const
{
    return received;
}
