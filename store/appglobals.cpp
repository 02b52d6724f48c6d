#include "appglobals.h"

const QString agentName = QStringLiteral("kestrum-sslvpn Secure Client");
const QString appVersion = QStringLiteral("1.6.0");
const QString logMessagePattern = QStringLiteral("%{type}:[%{file}:%{line}]  %{message}");
QString configLocation;
QString tempLocation;
ConfigManager *configManager = nullptr;
