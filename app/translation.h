#pragma once

#include <QJsonObject>

class QLocale;
class QTranslator;

// Installs the interface catalogue for the locale when the settings loaded and
// "local" is on. The choice is made once, at start-up. Returns whether a
// catalogue was installed; without one the interface stays in English.
bool installCatalogue(QTranslator &translator, bool settingsLoaded, const QJsonObject &config, const QLocale &locale);
