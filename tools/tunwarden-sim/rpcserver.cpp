#include "rpcserver.h"

#include "agentservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

namespace {

// Reports carry many records, but nothing a client sends needs more than this.
constexpr qint64 MaxMessageBytes = 16 * 1024 * 1024;

QByteArray encode(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

RpcServer::RpcServer(AgentService *service, int delayMs, int dropAfterSeconds, QObject *parent)
    : QObject(parent)
    , service(service)
    , server(new QWebSocketServer(QStringLiteral("tunwarden"), QWebSocketServer::NonSecureMode, this))
    , delayMs(delayMs)
    , dropAfterSeconds(dropAfterSeconds)
{
    connect(server, &QWebSocketServer::originAuthenticationRequired, this, &RpcServer::onOriginCheck);
    connect(server, &QWebSocketServer::newConnection, this, &RpcServer::onNewConnection);
    connect(service, &AgentService::push, this, &RpcServer::broadcast);
}

bool RpcServer::listen(quint16 port)
{
    return server->listen(QHostAddress::LocalHost, port);
}

quint16 RpcServer::port() const
{
    return server->serverPort();
}

QString RpcServer::errorString() const
{
    return server->errorString();
}

void RpcServer::onOriginCheck(QWebSocketCorsAuthenticator *authenticator)
{
    // Browsers may open WebSockets to localhost from any web page and always
    // send an Origin; the desktop client sends none.
    authenticator->setAllowed(authenticator->origin().isEmpty());
}

void RpcServer::onNewConnection()
{
    while (QWebSocket *socket = server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->requestUrl().path() != QLatin1String("/rpc")) {
            // The handshake is already done here; refuse with a policy close.
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unknown path"));
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        clients.append(socket);
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket](const QByteArray &bytes) { onMessage(socket, bytes); });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { onMessage(socket, text.toUtf8()); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { clients.removeAll(socket); });
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
        reply(socket, QJsonValue::Null, false, AgentService::errorObject(AgentService::ParseError,
                                                                         QStringLiteral("Parse error")));
        return;
    }
    const QJsonObject request = document.object();
    const QJsonValue id = request.contains(QLatin1String("id")) ? request.value(QLatin1String("id"))
                                                                 : QJsonValue(QJsonValue::Null);
    const QJsonValue method = request.value(QLatin1String("method"));
    const QJsonValue params = request.value(QLatin1String("params"));
    if (!document.isObject() || !method.isString() || !(params.isUndefined() || params.isObject())) {
        reply(socket, id, false, AgentService::errorObject(AgentService::InvalidRequest,
                                                           QStringLiteral("Invalid Request")));
        return;
    }
    const AgentService::Reply answer = service->handle(method.toString(), params.toObject());
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
