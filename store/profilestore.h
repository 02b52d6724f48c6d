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
    // credentials of `name` (nothing for an empty name), and again every value
    // the credential store has not accepted yet. A file that cannot be written
    // leaves the credential store alone as well.
    //
    // A value leaves the file only once the store has confirmed its write, so
    // a store that is missing, locked or refusing loses nothing: a password
    // then lives in memory for this run (it is never written to the file), a
    // secret stays in the file, as the original format keeps it, until the
    // store takes it at a later save or start.
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
    // The credential store turned down a value the user saved (there is no
    // store, or it is locked or refusing). Told once per run.
    void credentialStoreUnavailable();

private:
    // One profile member kept in the credential store instead of the file.
    struct Credential
    {
        QLatin1String member;
        KeyChainClass *chain;
        // Which copy is the newer when the file and the store hold different
        // values at start. A password in the file comes from an older version
        // of the program: the store's wins. A secret in the file is the newest
        // one: the original format keeps it there, and this program leaves it
        // there only while the store refuses it.
        bool fileWins;
        // Values the file holds, by profile; every write of the file keeps
        // them until the store has confirmed a write of the profile's value.
        QHash<QString, QString> inFile;
        // Values the store has yet to accept, by profile: what the user saved,
        // or what moves out of the file. Written again at every save.
        QHash<QString, QString> unsaved;
        // Writes started and not ended, by profile. The store runs its jobs in
        // order, so the last one to end tells where the newest value is.
        QHash<QString, int> writesOut;
        // Profiles whose file value waits for the start-up read to decide
        // between the file and the store.
        QSet<QString> deciding;
        // Profiles whose start-up read has not been settled yet.
        QSet<QString> unsettled;
        // Of those, the ones that settle when the move of their value ends.
        QSet<QString> settleAfterWrite;
        // Profiles whose value the user has saved: a start-up read still on
        // its way holds an older value and must not replace it.
        QSet<QString> setByUser;
    };

    void connectCredential(Credential &credential);
    void restoreKey(Credential &credential, const QString &key, const QString &value);
    void onKeyReadFailed(Credential &credential, const QString &key);
    void onKeyStored(Credential &credential, const QString &key);
    void onKeyWriteFailed(Credential &credential, const QString &key);
    void writeToStore(Credential &credential, const QString &key, const QString &value);
    // Moves the file's copy of the value into the store; the start-up read
    // settles when the write ends.
    void moveToStore(Credential &credential, const QString &key);
    // Writes again what the store has not accepted and is not writing now.
    void retryUnsaved();
    // One of the profile's start-up reads has ended, the password's with the
    // password in memory or not.
    void readSettled(Credential &credential, const QString &key, bool available);
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
    bool unavailableTold = false;
};
