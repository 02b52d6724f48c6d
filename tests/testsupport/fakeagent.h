#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class QWebSocket;
class QWebSocketServer;

// An in-process agent on a free loopback port: records every request and
// answers on cue. Without an answer rule a request stays unanswered.
class FakeAgent : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray raw;
        bool binary = false;
        int id = -1;
        QString method;
        QJsonObject params;
    };
    // Returns the "result" value for a request, or nothing to stay silent.
    using Responder = std::function<std::optional<QJsonValue>(const Request &)>;

    explicit FakeAgent(QObject *parent = nullptr);
    ~FakeAgent() override;

    QUrl url() const;
    quint16 port() const;

    // Answers every request of this method with this "result".
    void answer(const QString &method, const QJsonValue &result);
    // Answers with an "error" member instead.
    void answerError(const QString &method, const QJsonValue &error);
    void setResponder(const QString &method, Responder responder);

    // Sends a raw text frame, or {"id":id,"result":value}, to every client.
    void sendText(const QString &text);
    void push(int id, const QJsonValue &result);
    void dropClients();
    // Ends every link cleanly with a close frame, as an agent that stops does.
    void closeClients();

    QList<Request> requests;
    QList<Request> requestsFor(const QString &method) const;
    int clientCount() const;

signals:
    void requestReceived(const FakeAgent::Request &request);
    void clientConnected();

private:
    void handle(QWebSocket *socket, const QByteArray &raw, bool binary);

    QWebSocketServer *server = nullptr;
    QList<QWebSocket *> clients;
    QHash<QString, Responder> responders;
};
