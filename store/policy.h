#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// The administrator's machine-wide policy, read once at start and never
// changed by the user: whether passwords may be saved, settings fixed for
// everyone, gateways handed out, whether users may add their own profiles.
// Without a policy everything is as the user sets it.
//
// On Linux it is the JSON file /etc/kestrum-sslvpn/policy.json; on Windows
// the key HKEY_LOCAL_MACHINE\Software\Policies\Kestrum\SSLVPN with the same
// names. A key that is missing keeps the user's choice; one of the wrong type
// is ignored with a warning, and the rest still applies.
class Policy
{
public:
    // A gateway the administrator provides; never with a password.
    struct Profile
    {
        QString name;
        QString host;
        QString group;
    };

    // One key of the registry form: its values (a DWORD as uint, a text as
    // QString, anything else as an invalid QVariant) and its subkeys.
    struct RegistryKey
    {
        QList<QPair<QString, QVariant>> values;
        QList<QPair<QString, RegistryKey>> keys;
    };

    // The settings a policy may fix; "theme" takes "light" or "dark", the
    // others true or false.
    static const QStringList &settingNames();
    // The tooltip of whatever the policy fixes, in the interface language.
    static QString setByAdministratorText();
    // A policy file larger than this is not read.
    static constexpr qint64 maxFileSize = 1024 * 1024;
    static constexpr int maxProfiles = 100;

    // No policy.
    Policy() = default;

    // Where this platform keeps the policy; the product reads only this one.
    static QString defaultLocation();
    // Reads the policy at `location` (a file path on Linux, a registry key path
    // under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER on Windows). Tests point it
    // at their own; nothing a user sets can.
    static Policy read(const QString &location = defaultLocation());

    // The policy in a file's bytes. Never fails: what cannot be used is
    // listed in problems().
    static Policy fromJson(const QByteArray &bytes, const QString &source);
    static Policy fromObject(const QJsonObject &object, const QString &source);
    // The registry form: a DWORD 0 or 1 is false or true, "settings" a
    // subkey, "profiles" a subkey with one subkey per profile named after it.
    static Policy fromRegistry(const RegistryKey &key, const QString &source);
    static QJsonObject registryToJson(const RegistryKey &key);
    // A policy found at `source` that cannot be used at all.
    static Policy unusable(const QString &source, const QString &problem);

    // The policy of this process: none until start-up installs one.
    static const Policy &current();
    // Makes `policy` the current one and fixes its settings in the settings
    // store (configManager), when there is one.
    static void install(const Policy &policy);

    // A policy was found at its location, usable or not.
    bool isPresent() const { return present; }
    QString source() const { return sourceName; }
    bool allowSavePassword() const { return savePasswords; }
    bool allowUserProfiles() const { return userProfiles; }
    // Setting name to the value the administrator fixed.
    const QJsonObject &forcedSettings() const { return settings; }
    bool forces(const QString &setting) const { return settings.contains(setting); }
    const QList<Profile> &profiles() const { return gateways; }
    bool providesProfile(const QString &name) const;
    // The keys that apply, with the settings named and the profiles counted,
    // e.g. "allowSavePassword", "settings (theme, debug)", "profiles (2)".
    QStringList keysInForce() const;
    // What was ignored, one sentence each, as the log and the diagnostics
    // report give it.
    const QStringList &problems() const { return issues; }

private:
    void ignore(const QString &problem);
    void readSettings(const QJsonValue &value);
    void readProfiles(const QJsonValue &value);

    bool present = false;
    QString sourceName;
    bool savePasswords = true;
    bool userProfiles = true;
    // Which of the two flags the policy sets.
    bool setsSavePasswords = false;
    bool setsUserProfiles = false;
    QJsonObject settings;
    QList<Profile> gateways;
    QStringList issues;
};
