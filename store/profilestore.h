#pragma once

#include "keychainclass.h"

#include <QHash>
#include <QJsonObject>
#include <QLatin1String>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringListModel>

#include <optional>

// What a save puts into the credential store for one profile; a value left
// unset keeps what the store holds.
struct ProfileCredentials
{
    std::optional<QString> password;
    std::optional<QString> secret;
};

// The connection profiles: name to {"host", "username", "password", "group",
// "secret"}, kept in configLocation + "/profile.json" (or the CBOR
// "/profile.dat") without their credentials. The password and the secret live
// in the credential store under the profile's name, each in a service of its
// own, and are put back into `profiles` as they arrive.
class ProfileStore : public QObject
{
    Q_OBJECT

public:
    explicit ProfileStore(QObject *parent = nullptr);

    static QString filePath(bool cbor);
    // The credential service that holds the profiles' secrets.
    static QString secretServiceName();

    // Fills `profiles` from the file (a missing one is created empty) and
    // starts the credential reads of each profile. False only when the file
    // cannot be opened.
    bool loadProfile(bool cbor = false);
    // Sets the names of `model` to the keys of `profiles`.
    void updateModel();
    // Writes every profile without its credentials, then stores the given
    // credentials of `name` (nothing for an empty name). A file that cannot be
    // written leaves the credential store alone as well.
    void saveProfile(const QString &name, const ProfileCredentials &credentials, bool cbor = false);
    // The same for the password alone.
    void saveProfile(const QString &name, const QString &password, bool cbor = false);
    // Removes a deleted profile's credentials from the store.
    void forgetCredentials(const QString &name);

    QJsonObject profiles;
    QStringListModel *const model;
    // The passwords, by profile name.
    KeyChainClass keyChain;
    // The secrets, by profile name.
    KeyChainClass secretChain;

signals:
    // The credential reads of `profile` have ended and its password is now in
    // `profiles` (its secret too, when the store holds one).
    void keyRestored(const QString &profile);
    // The profile file could not be opened or written. Without a listener the
    // text goes to the application's error sink.
    void fileFailed(const QString &text);

private:
    // One profile member kept in the credential store instead of the file.
    struct Credential
    {
        QLatin1String member;
        KeyChainClass *chain;
        // Values found in the file, by profile. Each stays in the file until
        // its own write to the store has succeeded (or the store turned out to
        // hold a value already), so a store that fails loses nothing and the
        // move is tried again at the next start.
        QHash<QString, QString> inFile;
        // Of those, the ones whose move is under way.
        QSet<QString> migrating;
        // Profiles whose value the user has saved: a start-up read still on
        // its way holds an older value and must not replace it.
        QSet<QString> setByUser;
    };

    void connectCredential(Credential &credential);
    void restoreKey(Credential &credential, const QString &key, const QString &value);
    void onKeyReadFailed(Credential &credential, const QString &key);
    void onKeyStored(Credential &credential, const QString &key);
    void onKeyWriteFailed(Credential &credential, const QString &key);
    // Moves the file's copy of the value into the store.
    void migrate(Credential &credential, const QString &key);
    // One of the profile's start-up reads has ended, the password's with the
    // password in memory or not.
    void readSettled(const Credential &credential, const QString &key, bool available);
    bool writeFile(bool cbor) const;
    void rewriteFile();
    void reportFileFailure();

    Credential passwords;
    Credential secrets;
    // Start-up reads still out, by profile: the profile is announced once all
    // of its credentials have been read, so a connection made on the
    // announcement carries both.
    QHash<QString, int> readsOut;
    QSet<QString> passwordAvailable;
    bool loadedCbor = false;
};
