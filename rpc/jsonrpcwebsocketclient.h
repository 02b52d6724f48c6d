#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QUrl>

#include <functional>

class QWebSocket;

using ReplyCallback = std::function<void(QJsonValue)>;

// JSON-RPC 2.0 over one WebSocket to the local agent. Every message the agent
// sends under an id reaches the first callback registered for that id, so the
// agent's later pushes under a request's id arrive at the same handler.
class JsonRpcWebSocketClient : public QObject
{
    Q_OBJECT

public:
    explicit JsonRpcWebSocketClient(QObject *parent = nullptr);
    ~JsonRpcWebSocketClient() override;

    void connectToServer(const QUrl &url);
    bool isConnected() const;

    void sendRequest(const QString &method, int id, const QJsonObject &params, const ReplyCallback &callback);
    void sendRequest(const QString &method, int id, const ReplyCallback &callback);
    void registerCallback(int id, const ReplyCallback &callback);

    // The request as it goes on the wire: compact JSON, members in key order.
    static QByteArray encodeRequest(const QString &method, int id, const QJsonObject &params);

signals:
    void error(const QString &error);
    void connected();

private slots:
    void onTextMessageReceived(const QString &message);

private:
    bool socketConnected = false;
    QHash<int, ReplyCallback> callbacks;
    QWebSocket *webSocket = nullptr;
};
