// The administrator's policy parser, and what the settings and profile stores
// make of any policy it accepts.
#include "fuzzsupport.h"

#include "appglobals.h"
#include "configmanager.h"
#include "policy.h"
#include "profilestore.h"

#include <QFile>
#include <QSet>
#include <QStringListModel>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzInitialise();
    const Policy policy = Policy::fromJson(fuzzBytes(data, size), QStringLiteral("fuzz"));

    // Only known settings of the right type are forced.
    const QJsonObject &forced = policy.forcedSettings();
    for (auto it = forced.constBegin(); it != forced.constEnd(); ++it) {
        if (!Policy::settingNames().contains(it.key()))
            std::abort();
        if (it.key() == QLatin1String("theme") ? !it.value().isString() : !it.value().isBool())
            std::abort();
    }
    // Handed-out profiles are named, unique, have a host and never more than allowed.
    QSet<QString> names;
    for (const Policy::Profile &profile : policy.profiles()) {
        if (profile.name.isEmpty() || profile.host.isEmpty() || names.contains(profile.name))
            std::abort();
        names.insert(profile.name);
    }
    if (policy.profiles().size() > Policy::maxProfiles)
        std::abort();
    policy.keysInForce();

    // A forced setting never reaches the file: saved under the policy and
    // loaded without it, the settings are the defaults they were.
    {
        QFile::remove(ConfigManager::filePath(false));
        configManager->config = ConfigManager::defaults();
        Policy::install(policy);
        configManager->loadConfig();
        configManager->saveConfig();
        Policy::install(Policy());
        configManager->config = ConfigManager::defaults();
        configManager->loadConfig();
        if (configManager->config != ConfigManager::defaults())
            std::abort();
    }

    // The policy's profiles are listed first, in its order.
    {
        QFile::remove(ProfileStore::filePath(false));
        ProfileStore store;
        store.setPolicy(policy);
        if (!store.loadProfile())
            std::abort();
        store.updateModel();
        const QStringList listed = store.model->stringList();
        for (qsizetype i = 0; i < policy.profiles().size(); ++i) {
            if (listed.value(i) != policy.profiles().at(i).name)
                std::abort();
        }
    }
    fuzzDrainEvents();
    return 0;
}
