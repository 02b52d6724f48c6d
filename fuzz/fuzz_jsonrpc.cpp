// One text frame from the agent into the client's message handler, with the
// session's handlers registered under their ids the way the window does.
#include "fuzzsupport.h"

#include "boundedtext.h"
#include "jsonrpcwebsocketclient.h"
#include "sessionformat.h"

#include <QJsonArray>
#include <QMetaObject>

namespace {

constexpr qint64 maxMessage = 512;
// Messages handed to a callback so far.
int deliveries = 0;

void readRoutes(const QJsonValue &value)
{
    // Routes arrive as arrays of "address/prefix" strings, at any depth of the
    // status the window and the detail dialog read.
    if (value.isArray()) {
        for (const QJsonValue &item : value.toArray()) {
            if (item.isString())
                SessionFormat::parseRoute(item.toString());
            else
                readRoutes(item);
        }
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            readRoutes(it.value());
    }
}

// The agent's texts go to the screen and into the history only bounded: a
// cut text is a beginning of the text and "…", within its bound, and a pair
// of surrogates is never cut in two.
void boundText(const QString &text)
{
    const QString shown = BoundedText::cut(text, BoundedText::shownLength);
    const QString stored = BoundedText::cutUtf8(text, BoundedText::storedBytes);
    if (shown.size() > BoundedText::shownLength || stored.toUtf8().size() > BoundedText::storedBytes)
        abort();
    for (const QString &kept : {shown, stored}) {
        if (kept == text)
            continue;
        if (!kept.endsWith(BoundedText::ellipsis) || !text.startsWith(kept.chopped(1))
            || (text.isValidUtf16() && !kept.isValidUtf16()))
            abort();
    }
}

JsonRpcWebSocketClient *makeClient()
{
    fuzzInitialise();
    auto *client = new JsonRpcWebSocketClient;
    // The link drops messages over its size bound before they are parsed. The
    // bound here is small, so that inputs fall on both sides of it.
    client->setMaxMessageSize(maxMessage);
    // status
    client->registerCallback(0, [](const QJsonValue &reply) {
        ++deliveries;
        const QJsonObject status = reply.toObject();
        if (!status.contains(QLatin1String("code")))
            SessionFormat::readStatus(status);
        readRoutes(reply);
    });
    // config, connect, disconnect, reconnect: a string is the success text,
    // an object carries "message".
    for (int id : {1, 2, 3, 4, 6})
        client->registerCallback(id, [](const QJsonValue &reply) {
            ++deliveries;
            if (reply.isObject())
                boundText(reply.toObject().value(QLatin1String("message")).toString());
            else
                boundText(reply.toString());
        });
    // stat: byte counters.
    client->registerCallback(7, [](const QJsonValue &reply) {
        ++deliveries;
        const QJsonObject stat = reply.toObject();
        for (auto it = stat.constBegin(); it != stat.constEnd(); ++it)
            SessionFormat::formatBytes(it.value().toDouble());
        readRoutes(reply);
    });
    return client;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static JsonRpcWebSocketClient *const client = makeClient();
    const QString frame = QString::fromUtf8(fuzzBytes(data, size));
    const int before = deliveries;
    QMetaObject::invokeMethod(client, "onTextMessageReceived", Qt::DirectConnection, Q_ARG(QString, frame));
    // A message over the bound reaches no callback.
    if (frame.toUtf8().size() > maxMessage && deliveries != before)
        abort();
    return 0;
}
