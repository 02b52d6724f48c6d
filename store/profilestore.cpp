#include "profilestore.h"

#include "appglobals.h"
#include "errorsink.h"
#include "storedfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaMethod>
#include <QStringListModel>

namespace {
const QLatin1String passwordKey("password");
} // namespace

ProfileStore::ProfileStore(QObject *parent)
    : QObject(parent)
    , model(new QStringListModel(this))
{
    connect(&keyChain, &KeyChainClass::keyRestored, this, &ProfileStore::restoreKey);
    connect(&keyChain, &KeyChainClass::keyStored, this, &ProfileStore::onKeyStored);
}

QString ProfileStore::filePath(bool cbor)
{
    return configLocation + (cbor ? QStringLiteral("/profile.dat") : QStringLiteral("/profile.json"));
}

bool ProfileStore::loadProfile(bool cbor)
{
    QFile file(filePath(cbor));
    // Read-write so that a first start leaves an empty file behind.
    if (!file.open(QIODevice::ReadWrite)) {
        reportFileFailure();
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty())
        return true;

    profiles = decodeStoredObject(bytes, cbor);
    loadedCbor = cbor;
    for (auto it = profiles.constBegin(); it != profiles.constEnd(); ++it) {
        const QJsonValue password = it.value().toObject().value(passwordKey);
        if (password.isString()) {
            // A password has no business in the file. It stays usable in memory,
            // moves into the credential store and is read back from there, so the
            // profile is announced like any other.
            migrating.insert(it.key());
            keyChain.writeKey(it.key(), password.toString());
        } else {
            keyChain.readKey(it.key());
        }
    }
    return true;
}

void ProfileStore::updateModel()
{
    model->setStringList(profiles.keys());
}

void ProfileStore::saveProfile(const QString &name, const QString &password, bool cbor)
{
    // The file is replaced only after a complete write; when that fails the
    // credential store is left alone as well.
    if (!writeFile(cbor)) {
        reportFileFailure();
        return;
    }
    if (!name.isEmpty())
        keyChain.writeKey(name, password);
}

bool ProfileStore::writeFile(bool cbor) const
{
    QJsonObject stripped = profiles;
    for (auto it = stripped.begin(); it != stripped.end(); ++it) {
        if (!it.value().isObject())
            continue;
        QJsonObject profile = it.value().toObject();
        profile.remove(passwordKey);
        *it = profile;
    }
    return writeFileSafely(filePath(cbor), encodeStoredObject(stripped, cbor));
}

void ProfileStore::restoreKey(const QString &key, const QString &value)
{
    // A profile deleted while its read was under way stays deleted.
    if (!profiles.contains(key))
        return;
    QJsonObject profile = profiles.value(key).toObject();
    profile.insert(passwordKey, value);
    profiles.insert(key, profile);
    emit keyRestored(key);
}

void ProfileStore::onKeyStored(const QString &key)
{
    if (!migrating.remove(key))
        return;
    keyChain.readKey(key);
    if (migrating.isEmpty() && !writeFile(loadedCbor))
        reportFileFailure();
}

void ProfileStore::reportFileFailure()
{
    const QString text = QCoreApplication::translate("ProfileManager", "Couldn't open profile file");
    if (isSignalConnected(QMetaMethod::fromSignal(&ProfileStore::fileFailed)))
        emit fileFailed(text);
    else
        reportError(text);
}
