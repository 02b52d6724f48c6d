#include "policy.h"

#include "appglobals.h"
#include "configmanager.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QSet>

namespace {

const QLatin1String allowSavePasswordKey("allowSavePassword");
const QLatin1String allowUserProfilesKey("allowUserProfiles");
const QLatin1String settingsKey("settings");
const QLatin1String profilesKey("profiles");
const QLatin1String themeSetting("theme");

constexpr int maxNameLength = 128;
constexpr int maxHostLength = 1024;
constexpr int maxGroupLength = 256;
constexpr int maxShownLength = 64;

// A name from the policy as a warning may quote it: short, one line.
QString shown(const QString &name)
{
    QString text = name.left(maxShownLength);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char('?');
    }
    return QLatin1Char('"') + text + (name.size() > maxShownLength ? QStringLiteral("…\"") : QStringLiteral("\""));
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// Registry names are not case-sensitive: "AllowSavePassword" is the key.
QString knownSpelling(const QString &name, const QStringList &known)
{
    for (const QString &candidate : known) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    return name;
}

const QStringList &topLevelNames()
{
    static const QStringList names{allowSavePasswordKey, allowUserProfilesKey, settingsKey, profilesKey};
    return names;
}

const QStringList &profileMemberNames()
{
    static const QStringList names{QStringLiteral("name"), QStringLiteral("host"), QStringLiteral("group")};
    return names;
}

QJsonObject registryObject(const Policy::RegistryKey &key, const QStringList &known)
{
    QJsonObject object;
    for (const auto &[name, value] : key.values) {
        QJsonValue json;
        if (value.typeId() == QMetaType::UInt) {
            const uint dword = value.toUInt();
            json = dword <= 1 ? QJsonValue(dword == 1) : QJsonValue(double(dword));
        } else if (value.typeId() == QMetaType::QString) {
            json = value.toString();
        }
        object.insert(knownSpelling(name, known), json);
    }
    for (const auto &[name, subkey] : key.keys)
        object.insert(knownSpelling(name, known), registryObject(subkey, QStringList()));
    return object;
}

Policy installed;

} // namespace

const QStringList &Policy::settingNames()
{
    static const QStringList names{
        QStringLiteral("autoLogin"),    QStringLiteral("minimize"), QStringLiteral("local"),
        QStringLiteral("theme"),        QStringLiteral("block"),    QStringLiteral("debug"),
        QStringLiteral("cisco_compat"), QStringLiteral("no_dtls"),  QStringLiteral("notifications"),
        QStringLiteral("autoStart"),
    };
    return names;
}

QString Policy::setByAdministratorText()
{
    return QCoreApplication::translate("Policy", "Set by your administrator");
}

void Policy::ignore(const QString &problem)
{
    issues.append(problem);
    qWarning("Administrator policy %s: %s", qUtf8Printable(sourceName), qUtf8Printable(problem));
}

Policy Policy::unusable(const QString &source, const QString &problem)
{
    Policy policy;
    policy.present = true;
    policy.sourceName = source;
    policy.ignore(problem);
    return policy;
}

Policy Policy::fromJson(const QByteArray &bytes, const QString &source)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return unusable(source, QStringLiteral("not JSON (%1 at offset %2); nothing of it applies")
                                    .arg(error.errorString())
                                    .arg(error.offset));
    if (!document.isObject())
        return unusable(source, QStringLiteral("not a JSON object; nothing of it applies"));
    return fromObject(document.object(), source);
}

Policy Policy::fromObject(const QJsonObject &object, const QString &source)
{
    Policy policy;
    policy.present = true;
    policy.sourceName = source;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (key == allowSavePasswordKey || key == allowUserProfilesKey) {
            if (!value.isBool()) {
                policy.ignore(QStringLiteral("%1 is %2, not true or false; ignored").arg(key, typeName(value)));
                continue;
            }
            if (key == allowSavePasswordKey) {
                policy.savePasswords = value.toBool();
                policy.setsSavePasswords = true;
            } else {
                policy.userProfiles = value.toBool();
                policy.setsUserProfiles = true;
            }
        } else if (key == settingsKey) {
            policy.readSettings(value);
        } else if (key == profilesKey) {
            policy.readProfiles(value);
        } else {
            policy.ignore(QStringLiteral("unknown key %1; ignored").arg(shown(key)));
        }
    }
    return policy;
}

void Policy::readSettings(const QJsonValue &value)
{
    if (!value.isObject()) {
        ignore(QStringLiteral("settings is %1, not an object; ignored").arg(typeName(value)));
        return;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString name = it.key();
        const QJsonValue setting = it.value();
        if (!settingNames().contains(name)) {
            ignore(QStringLiteral("settings: unknown setting %1; ignored").arg(shown(name)));
        } else if (name == themeSetting) {
            const QString theme = setting.toString();
            if (theme == QLatin1String("light") || theme == QLatin1String("dark"))
                settings.insert(name, theme);
            else
                ignore(QStringLiteral("settings: theme is neither \"light\" nor \"dark\"; ignored"));
        } else if (setting.isBool()) {
            settings.insert(name, setting);
        } else {
            ignore(QStringLiteral("settings: %1 is %2, not true or false; ignored").arg(name, typeName(setting)));
        }
    }
}

