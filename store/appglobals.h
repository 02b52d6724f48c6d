#pragma once

#include <QString>

class ConfigManager;

// Process-wide values. agentName and appVersion are fixed; start-up fills in the
// directories and the settings store before anything reads them.
extern const QString agentName;
extern const QString appVersion;
extern QString configLocation;
extern QString tempLocation;
extern ConfigManager *configManager;
