#include "configmanager.h"

#include "appglobals.h"
#include "errorsink.h"
#include "storedfile.h"

#include <QFile>

namespace {
// Settings whose keys are known besides the defaults; "theme" has no default.
const QLatin1String themeKey("theme");
} // namespace

ConfigManager::ConfigManager(QObject *parent)
    : QObject(parent)
    , config(defaults())
{
}

QJsonObject ConfigManager::defaults()
{
    return QJsonObject{
        {QStringLiteral("lastProfile"), QString()}, {QStringLiteral("autoLogin"), false},
        {QStringLiteral("minimize"), true},         {QStringLiteral("block"), true},
        {QStringLiteral("debug"), false},           {QStringLiteral("local"), true},
        {QStringLiteral("no_dtls"), false},         {QStringLiteral("cisco_compat"), false},
    };
}

QString ConfigManager::filePath(bool cbor)
{
    return configLocation + (cbor ? QStringLiteral("/config.dat") : QStringLiteral("/config.json"));
}

bool ConfigManager::loadConfig(bool cbor)
{
    QFile file(filePath(cbor));
    // Read-write so that a first start leaves an empty file behind.
    if (!file.open(QIODevice::ReadWrite)) {
        reportError(tr("Couldn't open config file"));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return true;

    const QJsonObject stored = decodeStoredObject(bytes, cbor);
    QStringList known = defaults().keys();
    known << themeKey;
    for (const QString &key : std::as_const(known)) {
        if (stored.contains(key))
            config.insert(key, stored.value(key));
    }
    return true;
}

void ConfigManager::saveConfig(bool cbor)
{
    if (!writeFileSafely(filePath(cbor), encodeStoredObject(config, cbor)))
        reportError(tr("Couldn't open config file"));
}
