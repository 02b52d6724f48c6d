// The profile loader. The first byte picks the file: even for profile.json,
// odd for the CBOR profile.dat; the rest is the file's content.
#include "fuzzsupport.h"

#include "profilestore.h"

#include <QFile>
#include <QStringListModel>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzInitialise();
    if (size == 0)
        return 0;
    const bool cbor = data[0] & 1;
    {
        QFile file(ProfileStore::filePath(cbor));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(fuzzBytes(data + 1, size - 1));
    }
    {
        ProfileStore store;
        if (!store.loadProfile(cbor))
            std::abort();
        store.updateModel();
        // What the host selector and a connection read of each profile.
        for (auto it = store.profiles.constBegin(); it != store.profiles.constEnd(); ++it) {
            const QJsonObject profile = it.value().toObject();
            for (const char *key : {"host", "username", "password", "group", "secret"})
                profile.value(QLatin1String(key)).toString();
        }
        if (store.model->rowCount() != store.profiles.size())
            std::abort();
        // Credential jobs the load started run to their end here.
        fuzzDrainEvents();
    }
    fuzzDrainEvents();
    return 0;
}
