#include "fakeagent.h"

#include <QJsonDocument>
#include <QWebSocket>
#include <QWebSocketServer>

FakeAgent::FakeAgent(QObject *parent, quint16 port)
    : QObject(parent)
    , server(new QWebSocketServer(QStringLiteral("fake-agent"), QWebSocketServer::NonSecureMode, this))
{
    server->listen(QHostAddress::LocalHost, port);
    connect(server, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket *socket = server->nextPendingConnection()) {
            clients.append(socket);
            socket->setProperty("link", ++openedLinks);
            connect(socket, &QWebSocket::binaryMessageReceived, this,
                    [this, socket](const QByteArray &bytes) { handle(socket, bytes, true); });
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [this, socket](const QString &text) { handle(socket, text.toUtf8(), false); });
            connect(socket, &QWebSocket::disconnected, this, [this, socket] {
                clients.removeAll(socket);
                socket->deleteLater();
            });
            emit clientConnected();
        }
    });
}

FakeAgent::~FakeAgent()
{
    dropClients();
}

QUrl FakeAgent::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(server->serverPort()));
}

quint16 FakeAgent::port() const
{
    return server->serverPort();
}

void FakeAgent::answer(const QString &method, const QJsonValue &result)
{
    setResponder(method, [result](const Request &) { return std::optional<QJsonValue>(result); });
}

void FakeAgent::answerError(const QString &method, const QJsonValue &error)
{
    setResponder(method, [this, error](const Request &request) {
        const QJsonObject reply{{QStringLiteral("id"), request.id}, {QStringLiteral("error"), error}};
        sendText(QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
        return std::optional<QJsonValue>();
    });
}

void FakeAgent::setResponder(const QString &method, Responder responder)
{
    responders.insert(method, std::move(responder));
}

void FakeAgent::sendText(const QString &text)
{
    for (QWebSocket *socket : std::as_const(clients))
        socket->sendTextMessage(text);
}

void FakeAgent::push(int id, const QJsonValue &result)
{
    const QJsonObject reply{{QStringLiteral("id"), id},
                            {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("result"), result}};
    sendText(QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
}

void FakeAgent::dropClients()
{
    const QList<QWebSocket *> open = clients;
    clients.clear();
    for (QWebSocket *socket : open) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void FakeAgent::closeClients()
{
    const QList<QWebSocket *> open = clients;
    for (QWebSocket *socket : open)
        socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("agent stopping"));
}

QList<FakeAgent::Request> FakeAgent::requestsFor(const QString &method) const
{
    QList<Request> matching;
    for (const Request &request : requests) {
        if (request.method == method)
            matching.append(request);
    }
    return matching;
}

QStringList FakeAgent::methodsOnLink(int link) const
{
    QStringList methods;
    for (const Request &request : requests) {
        if (request.link == link)
            methods.append(request.method);
    }
    return methods;
}

int FakeAgent::clientCount() const
{
    return clients.size();
}

int FakeAgent::linkCount() const
{
    return openedLinks;
}

void FakeAgent::handle(QWebSocket *socket, const QByteArray &raw, bool binary)
{
    const QJsonObject object = QJsonDocument::fromJson(raw).object();
    Request request;
    request.raw = raw;
    request.binary = binary;
    request.id = object.value(QLatin1String("id")).toInt(-1);
    request.method = object.value(QLatin1String("method")).toString();
    request.params = object.value(QLatin1String("params")).toObject();
    request.link = socket->property("link").toInt();
    requests.append(request);
    emit requestReceived(request);

    const auto responder = responders.constFind(request.method);
    if (responder == responders.constEnd())
        return;
    if (const std::optional<QJsonValue> result = (*responder)(request))
        push(request.id, *result);
}
