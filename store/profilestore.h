#pragma once

#include "keychainclass.h"

#include <QJsonObject>
#include <QHash>
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
    void onKeyReadFailed(const QString &key);
    void onKeyStored(const QString &key);
    void onKeyWriteFailed(const QString &key);
    void migrate(const QString &key);
    bool writeFile(bool cbor) const;
    void reportFileFailure();

    // Passwords found in the file, by profile. Each stays in the file until its
    // own write to the credential store has succeeded (or the store turned out
    // to hold a password already), so a store that fails loses nothing and
    // the move is tried again at the next start.
    QHash<QString, QString> passwordsInFile;
    // Of those, the ones whose move is under way.
    QSet<QString> migrating;
    // Profiles whose password the user has saved: a start-up read still on
    // its way holds an older value and must not replace it.
    QSet<QString> setByUser;
    bool loadedCbor = false;
};
