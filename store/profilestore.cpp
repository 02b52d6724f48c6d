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
    connect(&keyChain, &KeyChainClass::readFailed, this, &ProfileStore::onKeyReadFailed);
    connect(&keyChain, &KeyChainClass::writeFailed, this, &ProfileStore::onKeyWriteFailed);
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
            // A password has no business in the file. It stays usable in memory
            // and moves into the credential store, unless the store already
            // holds one: the file's copy is then the older of the two.
            passwordsInFile.insert(it.key(), password.toString());
            migrating.insert(it.key());
        }
        keyChain.readKey(it.key());
    }
    return true;
}

void ProfileStore::updateModel()
{
    model->setStringList(profiles.keys());
}

void ProfileStore::saveProfile(const QString &name, const QString &password, bool cbor)
{
    if (!name.isEmpty()) {
        setByUser.insert(name);
        // The user's password replaces whatever the file still carried.
        passwordsInFile.remove(name);
        migrating.remove(name);
    }
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
        const auto kept = passwordsInFile.constFind(it.key());
        if (kept != passwordsInFile.constEnd())
            profile.insert(passwordKey, kept.value());
        else
            profile.remove(passwordKey);
        *it = profile;
    }
    return writeFileSafely(filePath(cbor), encodeStoredObject(stripped, cbor));
}

void ProfileStore::restoreKey(const QString &key, const QString &value)
{
    // A profile deleted while its read was under way stays deleted, and one
    // the user saved meanwhile keeps the newer password.
    if (!profiles.contains(key) || setByUser.contains(key))
        return;
    if (migrating.contains(key)) {
        if (value.isEmpty()) {
            migrate(key);
            return;
        }
        // The store wins over the file; the file's copy can go.
        migrating.remove(key);
        passwordsInFile.remove(key);
        if (!writeFile(loadedCbor))
            reportFileFailure();
    }
    QJsonObject profile = profiles.value(key).toObject();
    profile.insert(passwordKey, value);
    profiles.insert(key, profile);
    emit keyRestored(key);
}

void ProfileStore::onKeyReadFailed(const QString &key)
{
    // Nothing stored under the name (or no store at all): move the file's copy.
    if (migrating.contains(key) && profiles.contains(key) && !setByUser.contains(key))
        migrate(key);
}

void ProfileStore::migrate(const QString &key)
{
    keyChain.writeKey(key, passwordsInFile.value(key));
}

void ProfileStore::onKeyStored(const QString &key)
{
    if (!migrating.remove(key))
        return;
    passwordsInFile.remove(key);
    if (!writeFile(loadedCbor))
        reportFileFailure();
    // The password has been in memory since the file was read.
    if (profiles.contains(key))
        emit keyRestored(key);
}

void ProfileStore::onKeyWriteFailed(const QString &key)
{
    // The password stays in the file for the next start, and in memory for now.
    if (migrating.remove(key) && profiles.contains(key))
        emit keyRestored(key);
}

void ProfileStore::reportFileFailure()
{
    const QString text = QCoreApplication::translate("ProfileManager", "Couldn't open profile file");
    if (isSignalConnected(QMetaMethod::fromSignal(&ProfileStore::fileFailed)))
        emit fileFailed(text);
    else
        reportError(text);
}
