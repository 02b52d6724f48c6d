#include "jsonrpcwebsocketclient.h"

#include <QJsonDocument>
#include <QWebSocket>

JsonRpcWebSocketClient::JsonRpcWebSocketClient(QObject *parent)
    : QObject(parent)
    , webSocket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest))
{
    connect(webSocket, &QWebSocket::connected, this, [this] {
        socketConnected = true;
        emit connected();
    }, Qt::DirectConnection);
    connect(webSocket, &QWebSocket::disconnected, this, [this] { socketConnected = false; }, Qt::DirectConnection);
    connect(webSocket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this](QAbstractSocket::SocketError) {
        socketConnected = false;
        emit error(webSocket->errorString());
    }, Qt::DirectConnection);
    connect(webSocket, &QWebSocket::textMessageReceived, this, &JsonRpcWebSocketClient::onTextMessageReceived);
}

JsonRpcWebSocketClient::~JsonRpcWebSocketClient()
{
    // The socket outlives us until the event loop deletes it; it must not call
    // back into a half-destroyed client.
    webSocket->disconnect(this);
    webSocket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    webSocket->deleteLater();
}

void JsonRpcWebSocketClient::connectToServer(const QUrl &url)
{
    webSocket->open(url);
}

bool JsonRpcWebSocketClient::isConnected() const
{
    return socketConnected;
}

QByteArray JsonRpcWebSocketClient::encodeRequest(const QString &method, int id, const QJsonObject &params)
{
    const QJsonObject request{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("method"), method},
        {QStringLiteral("params"), params},
        {QStringLiteral("id"), id},
    };
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

void JsonRpcWebSocketClient::sendRequest(const QString &method, int id, const QJsonObject &params,
                                         const ReplyCallback &callback)
{
    const QByteArray bytes = encodeRequest(method, id, params);
    if (!webSocket->isValid())
        return;
    if (callback && !callbacks.contains(id))
        callbacks.insert(id, callback);
    webSocket->sendBinaryMessage(bytes);
}

void JsonRpcWebSocketClient::sendRequest(const QString &method, int id, const ReplyCallback &callback)
{
    sendRequest(method, id, QJsonObject(), callback);
}

void JsonRpcWebSocketClient::registerCallback(int id, const ReplyCallback &callback)
{
    if (!callbacks.contains(id))
        callbacks.insert(id, callback);
}

void JsonRpcWebSocketClient::onTextMessageReceived(const QString &message)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning("Error parsing json document");
        return;
    }
    const QJsonObject object = document.object();
    if (!object.contains(QLatin1String("id"))) {
        qWarning("Invalid result");
        return;
    }
    const int id = object.value(QLatin1String("id")).toInt(0);
    const auto found = callbacks.constFind(id);
    if (found == callbacks.constEnd())
        return;
    // A copy, so the callback may register or send while it runs.
    const ReplyCallback callback = found.value();
    if (!callback)
        return;
    if (object.contains(QLatin1String("error")))
        callback(object.value(QLatin1String("error")));
    else
        callback(object.value(QLatin1String("result")));
}
