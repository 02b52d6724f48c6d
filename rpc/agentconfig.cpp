#include "agentconfig.h"

#include "appglobals.h"

QJsonObject buildAgentConfig(const AgentSwitches &switches, const QString &logPath)
{
    return QJsonObject{
        {QStringLiteral("log_level"), switches.debug ? QStringLiteral("Debug") : QStringLiteral("Info")},
        {QStringLiteral("log_path"), logPath},
        {QStringLiteral("skip_verify"), !switches.block},
        {QStringLiteral("cisco_compat"), switches.ciscoCompat},
        {QStringLiteral("no_dtls"), switches.noDtls},
        {QStringLiteral("agent_name"), agentName},
        {QStringLiteral("agent_version"), appVersion},
    };
}
