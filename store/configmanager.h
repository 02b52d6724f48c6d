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

    QJsonObject config;
};
