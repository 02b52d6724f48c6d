#pragma once

#include <QJsonValue>
#include <QList>
#include <QObject>

class AgentService;
class QWebSocket;
class QWebSocketServer;
class QTcpServer;
class QTcpSocket;

// The WebSocket front of the agent: loopback only, path "/rpc" only, no
// browser pages (a handshake that carries an Origin header at all is
// refused). Both are checked on the raw HTTP request, before the handshake
// completes. Requests come in binary or text frames; replies and pushes go out
// as text frames; notifications (no "id") get no answer.
class RpcServer : public QObject
{
    Q_OBJECT

public:
    RpcServer(AgentService *service, int delayMs, int dropAfterSeconds, QObject *parent = nullptr);

    bool listen(quint16 port);
    quint16 port() const;
    QString errorString() const;
    // Ends every client's link with a close frame, as a stopping agent does.
    void closeAll();
    // A restart of the service: every link closed, nothing accepted for
    // `pauseSeconds`, then listening again on the same port.
    void restart(int pauseSeconds, bool keepSessions);

private:
    void onTcpConnection();
    void screenHandshake(QTcpSocket *socket);
    void onNewConnection();
    void onMessage(QWebSocket *socket, const QByteArray &bytes);
    void reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QJsonValue &value);
    void broadcast(int id, const QJsonValue &value);

    AgentService *service;
    QTcpServer *listener;
    QWebSocketServer *server;
    QList<QWebSocket *> clients;
    // Links are numbered in the log as they open.
    int linkCount = 0;
    int delayMs;
    int dropAfterSeconds;
};
