#pragma once

#include "softwareinfo.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class QWebSocket;

using ReplyCallback = std::function<void(QJsonValue)>;

// JSON-RPC 2.0 over one WebSocket to the local agent. Every message the agent
// sends under an id reaches the first callback registered for that id, so the
// agent's later pushes under a request's id arrive at the same handler.
class JsonRpcWebSocketClient : public QObject
{
    Q_OBJECT

public:
    // Each reporting method draws its ids from its own block of this many ids.
    static constexpr int ReportIdBlockSize = 1000;
    static constexpr int FirstReportSubmitId = 1000;
    static constexpr int FirstMyReportsId = 2000;
    static constexpr int FirstSplitRulesId = 3000;
    // The largest message taken from the agent, in bytes. Real replies are a
    // few kilobytes; a larger one is dropped, so a broken or hostile agent
    // cannot fill the memory or hold up the window with it.
    static constexpr qint64 DefaultMaxMessageSize = 1024 * 1024;

    explicit JsonRpcWebSocketClient(QObject *parent = nullptr);
    ~JsonRpcWebSocketClient() override;

    // Opens the socket; called again, it first drops whatever the socket had,
    // so one client serves every link of the window's life.
    void connectToServer(const QUrl &url);
    // Drops the socket at once, without a close frame and without a signal.
    void abort();
    bool isConnected() const;
    // The link came up but its listener belongs to another user: nothing is
    // sent over it, and it counts as failed.
    bool isAgentRefused() const;

    // The size bound on incoming messages (and their frames), in bytes.
    void setMaxMessageSize(qint64 bytes);
    qint64 maxMessageSize() const;

    void sendRequest(const QString &method, int id, const QJsonObject &params, const ReplyCallback &callback);
    void sendRequest(const QString &method, int id, const ReplyCallback &callback);
    void registerCallback(int id, const ReplyCallback &callback);

    // "app.report.submit": the records with the user's reason and category.
    void submitAppReport(const QList<SoftwareInfo> &softwareList, const QString &reason, const QString &category);
    // "app.report.my": the reports this user has made so far.
    void getMyAppReports();
    // "app.split.enabled": the per-application split rules the server enabled.
    void getEnabledAppSplitRules();

    // The request as it goes on the wire: compact JSON, members in key order.
    static QByteArray encodeRequest(const QString &method, int id, const QJsonObject &params);
    static QJsonObject buildAppReportParams(const QList<SoftwareInfo> &softwareList, const QString &reason,
                                            const QString &category);

signals:
    void error(const QString &error);
    void connected();
    void appReportSubmitted(bool success, const QString &message);
    void myAppReportsReceived(const QJsonArray &reports);
    void appSplitRulesReceived(const QJsonArray &rules);
    // The agent closed a link that was up without a socket error (a close
    // frame, as when its service stops).
    void disconnected();

private slots:
    void onTextMessageReceived(const QString &message);

private:
    void onSocketConnected();
    void onSocketDisconnected();
    void reopen();
    void onAppReportReply(const QJsonValue &reply);
    void onMyAppReportsReply(const QJsonValue &reply);
    void onSplitRulesReply(const QJsonValue &reply);

    bool socketConnected = false;
    bool agentRefused = false;
    // Set while the client drops its own socket: what the socket reports
    // then is no news to the owner.
    bool dropping = false;
    QUrl serverUrl;
    QHash<int, ReplyCallback> callbacks;
    qint64 maxIncoming = DefaultMaxMessageSize;
    // Links ended in a row by a message that could not be taken; reset by
    // the next message that is read. Paces the reopening.
    int droppedInARow = 0;
    QWebSocket *webSocket = nullptr;
};
