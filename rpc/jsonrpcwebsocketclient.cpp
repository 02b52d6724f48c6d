#include "jsonrpcwebsocketclient.h"

#include "agentowner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>

namespace {

// Process-wide id counters of the reporting methods. Each wraps inside its own
// block, so one method's ids never reach another's range; every id of a block
// carries the same callback, so reusing one is harmless and the callback table
// stays bounded.
int reportSubmitId = JsonRpcWebSocketClient::FirstReportSubmitId;
int myReportsId = JsonRpcWebSocketClient::FirstMyReportsId;
int splitRulesId = JsonRpcWebSocketClient::FirstSplitRulesId;

int takeId(int &counter, int first)
{
    const int id = counter;
    counter = first + (counter - first + 1) % JsonRpcWebSocketClient::ReportIdBlockSize;
    return id;
}

} // namespace

JsonRpcWebSocketClient::JsonRpcWebSocketClient(QObject *parent)
    : QObject(parent)
    , webSocket(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest))
{
    setMaxMessageSize(DefaultMaxMessageSize);
    connect(webSocket, &QWebSocket::connected, this, &JsonRpcWebSocketClient::onSocketConnected, Qt::DirectConnection);
    connect(webSocket, &QWebSocket::disconnected, this, &JsonRpcWebSocketClient::onSocketDisconnected,
            Qt::DirectConnection);
    // Qt 6.5 renamed the error signal.
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const auto socketError = &QWebSocket::errorOccurred;
#else
    const auto socketError = qOverload<QAbstractSocket::SocketError>(&QWebSocket::error);
#endif
    connect(
        webSocket, socketError, this,
        [this](QAbstractSocket::SocketError) {
            socketConnected = false;
            if (!dropping)
                emit error(webSocket->errorString());
        },
        Qt::DirectConnection);
    // Only a link that passed the identity check is listened to: a refused
    // listener's frames that came with its handshake reach no callback.
    connect(webSocket, &QWebSocket::textMessageReceived, this, [this](const QString &message) {
        if (socketConnected)
            onTextMessageReceived(message);
    });
}

JsonRpcWebSocketClient::~JsonRpcWebSocketClient()
{
    // The socket outlives us until the event loop deletes it; it must not call
    // back into a half-destroyed client.
    webSocket->disconnect(this);
    // A refused agent's socket was aborted already: there is nothing to close.
    if (webSocket->state() == QAbstractSocket::UnconnectedState) {
        webSocket->deleteLater();
        return;
    }
    webSocket->close(QWebSocketProtocol::CloseCodeNormal, QString());
    // The window goes after the event loop has ended: push the close frame out
    // now, or the agent would only see the connection drop.
    webSocket->flush();
    webSocket->deleteLater();
}

void JsonRpcWebSocketClient::connectToServer(const QUrl &url)
{
    abort();
    // Each link is judged afresh: a refused listener may have given way to the agent.
    agentRefused = false;
    serverUrl = url;
    webSocket->open(url);
}

void JsonRpcWebSocketClient::abort()
{
    socketConnected = false;
    if (webSocket->state() == QAbstractSocket::UnconnectedState)
        return;
    dropping = true;
    webSocket->abort();
    dropping = false;
}

bool JsonRpcWebSocketClient::isConnected() const
{
    return socketConnected;
}

bool JsonRpcWebSocketClient::isAgentRefused() const
{
    return agentRefused;
}

void JsonRpcWebSocketClient::setMaxMessageSize(qint64 bytes)
{
    maxIncoming = bytes;
    webSocket->setMaxAllowedIncomingMessageSize(quint64(bytes));
    webSocket->setMaxAllowedIncomingFrameSize(quint64(bytes));
}

qint64 JsonRpcWebSocketClient::maxMessageSize() const
{
    return maxIncoming;
}

void JsonRpcWebSocketClient::onSocketConnected()
{
    // Whoever accepted this connection gets every password typed, so its
    // socket must belong to the system or to this user before anything,
    // "config" included, goes out. Not finding it refuses as well.
    const quint16 port = webSocket->peerPort();
    const AgentOwnerVerdict verdict
        = checkAgentOwner({webSocket->peerAddress(), port}, {webSocket->localAddress(), webSocket->localPort()});
    if (!verdict.trusted) {
        agentRefused = true;
        if (verdict.owner.isEmpty())
            qWarning("Agent refused: the agent's end of the connection to port %u was not found", unsigned(port));
        else
            qWarning("Agent refused: port %u is owned by %s, neither the system nor this user", unsigned(port),
                     qUtf8Printable(verdict.owner));
        // The refusal is the link's one failure: the socket's own close must
        // not report a second one.
        abort();
        emit error(QStringLiteral("agent owner refused"));
        return;
    }
    socketConnected = true;
    emit connected();
}

