#pragma once

#include <QJsonValue>
#include <QList>
#include <QObject>

class AgentService;
class QWebSocket;
class QWebSocketServer;
class QWebSocketCorsAuthenticator;

// The WebSocket front of the agent: loopback only, path "/rpc" only, no
// browser pages (any Origin header is refused). Requests come in binary or
// text frames; replies and pushes go out as text frames.
class RpcServer : public QObject
{
    Q_OBJECT

public:
    RpcServer(AgentService *service, int delayMs, int dropAfterSeconds, QObject *parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const;
    QString errorString() const;

private:
    void onOriginCheck(QWebSocketCorsAuthenticator *authenticator);
    void onNewConnection();
    void onMessage(QWebSocket *socket, const QByteArray &bytes);
    void reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QJsonValue &value);
    void broadcast(int id, const QJsonValue &value);

    AgentService *service;
    QWebSocketServer *server;
    QList<QWebSocket *> clients;
    int delayMs;
    int dropAfterSeconds;
};
