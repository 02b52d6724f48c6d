#pragma once

#include <QString>

class ConfigManager;

// Process-wide values. agentName and appVersion are fixed; start-up fills in the
// directories and the settings store before anything reads them.
extern const QString agentName;
extern const QString appVersion;
// Every diagnostic: its type, the source file and line it comes from, the text.
extern const QString logMessagePattern;
extern QString configLocation;
extern QString tempLocation;
extern ConfigManager *configManager;
