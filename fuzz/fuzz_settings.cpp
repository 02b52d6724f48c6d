// The settings loader. The first byte picks the file: even for config.json,
// odd for the CBOR config.dat; the rest is the file's content.
#include "fuzzsupport.h"

#include "appglobals.h"
#include "configmanager.h"

#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzInitialise();
    if (size == 0)
        return 0;
    const bool cbor = data[0] & 1;
    {
        QFile file(ConfigManager::filePath(cbor));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(fuzzBytes(data + 1, size - 1));
    }
    configManager->config = ConfigManager::defaults();
    if (!configManager->loadConfig(cbor))
        std::abort();
    // What start-up and the Setting tab read.
    const QJsonObject &config = configManager->config;
    for (const char *key : {"autoLogin", "minimize", "block", "debug", "local", "no_dtls", "cisco_compat"})
        config.value(QLatin1String(key)).toBool();
    config.value(QLatin1String("lastProfile")).toString();
    config.value(QLatin1String("theme")).toInt();

    // What was loaded is saved and loads back the same.
    const QJsonObject loaded = config;
    configManager->saveConfig(cbor);
    configManager->config = ConfigManager::defaults();
    configManager->loadConfig(cbor);
    if (configManager->config != loaded)
        std::abort();
    return 0;
}