void JsonRpcWebSocketClient::onSocketDisconnected()
{
    // After an error the flag is already down and `error` has told the owner.
    // A link this client aborts itself (to open it again) reports nothing.
    const bool wasConnected = socketConnected;
    socketConnected = false;
    if (!wasConnected || dropping)
        return;
    // QWebSocket cannot skip a message it will not take: one over its size
    // bound ends the link with "too much data" (without reading the message
    // into memory), one that is not UTF-8 text with "wrong data" (Qt 6.4 also
    // says so of a long text whose frames split a character). That one
    // message is dropped, not the link: it is opened again, and its owner
    // checked again, so that the session goes on. The same close sent by the
    // agent (about a request of ours) is handled alike.
    const QWebSocketProtocol::CloseCode code = webSocket->closeCode();
    if (code == QWebSocketProtocol::CloseCodeTooMuchData || code == QWebSocketProtocol::CloseCodeWrongDatatype) {
        ++droppedInARow;
        if (code == QWebSocketProtocol::CloseCodeTooMuchData)
            qWarning("Dropped a message from the agent over the limit of %lld bytes; opening the link again",
                     maxIncoming);
        else
            qWarning("Dropped a message from the agent that is not valid UTF-8 text; opening the link again");
        // At once the first time; an agent that keeps sending such messages
        // is answered more and more slowly, up to once every 30 s.
        const int delayMs = droppedInARow == 1 ? 0 : std::min(30000, 250 << std::min(droppedInARow - 2, 7));
        QTimer::singleShot(delayMs, this, &JsonRpcWebSocketClient::reopen);
        return;
    }
    emit disconnected();
}

void JsonRpcWebSocketClient::reopen()
{
    // Only a link that is still down, and not refused meanwhile, is opened.
    if (agentRefused || socketConnected || webSocket->state() != QAbstractSocket::UnconnectedState)
        return;
    webSocket->open(serverUrl);
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
    if (agentRefused || !webSocket->isValid())
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

QJsonObject JsonRpcWebSocketClient::buildAppReportParams(const QList<SoftwareInfo> &softwareList, const QString &reason,
                                                         const QString &category)
{
    QJsonArray list;
    for (const SoftwareInfo &info : softwareList)
        list.append(info.toReportJson());
    return QJsonObject{
        {QStringLiteral("software_list"), list},
        {QStringLiteral("reason"), reason},
        {QStringLiteral("category"), category},
    };
}

void JsonRpcWebSocketClient::submitAppReport(const QList<SoftwareInfo> &softwareList, const QString &reason,
                                             const QString &category)
{
    sendRequest(QStringLiteral("app.report.submit"), takeId(reportSubmitId, FirstReportSubmitId),
                buildAppReportParams(softwareList, reason, category),
                [this](const QJsonValue &reply) { onAppReportReply(reply); });
}

void JsonRpcWebSocketClient::getMyAppReports()
{
    sendRequest(QStringLiteral("app.report.my"), takeId(myReportsId, FirstMyReportsId),
                [this](const QJsonValue &reply) { onMyAppReportsReply(reply); });
}

void JsonRpcWebSocketClient::getEnabledAppSplitRules()
{
    sendRequest(QStringLiteral("app.split.enabled"), takeId(splitRulesId, FirstSplitRulesId),
                [this](const QJsonValue &reply) { onSplitRulesReply(reply); });
}

void JsonRpcWebSocketClient::onAppReportReply(const QJsonValue &reply)
{
    if (reply.isObject()) {
        const QJsonObject object = reply.toObject();
        emit appReportSubmitted(object.value(QLatin1String("success")).toBool(false),
                                object.value(QLatin1String("message")).toString());
    } else if (reply.isString()) {
        emit appReportSubmitted(false, reply.toString());
    } else {
        emit appReportSubmitted(false, QStringLiteral("未知响应格式"));
    }
}

void JsonRpcWebSocketClient::onMyAppReportsReply(const QJsonValue &reply)
{
    if (reply.isArray())
        emit myAppReportsReceived(reply.toArray());
    else if (reply.isObject() && reply.toObject().contains(QLatin1String("reports")))
        emit myAppReportsReceived(reply.toObject().value(QLatin1String("reports")).toArray());
}

void JsonRpcWebSocketClient::onSplitRulesReply(const QJsonValue &reply)
{
    if (reply.isArray())
        emit appSplitRulesReceived(reply.toArray());
    else if (reply.isObject() && reply.toObject().contains(QLatin1String("rules")))
        emit appSplitRulesReceived(reply.toObject().value(QLatin1String("rules")).toArray());
}

void JsonRpcWebSocketClient::onTextMessageReceived(const QString &message)
{
    // The socket enforces the bound already; checked here as well so that no
    // other way in can pass a larger message on. A text takes at least as
    // many UTF-8 bytes as UTF-16 units, so a longer one is not converted.
    const QByteArray bytes = message.size() > maxIncoming ? QByteArray() : message.toUtf8();
    if (message.size() > maxIncoming || bytes.size() > maxIncoming) {
        qWarning("Dropped a message from the agent over the limit of %lld bytes", maxIncoming);
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning("Error parsing json document");
        return;
    }
    droppedInARow = 0;
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
