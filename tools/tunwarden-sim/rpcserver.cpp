#include "rpcserver.h"

#include "agentservice.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

namespace {

// Reports carry many records, but nothing a client sends needs more than this.
constexpr qint64 MaxMessageBytes = 16 * 1024 * 1024;
// An opening handshake is a few hundred bytes; anything longer is not one.
constexpr qint64 MaxHandshakeBytes = 16 * 1024;

void refuseHandshake(QTcpSocket *socket, const QByteArray &status)
{
    socket->write("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

QByteArray encode(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

RpcServer::RpcServer(AgentService *service, int delayMs, int dropAfterSeconds, QObject *parent)
    : QObject(parent)
    , service(service)
    , listener(new QTcpServer(this))
    , server(new QWebSocketServer(QStringLiteral("tunwarden"), QWebSocketServer::NonSecureMode, this))
    , delayMs(delayMs)
    , dropAfterSeconds(dropAfterSeconds)
{
    connect(listener, &QTcpServer::newConnection, this, &RpcServer::onTcpConnection);
    connect(server, &QWebSocketServer::newConnection, this, &RpcServer::onNewConnection);
    connect(service, &AgentService::push, this, &RpcServer::broadcast);
}

bool RpcServer::listen(quint16 port)
{
    return listener->listen(QHostAddress::LocalHost, port);
}

quint16 RpcServer::port() const
{
    return listener->serverPort();
}

QString RpcServer::errorString() const
{
    return listener->errorString();
}

void RpcServer::closeAll()
{
    const QList<QWebSocket *> open = clients;
    for (QWebSocket *socket : open) {
        socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("agent stopping"));
        socket->flush();
    }
}

void RpcServer::restart(int pauseSeconds, bool keepSessions)
{
    const quint16 listeningPort = port();
    service->note(QStringLiteral("restarting: every link closed, not listening for %1 s").arg(pauseSeconds));
    // The port shuts before any link hears of the restart: a client that
    // tries again at once must find nothing there.
    listener->close();
    closeAll();
    service->restart(keepSessions);
    // Precise: a coarse timer may end the pause up to 5 % early, and the
    // pause is what a client's retries are measured against.
    QTimer::singleShot(pauseSeconds * 1000, Qt::PreciseTimer, this, [this, listeningPort] {
        if (!listen(listeningPort)) {
            std::fprintf(stderr, "cannot listen again on 127.0.0.1:%u: %s\n", unsigned(listeningPort),
                         qPrintable(errorString()));
            QCoreApplication::exit(1);
            return;
        }
        service->note(QStringLiteral("listening again on 127.0.0.1:%1").arg(listeningPort));
    });
}

void RpcServer::onTcpConnection()
{
    while (QTcpSocket *socket = listener->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { screenHandshake(socket); });
    }
}

void RpcServer::screenHandshake(QTcpSocket *socket)
{
    // Peek only: an accepted request is read again by the WebSocket server.
    const QByteArray head = socket->peek(MaxHandshakeBytes);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= MaxHandshakeBytes) {
            socket->disconnect(this);
            refuseHandshake(socket, "431 Request Header Fields Too Large");
        }
        return;
    }
    socket->disconnect(this);

    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    QByteArray target = requestLine.value(1);
    const qsizetype query = target.indexOf('?');
    if (query >= 0)
        target.truncate(query);
    if (target != "/rpc") {
        refuseHandshake(socket, "404 Not Found");
        return;
    }
    // Browsers may open WebSockets to localhost from any web page and always
    // send an Origin; the desktop client sends none. An empty value counts too.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).trimmed().toLower().startsWith("origin:")) {
            refuseHandshake(socket, "403 Forbidden");
            return;
        }
    }
    // From here the WebSocket owns the socket and its end.
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    server->handleConnection(socket);
}

void RpcServer::onNewConnection()
{
    while (QWebSocket *socket = server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        clients.append(socket);
        const int number = ++linkCount;
        socket->setProperty("link", number);
        service->note(QStringLiteral("link %1 opened").arg(number));
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray &bytes) { onMessage(socket, bytes); });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { onMessage(socket, text.toUtf8()); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket, number] {
            clients.removeAll(socket);
            service->note(QStringLiteral("link %1 closed").arg(number));
        });
        if (dropAfterSeconds > 0) {
            QTimer::singleShot(dropAfterSeconds * 1000, socket, [socket] { socket->abort(); });
        }
    }
}

void RpcServer::onMessage(QWebSocket *socket, const QByteArray &bytes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        reply(socket, QJsonValue::Null, false,
              AgentService::errorObject(AgentService::ParseError, QStringLiteral("Parse error")));
        return;
    }
    const QJsonObject request = document.object();
    // An object without "id" is a notification: it is carried out (when it is
    // well formed) but never answered.
    const bool notification = document.isObject() && !request.contains(QLatin1String("id"));
    const QJsonValue id
        = request.contains(QLatin1String("id")) ? request.value(QLatin1String("id")) : QJsonValue(QJsonValue::Null);
    const QJsonValue method = request.value(QLatin1String("method"));
    const QJsonValue params = request.value(QLatin1String("params"));
    if (!document.isObject() || !method.isString() || !(params.isUndefined() || params.isObject())) {
        if (!notification)
            reply(socket, id, false,
                  AgentService::errorObject(AgentService::InvalidRequest, QStringLiteral("Invalid Request")));
        return;
    }
    service->trace(
        QStringLiteral("request \"%1\" on link %2").arg(method.toString()).arg(socket->property("link").toInt()));
    const AgentService::Reply answer = service->handle(method.toString(), params.toObject());
    if (!notification)
        reply(socket, id, answer.ok, answer.value);
}

void RpcServer::reply(QWebSocket *socket, const QJsonValue &id, bool ok, const QJsonValue &value)
{
    const QString text = QString::fromUtf8(encode(QJsonObject{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("id"), id},
        {ok ? QStringLiteral("result") : QStringLiteral("error"), value},
    }));
    if (delayMs <= 0) {
        socket->sendTextMessage(text);
        return;
    }
    // The socket is the timer's context: a reply to a closed link is dropped.
    QTimer::singleShot(delayMs, socket, [socket, text] { socket->sendTextMessage(text); });
}

void RpcServer::broadcast(int id, const QJsonValue &value)
{
    const QString text = QString::fromUtf8(encode(QJsonObject{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("id"), id},
        {QStringLiteral("result"), value},
    }));
    for (QWebSocket *socket : std::as_const(clients))
        socket->sendTextMessage(text);
}
