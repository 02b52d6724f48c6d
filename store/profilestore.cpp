#include "profilestore.h"

#include "appglobals.h"
#include "errorsink.h"
#include "storedfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaMethod>
#include <QStringListModel>

ProfileStore::ProfileStore(QObject *parent)
    : QObject(parent)
    , model(new QStringListModel(this))
    , secretChain(secretServiceName())
    , passwords{QLatin1String("password"), &keyChain, {}, {}, {}}
    , secrets{QLatin1String("secret"), &secretChain, {}, {}, {}}
{
    connectCredential(passwords);
    connectCredential(secrets);
}

void ProfileStore::connectCredential(Credential &credential)
{
    KeyChainClass *chain = credential.chain;
    connect(chain, &KeyChainClass::keyRestored, this,
            [this, &credential](const QString &key, const QString &value) { restoreKey(credential, key, value); });
    connect(chain, &KeyChainClass::keyStored, this,
            [this, &credential](const QString &key) { onKeyStored(credential, key); });
    connect(chain, &KeyChainClass::readFailed, this,
            [this, &credential](const QString &key) { onKeyReadFailed(credential, key); });
    connect(chain, &KeyChainClass::writeFailed, this,
            [this, &credential](const QString &key) { onKeyWriteFailed(credential, key); });
}

QString ProfileStore::filePath(bool cbor)
{
    return configLocation + (cbor ? QStringLiteral("/profile.dat") : QStringLiteral("/profile.json"));
}

QString ProfileStore::secretServiceName()
{
    return KeyChainClass::serviceName() + QStringLiteral(".secret");
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
        const QJsonObject profile = it.value().toObject();
        for (Credential *credential : {&passwords, &secrets}) {
            const QJsonValue value = profile.value(credential->member);
            if (value.isString()) {
                // A credential has no business in the file. It stays usable in
                // memory and moves into the credential store, unless the store
                // already holds one: the file's copy is then the older of the two.
                credential->inFile.insert(it.key(), value.toString());
                credential->migrating.insert(it.key());
            }
            credential->chain->readKey(it.key());
        }
        readsOut.insert(it.key(), 2);
    }
    return true;
}

void ProfileStore::updateModel()
{
    model->setStringList(profiles.keys());
}

void ProfileStore::saveProfile(const QString &name, const ProfileCredentials &credentials, bool cbor)
{
    const bool named = !name.isEmpty();
    const std::pair<Credential *, const std::optional<QString> *> given[] = {
        {&passwords, &credentials.password},
        {&secrets, &credentials.secret},
    };
    for (const auto &[credential, value] : given) {
        if (named && value->has_value()) {
            credential->setByUser.insert(name);
            // The user's value replaces whatever the file still carried.
            credential->inFile.remove(name);
            credential->migrating.remove(name);
        }
    }
    if (!writeFile(cbor)) {
        reportFileFailure();
        return;
    }
    for (const auto &[credential, value] : given) {
        if (named && value->has_value())
            credential->chain->writeKey(name, **value);
    }
}

void ProfileStore::saveProfile(const QString &name, const QString &password, bool cbor)
{
    saveProfile(name, ProfileCredentials{password, std::nullopt}, cbor);
}

void ProfileStore::forgetCredentials(const QString &name)
{
    for (Credential *credential : {&passwords, &secrets}) {
        credential->inFile.remove(name);
        credential->migrating.remove(name);
        credential->setByUser.remove(name);
        credential->chain->deleteKey(name);
    }
}

bool ProfileStore::writeFile(bool cbor) const
{
    QJsonObject stripped = profiles;
    for (auto it = stripped.begin(); it != stripped.end(); ++it) {
        if (!it.value().isObject())
            continue;
        QJsonObject profile = it.value().toObject();
        for (const Credential *credential : {&passwords, &secrets}) {
            const auto kept = credential->inFile.constFind(it.key());
            if (kept != credential->inFile.constEnd())
                profile.insert(credential->member, kept.value());
            else
                profile.remove(credential->member);
        }
        *it = profile;
    }
    return writeFileSafely(filePath(cbor), encodeStoredObject(stripped, cbor));
}

void ProfileStore::rewriteFile()
{
    if (!writeFile(loadedCbor))
        reportFileFailure();
}

void ProfileStore::restoreKey(Credential &credential, const QString &key, const QString &value)
{
    // A profile deleted while its read was under way stays deleted, and one
    // the user saved meanwhile keeps the newer value.
    if (!profiles.contains(key) || credential.setByUser.contains(key)) {
        readSettled(credential, key, false);
        return;
    }
    if (credential.migrating.contains(key)) {
        if (value.isEmpty()) {
            migrate(credential, key);
            return;
        }
        // The store wins over the file; the file's copy can go.
        credential.migrating.remove(key);
        credential.inFile.remove(key);
        rewriteFile();
    }
    QJsonObject profile = profiles.value(key).toObject();
    profile.insert(credential.member, value);
    profiles.insert(key, profile);
    readSettled(credential, key, true);
}

void ProfileStore::onKeyReadFailed(Credential &credential, const QString &key)
{
    // Nothing stored under the name (or no store at all): move the file's copy.
    if (credential.migrating.contains(key) && profiles.contains(key) && !credential.setByUser.contains(key)) {
        migrate(credential, key);
        return;
    }
    readSettled(credential, key, false);
}

void ProfileStore::migrate(Credential &credential, const QString &key)
{
    credential.chain->writeKey(key, credential.inFile.value(key));
}

void ProfileStore::onKeyStored(Credential &credential, const QString &key)
{
    if (!credential.migrating.remove(key))
        return;
    credential.inFile.remove(key);
    rewriteFile();
    // The value has been in memory since the file was read.
    readSettled(credential, key, profiles.contains(key));
}

void ProfileStore::onKeyWriteFailed(Credential &credential, const QString &key)
{
    // The value stays in the file for the next start, and in memory for now.
    if (credential.migrating.remove(key))
        readSettled(credential, key, profiles.contains(key));
}

void ProfileStore::readSettled(const Credential &credential, const QString &key, bool available)
{
    auto out = readsOut.find(key);
    if (out == readsOut.end())
        return;
    if (&credential == &passwords && available)
        passwordAvailable.insert(key);
    if (--out.value() > 0)
        return;
    readsOut.erase(out);
    if (passwordAvailable.remove(key) && profiles.contains(key))
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
