#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QStringList>
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
        // Which link carried it: links are numbered from 1 as they open.
        int link = 0;
    };
    // Returns the "result" value for a request, or nothing to stay silent.
    using Responder = std::function<std::optional<QJsonValue>(const Request &)>;

    // Listens on `port`, or on a free one when it is 0.
    explicit FakeAgent(QObject *parent = nullptr, quint16 port = 0);
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
    // The methods of the requests one link carried, in order.
    QStringList methodsOnLink(int link) const;
    int clientCount() const;
    // Links opened so far.
    int linkCount() const;

signals:
    void requestReceived(const FakeAgent::Request &request);
    void clientConnected();

private:
    void handle(QWebSocket *socket, const QByteArray &raw, bool binary);

    QWebSocketServer *server = nullptr;
    QList<QWebSocket *> clients;
    int openedLinks = 0;
    QHash<QString, Responder> responders;
};
