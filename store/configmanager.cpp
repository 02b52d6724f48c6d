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
        {QStringLiteral("notifications"), true},
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
    // The user's own values are the file's, and an empty file has none.
    saved = QJsonObject();
    if (bytes.isEmpty())
        return true;

    const QJsonObject stored = decodeStoredObject(bytes, cbor);
    for (const QString &key : knownKeys()) {
        if (stored.contains(key)) {
            config.insert(key, stored.value(key));
            saved.insert(key, stored.value(key));
        }
    }
    for (auto it = forced.constBegin(); it != forced.constEnd(); ++it)
        config.insert(it.key(), it.value());
    return true;
}

void ConfigManager::saveConfig(bool cbor)
{
    QJsonObject written = config;
    for (auto it = forced.constBegin(); it != forced.constEnd(); ++it) {
        // Whatever was written into `config` meanwhile, the policy's value holds.
        config.insert(it.key(), it.value());
        const auto own = saved.constFind(it.key());
        if (own != saved.constEnd())
            written.insert(it.key(), own.value());
        else
            written.remove(it.key());
    }
    if (!writeFileSafely(filePath(cbor), encodeStoredObject(written, cbor))) {
        reportError(tr("Couldn't open config file"));
        return;
    }
    saved = written;
}

void ConfigManager::setForced(const QJsonObject &values)
{
    // The previous policy's values go back to the user's own ("theme",
    // which has no default, goes when the user has none).
    for (auto it = forced.constBegin(); it != forced.constEnd(); ++it)
        config.insert(it.key(), saved.contains(it.key()) ? saved.value(it.key()) : defaults().value(it.key()));
    forced = QJsonObject();
    const QStringList known = knownKeys();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (known.contains(it.key())) {
            forced.insert(it.key(), it.value());
            config.insert(it.key(), it.value());
        }
    }
}

bool ConfigManager::isForced(const QString &key) const
{
    return forced.contains(key);
}

QStringList ConfigManager::knownKeys()
{
    QStringList known = defaults().keys();
    known << themeKey;
    return known;
}
