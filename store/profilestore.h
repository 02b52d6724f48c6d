#pragma once

#include "keychainclass.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringListModel>

// The connection profiles: name to {"host", "username", "password", "group",
// "secret"}, kept in configLocation + "/profile.json" (or the CBOR
// "/profile.dat") without passwords. Passwords live in the credential store
// under the profile's name and are put back into `profiles` as they arrive.
class ProfileStore : public QObject
{
    Q_OBJECT

public:
    explicit ProfileStore(QObject *parent = nullptr);

    static QString filePath(bool cbor);

    // Fills `profiles` from the file (a missing one is created empty) and
    // starts one password read per profile. False only when the file cannot
    // be opened.
    bool loadProfile(bool cbor = false);
    // Sets the names of `model` to the keys of `profiles`.
    void updateModel();
    // Stores `password` under `name` in the credential store (skipped for an
    // empty name), then writes every profile without its password.
    void saveProfile(const QString &name, const QString &password, bool cbor = false);

    QJsonObject profiles;
    QStringListModel *const model;
    KeyChainClass keyChain;

signals:
    // The password of `profile` has been read back and is now in `profiles`.
    void keyRestored(const QString &profile);
    // The profile file could not be opened or written. Without a listener the
    // text goes to the application's error sink.
    void fileFailed(const QString &text);

private:
    void restoreKey(const QString &key, const QString &value);
    void onKeyStored(const QString &key);
    bool writeFile(bool cbor) const;
    void reportFileFailure();

    // Profiles whose password was found in the file and is on its way into
    // the credential store; once all are stored the file is rewritten without them.
    QSet<QString> migrating;
    bool loadedCbor = false;
};
