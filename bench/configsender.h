// What both start-up floors do once their window is first shown, as the client
// does: open the agent link 50 ms later and send one "config".
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWebSocket>

class ConfigSender : public QObject
{
public:
    ConfigSender()
    {
        connect(&socket, &QWebSocket::connected, this, [this] {
            const QJsonObject request{{QStringLiteral("id"), 1},
                                      {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                      {QStringLiteral("method"), QStringLiteral("config")},
                                      {QStringLiteral("params"), QJsonObject()}};
            socket.sendBinaryMessage(QJsonDocument(request).toJson(QJsonDocument::Compact));
        });
    }

    // Called from every show event; only the first one opens the link.
    void windowShown()
    {
        if (shown)
            return;
        shown = true;
        QTimer::singleShot(50, this, [this] { socket.open(QUrl(QStringLiteral("ws://127.0.0.1:6210/rpc"))); });
    }

private:
    QWebSocket socket;
    bool shown = false;
};
