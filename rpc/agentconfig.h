#pragma once

#include <QJsonObject>
#include <QString>

// The four switches of the Setting tab that the agent is told about.
struct AgentSwitches
{
    bool debug = false;
    bool block = false;
    bool ciscoCompat = false;
    bool noDtls = false;
};

// The "config" request's parameters.
QJsonObject buildAgentConfig(const AgentSwitches &switches, const QString &logPath);