void Policy::readProfiles(const QJsonValue &value)
{
    if (!value.isArray()) {
        ignore(QStringLiteral("profiles is %1, not a list; ignored").arg(typeName(value)));
        return;
    }
    const QJsonArray list = value.toArray();
    QSet<QString> names;
    for (qsizetype index = 0; index < list.size(); ++index) {
        const QString where = QStringLiteral("profiles[%1]").arg(index);
        if (gateways.size() >= maxProfiles) {
            ignore(QStringLiteral("profiles: more than %1; the rest ignored").arg(maxProfiles));
            break;
        }
        if (!list.at(index).isObject()) {
            ignore(QStringLiteral("%1 is %2, not an object; ignored").arg(where, typeName(list.at(index))));
            continue;
        }
        const QJsonObject entry = list.at(index).toObject();
        Profile profile;
        profile.name = entry.value(QLatin1String("name")).toString().trimmed();
        profile.host = entry.value(QLatin1String("host")).toString().trimmed();
        const QJsonValue group = entry.value(QLatin1String("group"));
        profile.group = group.toString().trimmed();
        if (profile.name.isEmpty() || profile.name.size() > maxNameLength || hasControlCharacters(profile.name)) {
            ignore(QStringLiteral("%1 has no usable name; ignored").arg(where));
            continue;
        }
        if (profile.host.isEmpty() || profile.host.size() > maxHostLength || hasControlCharacters(profile.host)) {
            ignore(QStringLiteral("%1 (%2) has no usable host; ignored").arg(where, shown(profile.name)));
            continue;
        }
        if ((!group.isUndefined() && !group.isString()) || profile.group.size() > maxGroupLength
            || hasControlCharacters(profile.group)) {
            ignore(QStringLiteral("%1 (%2) has an unusable group; ignored").arg(where, shown(profile.name)));
            continue;
        }
        if (names.contains(profile.name)) {
            ignore(QStringLiteral("%1: a second profile named %2; ignored").arg(where, shown(profile.name)));
            continue;
        }
        // A password or anything else in a handed-out profile is never used,
        // and never quoted.
        for (auto member = entry.constBegin(); member != entry.constEnd(); ++member) {
            if (!profileMemberNames().contains(member.key()))
                ignore(QStringLiteral("%1 (%2): member %3 is not taken from a policy; ignored")
                           .arg(where, shown(profile.name), shown(member.key())));
        }
        names.insert(profile.name);
        gateways.append(profile);
    }
}

QJsonObject Policy::registryToJson(const RegistryKey &key)
{
    RegistryKey values;
    values.values = key.values;
    QJsonObject object = registryObject(values, topLevelNames());
    for (const auto &[name, subkey] : key.keys) {
        const QString spelled = knownSpelling(name, topLevelNames());
        if (spelled == profilesKey) {
            // One subkey per profile, named after it.
            QJsonArray profiles;
            for (const auto &[profileName, profileKey] : subkey.keys) {
                QJsonObject profile = registryObject(profileKey, profileMemberNames());
                profile.insert(QStringLiteral("name"), profileName);
                profiles.append(profile);
            }
            object.insert(spelled, profiles);
        } else {
            object.insert(spelled, registryObject(subkey, spelled == settingsKey ? settingNames() : QStringList()));
        }
    }
    return object;
}

Policy Policy::fromRegistry(const RegistryKey &key, const QString &source)
{
    return fromObject(registryToJson(key), source);
}

bool Policy::providesProfile(const QString &name) const
{
    for (const Profile &profile : gateways) {
        if (profile.name == name)
            return true;
    }
    return false;
}

QStringList Policy::keysInForce() const
{
    QStringList keys;
    if (setsSavePasswords)
        keys << allowSavePasswordKey;
    if (!settings.isEmpty())
        keys << QStringLiteral("settings (%1)").arg(settings.keys().join(QStringLiteral(", ")));
    if (!gateways.isEmpty())
        keys << QStringLiteral("profiles (%1)").arg(gateways.size());
    if (setsUserProfiles)
        keys << allowUserProfilesKey;
    return keys;
}

const Policy &Policy::current()
{
    return installed;
}

void Policy::install(const Policy &policy)
{
    installed = policy;
    if (configManager)
        configManager->setForced(policy.forcedSettings());
    if (policy.isPresent()) {
        const QStringList keys = policy.keysInForce();
        qInfo("Administrator policy %s in force: %s", qUtf8Printable(policy.source()),
              keys.isEmpty() ? "no usable keys" : qUtf8Printable(keys.join(QStringLiteral("; "))));
    }
}
