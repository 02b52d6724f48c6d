#include "translation.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

bool installCatalogue(QTranslator &translator, bool settingsLoaded, const QJsonObject &config, const QLocale &locale)
{
    if (!settingsLoaded || !config.value(QStringLiteral("local")).toBool(false))
        return false;
    if (!translator.load(locale, QStringLiteral("orvalin"), QStringLiteral("_"), QStringLiteral(":/i18n"), QString()))
        return false;
    return QCoreApplication::installTranslator(&translator);
}
