#pragma once

#include "agentlog.h"
#include "scenario.h"
#include "vpnsession.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>

// The agent's methods: turns one request into a result or an error object,
// and announces session ends as pushes under their fixed ids.
class AgentService : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        bool ok = true;
        QJsonValue value; // the "result", or the "error" object when !ok
    };

    // JSON-RPC error codes.
    static constexpr int ParseError = -32700;
    static constexpr int InvalidRequest = -32600;
    static constexpr int MethodNotFound = -32601;
    static constexpr int InvalidParams = -32602;
    // The agent's own codes.
    static constexpr int NoSession = 1;
    static constexpr int LoginRefused = 2;

    // Fixed ids of the agent's pushes.
    static constexpr int SessionClosedId = 3;
    static constexpr int SessionLostId = 6;

    AgentService(const Scenario &scenario, QObject *parent = nullptr);

    Reply handle(const QString &method, const QJsonObject &params);
    // The service restarts: without `keepSession` the tunnel goes with it.
    void restart(bool keepSession);
    // Lines of the agent's log about the links.
    void note(const QString &text);
    void trace(const QString &text);
    static QJsonObject errorObject(int code, const QString &message);

signals:
    void push(int id, const QJsonValue &value);

private:
    Reply configure(const QJsonObject &params);
    Reply login(const QJsonObject &params, bool reconnect);
    Reply logout();
    Reply status();
    Reply traffic();
    Reply submitReport(const QJsonObject &params);
    Reply myReports() const;
    Reply splitRules() const;

    Scenario scenario;
    AgentLog log;
    VpnSession session;
    QJsonArray reports;
};
