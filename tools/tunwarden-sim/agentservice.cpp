#include "agentservice.h"

#include <QDateTime>
#include <QFileInfo>

AgentService::AgentService(const Scenario &scenario, QObject *parent)
    : QObject(parent)
    , scenario(scenario)
{
    session.setLoseAfter(scenario.loseAfterSeconds);
    session.setEndAfter(scenario.endAfterSeconds);
    connect(&session, &VpnSession::lost, this, [this](const QString &message) {
        log.info(QStringLiteral("session to %1 lost").arg(session.host()));
        emit push(SessionLostId, message);
    });
    connect(&session, &VpnSession::ended, this, [this](const QString &message) {
        log.info(QStringLiteral("session to %1 ended by the gateway").arg(session.host()));
        emit push(SessionClosedId, message);
    });
}

QJsonObject AgentService::errorObject(int code, const QString &message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

void AgentService::note(const QString &text)
{
    log.info(text);
}

void AgentService::trace(const QString &text)
{
    log.debug(text);
}

void AgentService::restart(bool keepSession)
{
    if (!session.isUp())
        return;
    if (keepSession) {
        log.info(QStringLiteral("session to %1 kept across the restart").arg(session.host()));
        return;
    }
    // No client is linked to hear of it: the session just ends.
    log.info(QStringLiteral("session to %1 ended by the restart").arg(session.host()));
    session.stop();
}

AgentService::Reply AgentService::handle(const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("config"))
        return configure(params);
    if (method == QLatin1String("connect"))
        return login(params, false);
    if (method == QLatin1String("reconnect"))
        return login(params, true);
    if (method == QLatin1String("disconnect"))
        return logout();
    if (method == QLatin1String("status"))
        return status();
    if (method == QLatin1String("stat"))
        return traffic();
    if (method == QLatin1String("app.report.submit"))
        return submitReport(params);
    if (method == QLatin1String("app.report.my"))
        return myReports();
    if (method == QLatin1String("app.split.enabled"))
        return splitRules();
    return {false, errorObject(MethodNotFound, QStringLiteral("Method not found"))};
}

AgentService::Reply AgentService::configure(const QJsonObject &params)
{
    const QJsonValue path = params.value(QLatin1String("log_path"));
    if (!path.isUndefined() && !path.isString())
        return {false, errorObject(InvalidParams, QStringLiteral("log_path must be a string"))};
    const bool debug = params.value(QLatin1String("log_level")).toString() == QLatin1String("Debug");
    const QString directory = path.toString();
    if (!directory.isEmpty()) {
        if (!QFileInfo(directory).isDir())
            return {false, errorObject(InvalidParams, QStringLiteral("log_path is not a directory"))};
        if (!log.open(directory, debug))
            return {false, errorObject(InvalidParams, QStringLiteral("cannot write the log in log_path"))};
    }
    session.setDtlsEnabled(!params.value(QLatin1String("no_dtls")).toBool(false));
    log.info(
        QStringLiteral("configured by %1 %2: log level %3, skip_verify %4, cisco_compat %5, no_dtls %6")
            .arg(params.value(QLatin1String("agent_name")).toString(),
                 params.value(QLatin1String("agent_version")).toString(),
                 debug ? QStringLiteral("Debug") : QStringLiteral("Info"),
                 params.value(QLatin1String("skip_verify")).toBool() ? QStringLiteral("on") : QStringLiteral("off"),
                 params.value(QLatin1String("cisco_compat")).toBool() ? QStringLiteral("on") : QStringLiteral("off"),
                 params.value(QLatin1String("no_dtls")).toBool() ? QStringLiteral("on") : QStringLiteral("off")));
    return {true, QStringLiteral("tunwarden 已就绪")};
}

AgentService::Reply AgentService::login(const QJsonObject &params, bool reconnect)
{
    const QString verb = reconnect ? QStringLiteral("reconnect") : QStringLiteral("connect");
    // The user name is fine to log; the password, one-time password and secret never are.
    log.info(QStringLiteral("%1 to %2 as %3 (group \"%4\")")
                 .arg(verb, params.value(QLatin1String("host")).toString(),
                      params.value(QLatin1String("username")).toString(),
                      params.value(QLatin1String("group")).toString()));
    QString refusal;
    if (reconnect && scenario.refuseReconnect)
        refusal = QStringLiteral("会话已失效，请重新登录");
    else if (!reconnect && !scenario.refuseConnectMessage.isEmpty())
        refusal = scenario.refuseConnectMessage;
    else if (!scenario.password.isNull() && params.value(QLatin1String("password")).toString() != scenario.password)
        refusal = QStringLiteral("用户名或密码错误");
    else
        refusal = session.start(params);
    if (!refusal.isEmpty()) {
        log.info(QStringLiteral("%1 refused: %2").arg(verb, refusal));
        return {false, errorObject(LoginRefused, refusal)};
    }
    log.info(QStringLiteral("session up: VPN address %1")
                 .arg(session.status().value(QLatin1String("VPNAddress")).toString()));
    return {true, QStringLiteral("已连接到 %1").arg(session.host())};
}

AgentService::Reply AgentService::logout()
{
    if (session.isUp())
        log.info(QStringLiteral("session to %1 closed by the user").arg(session.host()));
    session.stop();
    return {true, QStringLiteral("已断开连接")};
}

AgentService::Reply AgentService::status()
{
    if (!session.isUp())
        return {false, errorObject(NoSession, QStringLiteral("no session"))};
    return {true, session.status()};
}

AgentService::Reply AgentService::traffic()
{
    if (!session.isUp())
        return {false, errorObject(NoSession, QStringLiteral("no session"))};
    return {true, session.traffic()};
}

AgentService::Reply AgentService::submitReport(const QJsonObject &params)
{
    const QJsonValue list = params.value(QLatin1String("software_list"));
    if (!list.isArray())
        return {false, errorObject(InvalidParams, QStringLiteral("software_list must be an array"))};
    const int count = int(list.toArray().size());
    reports.append(QJsonObject{
        {QStringLiteral("id"), int(reports.size()) + 1},
        {QStringLiteral("submitted_at"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("reason"), params.value(QLatin1String("reason")).toString()},
        {QStringLiteral("category"), params.value(QLatin1String("category")).toString()},
        {QStringLiteral("count"), count},
        {QStringLiteral("software_list"), list},
    });
    log.info(QStringLiteral("report %1 received with %2 records").arg(reports.size()).arg(count));
    return {true, QJsonObject{{QStringLiteral("success"), true},
                              {QStringLiteral("message"), QStringLiteral("已收到 %1 个软件").arg(count)}}};
}

AgentService::Reply AgentService::myReports() const
{
    return {true, QJsonObject{{QStringLiteral("reports"), reports}}};
}

AgentService::Reply AgentService::splitRules() const
{
    const auto rule = [](const char *name, const char *process, const char *signer) {
        return QJsonObject{{QStringLiteral("name"), QString::fromUtf8(name)},
                           {QStringLiteral("process_name"), QString::fromUtf8(process)},
                           {QStringLiteral("digital_signer"), QString::fromUtf8(signer)},
                           {QStringLiteral("enabled"), true}};
    };
    return {true,
            QJsonObject{{QStringLiteral("rules"),
                         QJsonArray{rule("企业微信直连", "WXWork.exe", "Tencent Technology(Shenzhen) Company Limited"),
                                    rule("Teams 会议", "ms-teams.exe", "Microsoft Corporation"),
                                    rule("内部 ERP", "erpclient.exe", "Kestrum Networks Ltd")}}}};
}
