#pragma once

#include <QJsonObject>
#include <QObject>

// The application's settings: one JSON object with built-in defaults, kept in
// configLocation + "/config.json" (or the CBOR "/config.dat").
class ConfigManager : public QObject
{
    Q_OBJECT

public:
    explicit ConfigManager(QObject *parent = nullptr);

    // False only when the file cannot be opened; empty or unparsable content
    // leaves the defaults and still counts as loaded.
    bool loadConfig(bool cbor = false);
    void saveConfig(bool cbor = false);

    static QJsonObject defaults();
    static QString filePath(bool cbor);

    // Settings the administrator fixes (Policy): in `config` they replace the
    // user's values, but they never reach the file, which keeps what the user
    // saved (or nothing), so that without the policy the user's choice is back.
    void setForced(const QJsonObject &forced);
    bool isForced(const QString &key) const;

    QJsonObject config;

private:
    // The keys the store knows: the defaults' and "theme".
    static QStringList knownKeys();

    QJsonObject forced;
    // The file's own values of the known keys, as last loaded or saved.
    QJsonObject saved;
};
