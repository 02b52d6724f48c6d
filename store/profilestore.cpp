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
    , passwords{QLatin1String("password"), &keyChain, false, {}, {}, {}, {}, {}, {}, {}}
    , secrets{QLatin1String("secret"), &secretChain, true, {}, {}, {}, {}, {}, {}, {}}
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
                // Usable in memory at once; whether it moves into the store
                // depends on what the store holds.
                credential->inFile.insert(it.key(), value.toString());
                credential->deciding.insert(it.key());
            }
            credential->unsettled.insert(it.key());
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
            // The user's value replaces the file's; the file keeps its copy
            // until the store has the new one.
            credential->deciding.remove(name);
            credential->unsaved.insert(name, **value);
        }
    }
    if (!writeFile(cbor)) {
        // The store waits for a save that reaches the file.
        reportFileFailure();
        return;
    }
    for (const auto &[credential, value] : given) {
        if (named && value->has_value())
            writeToStore(*credential, name, **value);
    }
    retryUnsaved();
}

void ProfileStore::saveProfile(const QString &name, const QString &password, bool cbor)
{
    saveProfile(name, ProfileCredentials{password, std::nullopt}, cbor);
}

void ProfileStore::forgetCredentials(const QString &name)
{
    for (Credential *credential : {&passwords, &secrets}) {
        credential->inFile.remove(name);
        credential->unsaved.remove(name);
        credential->deciding.remove(name);
        credential->settleAfterWrite.remove(name);
        credential->setByUser.remove(name);
        readSettled(*credential, name, false);
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

void ProfileStore::writeToStore(Credential &credential, const QString &key, const QString &value)
{
    credential.unsaved.insert(key, value);
    ++credential.writesOut[key];
    credential.chain->writeKey(key, value);
}

void ProfileStore::moveToStore(Credential &credential, const QString &key)
{
    credential.settleAfterWrite.insert(key);
    writeToStore(credential, key, credential.inFile.value(key));
}

void ProfileStore::retryUnsaved()
{
    for (Credential *credential : {&passwords, &secrets}) {
        // A copy: writing changes the table.
        const QHash<QString, QString> unsaved = credential->unsaved;
        for (auto it = unsaved.constBegin(); it != unsaved.constEnd(); ++it) {
            if (profiles.contains(it.key()) && credential->writesOut.value(it.key()) == 0)
                writeToStore(*credential, it.key(), it.value());
        }
    }
}

void ProfileStore::restoreKey(Credential &credential, const QString &key, const QString &value)
{
    // A profile deleted while its read was under way stays deleted, and one
    // the user saved meanwhile keeps the newer value.
    if (!profiles.contains(key) || credential.setByUser.contains(key)) {
        readSettled(credential, key, false);
        return;
    }
    if (credential.deciding.remove(key)) {
        const QString fileValue = credential.inFile.value(key);
        if (value == fileValue) {
            // The store has it already; the file's copy can go.
            credential.inFile.remove(key);
            rewriteFile();
        } else if (value.isEmpty() || credential.fileWins) {
            moveToStore(credential, key);
            return;
        } else {
            // The store's is the newer: it replaces the file's copy.
            credential.inFile.remove(key);
            rewriteFile();
        }
    }
    QJsonObject profile = profiles.value(key).toObject();
    profile.insert(credential.member, value);
    profiles.insert(key, profile);
    readSettled(credential, key, true);
}

void ProfileStore::onKeyReadFailed(Credential &credential, const QString &key)
{
    // Nothing stored under the name, or no store at all: move the file's copy
    // (a store that cannot be reached turns the write down as well).
    if (credential.deciding.remove(key) && profiles.contains(key) && !credential.setByUser.contains(key)) {
        moveToStore(credential, key);
        return;
    }
    readSettled(credential, key, false);
}

void ProfileStore::onKeyStored(Credential &credential, const QString &key)
{
    auto out = credential.writesOut.find(key);
    if (out != credential.writesOut.end() && --out.value() > 0)
        return;
    credential.writesOut.remove(key);
    credential.unsaved.remove(key);
    // Only now may the file let go of its copy.
    if (credential.inFile.remove(key))
        rewriteFile();
    if (credential.settleAfterWrite.remove(key))
        readSettled(credential, key, profiles.value(key).toObject().contains(credential.member));
}

void ProfileStore::onKeyWriteFailed(Credential &credential, const QString &key)
{
    auto out = credential.writesOut.find(key);
    if (out != credential.writesOut.end() && --out.value() > 0)
        return;
    credential.writesOut.remove(key);
    // The value stays in memory and is written again at the next save. A
    // secret also stays in the file, the newest one in place of the file's;
    // a password never goes there.
    const auto unsaved = credential.unsaved.constFind(key);
    if (credential.fileWins && unsaved != credential.unsaved.constEnd() && profiles.contains(key)
        && credential.inFile.value(key) != unsaved.value()) {
        credential.inFile.insert(key, unsaved.value());
        rewriteFile();
    }
    // Told when it costs the user something: a value they saved is not kept
    // beyond this run. A value moving out of the file just stays there.
    if (credential.setByUser.contains(key) && !unavailableTold) {
        unavailableTold = true;
        emit credentialStoreUnavailable();
    }
    if (credential.settleAfterWrite.remove(key))
        readSettled(credential, key, profiles.value(key).toObject().contains(credential.member));
}

void ProfileStore::readSettled(Credential &credential, const QString &key, bool available)
{
    if (!credential.unsettled.remove(key))
        return;
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
