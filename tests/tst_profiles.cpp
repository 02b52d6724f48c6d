#include "appglobals.h"
#include "privatebus.h"
#include "profilestore.h"
#include "secretstore.h"
#include "testenv.h"

#include <QCborValue>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {
const int waitMs = 10000;

// Profile names are credential keys too.
QString key(const char *stem)
{
    return QStringLiteral("tst-profiles-") + QLatin1String(stem);
}

// A profile as the file holds it: no password, no secret.
QJsonObject profile(const QString &host, const QString &username)
{
    return QJsonObject{
        {QStringLiteral("host"), host}, {QStringLiteral("username"), username}, {QStringLiteral("group"), QString()}};
}

QJsonObject readJson(const TestEnv &env)
{
    return QJsonDocument::fromJson(env.readConfigFile(QStringLiteral("profile.json"))).object();
}
} // namespace

class TestProfiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstStartCreatesEmptyFile();
    void unusableContentLoadsEmpty_data();
    void unusableContentLoadsEmpty();
    void namesInCodeUnitOrder();
    void unopenableFile();
    void saveKeepsCredentialsOutOfFile();
    void saveFailureLeavesCredentialsAlone();
    void credentialsRestoredAtLoad();
    void credentialFoundInFileMovesToCredentialStore_data();
    void credentialFoundInFileMovesToCredentialStore();
    void restoreAfterDeleteDoesNotResurrect();
    void cborRoundTrip();
    void fileAndStoreDisagree_data();
    void fileAndStoreDisagree();
    void lateRestoreKeepsValueSetMeanwhile_data();
    void lateRestoreKeepsValueSetMeanwhile();
    void failedMoveKeepsCredentialsInFile();
    void unavailableStoreLosesNothing_data();
    void unavailableStoreLosesNothing();
    void quittingWaitsForHangingStoreAtMostItsTime();
};

void TestProfiles::init()
{
    secretStoreClearService();
}

void TestProfiles::firstStartCreatesEmptyFile()
{
    TestEnv env;
    ProfileStore store;
    QVERIFY(!QFileInfo::exists(env.configFile(QStringLiteral("profile.json"))));
    QVERIFY(store.loadProfile());
    QVERIFY(QFileInfo::exists(env.configFile(QStringLiteral("profile.json"))));
    QCOMPARE(env.readConfigFile(QStringLiteral("profile.json")), QByteArray());
    QVERIFY(store.profiles.isEmpty());
    store.updateModel();
    QCOMPARE(store.model->rowCount(), 0);

    store.profiles.insert(key("office"), profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));
    store.saveProfile(QString(), QString());
    QCOMPARE(readJson(env).keys(), QStringList{key("office")});
    QVERIFY(env.errors.isEmpty());
}

void TestProfiles::unusableContentLoadsEmpty_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("garbage") << QByteArray("{not json");
    QTest::newRow("array") << QByteArray("[{\"host\":\"h\"}]");
    QTest::newRow("string") << QByteArray("\"profile\"");
}

void TestProfiles::unusableContentLoadsEmpty()
{
    QFETCH(QByteArray, content);
    TestEnv env;
    env.writeConfigFile(QStringLiteral("profile.json"), content);
    ProfileStore store;
    QVERIFY(store.loadProfile());
    QVERIFY(store.profiles.isEmpty());
    QVERIFY(env.errors.isEmpty());
}

void TestProfiles::namesInCodeUnitOrder()
{
    TestEnv env;
    env.writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{QStringLiteral("b"), profile(QStringLiteral("b"), QStringLiteral("u"))},
                                  {QStringLiteral("A"), profile(QStringLiteral("A"), QStringLiteral("u"))},
                                  {QStringLiteral("a"), profile(QStringLiteral("a"), QStringLiteral("u"))}})
            .toJson());
    ProfileStore store;
    QVERIFY(store.loadProfile());
    store.updateModel();
    QCOMPARE(store.model->stringList(), (QStringList{QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("b")}));
}

void TestProfiles::unopenableFile()
{
    // A directory where the file belongs can be neither read nor replaced.
    TestEnv env;
    QVERIFY(QDir().mkpath(env.configFile(QStringLiteral("profile.json"))));
    ProfileStore store;
    QVERIFY(!store.loadProfile());
    QCOMPARE(env.errors, QStringList{QStringLiteral("Couldn't open profile file")});

    // With a listener the text goes there instead of the application's sink.
    QSignalSpy failed(&store, &ProfileStore::fileFailed);
    QVERIFY(!store.loadProfile());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().first().toString(), QStringLiteral("Couldn't open profile file"));
    QCOMPARE(env.errors.size(), 1);
}

void TestProfiles::saveKeepsCredentialsOutOfFile()
{
    TestEnv env;
    ProfileStore store;
    QVERIFY(store.loadProfile());
    QJsonObject office = profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice"));
    office.insert(QStringLiteral("password"), QStringLiteral("Tr0ub4dor&3"));
    office.insert(QStringLiteral("secret"), QStringLiteral("office-k3y"));
    store.profiles.insert(key("office"), office);
    QJsonObject lab = profile(QStringLiteral("lab.example.com"), QStringLiteral("bob"));
    lab.insert(QStringLiteral("password"), QStringLiteral("lab-password"));
    lab.insert(QStringLiteral("secret"), QStringLiteral("lab-k3y"));
    store.profiles.insert(key("lab"), lab);

    QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
    QSignalSpy secretStored(&store.secretChain, &KeyChainClass::keyStored);
    store.saveProfile(key("office"), ProfileCredentials{QStringLiteral("Tr0ub4dor&3"), QStringLiteral("office-k3y")});
    QTRY_VERIFY_WITH_TIMEOUT(stored.size() == 1 && secretStored.size() == 1, waitMs);
    QCOMPARE(stored.first().first().toString(), key("office"));
    QCOMPARE(secretStored.first().first().toString(), key("office"));

    const QByteArray bytes = env.readConfigFile(QStringLiteral("profile.json"));
    for (const char *value : {"Tr0ub4dor&3", "lab-password", "office-k3y", "lab-k3y", "\"password\"", "\"secret\""})
        QVERIFY2(!bytes.contains(value), value);
    QCOMPARE(readJson(env).value(key("office")).toObject(),
             profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));
    // Indented, one member per line.
    QVERIFY(bytes.contains("\n        \"host\": \"vpn.example.com\""));

    QCOMPARE(secretStoreLookup(key("office")), QStringLiteral("Tr0ub4dor&3"));
    QCOMPARE(secretStoreLookup(key("office"), secretStoreSecretService()), QStringLiteral("office-k3y"));
    // Only the named profile's credentials are written.
    QCOMPARE(secretStoreLookup(key("lab")), QString());
    QCOMPARE(secretStoreLookup(key("lab"), secretStoreSecretService()), QString());
    // The credentials stay in memory for this run.
    QCOMPARE(store.profiles.value(key("lab")).toObject(), lab);

    // A save naming only the password leaves the stored secret alone.
    store.saveProfile(key("office"), QStringLiteral("changed-pw"));
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 2, waitMs);
    QCOMPARE(secretStoreLookup(key("office")), QStringLiteral("changed-pw"));
    QCOMPARE(secretStoreLookup(key("office"), secretStoreSecretService()), QStringLiteral("office-k3y"));
    QCOMPARE(secretStored.size(), 1);

    // What the next start reads back.
    ProfileStore reloaded;
    QSignalSpy restored(&reloaded, &ProfileStore::keyRestored);
    QVERIFY(reloaded.loadProfile());
    QVERIFY(restored.wait(waitMs));
    QJsonObject expected = office;
    expected.insert(QStringLiteral("password"), QStringLiteral("changed-pw"));
    QCOMPARE(reloaded.profiles.value(key("office")).toObject(), expected);
}

void TestProfiles::saveFailureLeavesCredentialsAlone()
{
    TestEnv env;
    ProfileStore store;
    QVERIFY(store.loadProfile());
    QVERIFY(QDir(env.configDir()).remove(QStringLiteral("profile.json")));
    QVERIFY(QDir().mkpath(env.configFile(QStringLiteral("profile.json"))));

    QSignalSpy failed(&store, &ProfileStore::fileFailed);
    QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
    QSignalSpy secretStored(&store.secretChain, &KeyChainClass::keyStored);
    store.profiles.insert(key("office"), profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));
    store.saveProfile(key("office"), ProfileCredentials{QStringLiteral("never stored"), QStringLiteral("nor this")});
    QCOMPARE(failed.size(), 1);
    QVERIFY(!stored.wait(500));
    QCOMPARE(secretStored.size(), 0);
    QCOMPARE(secretStoreLookup(key("office")), QString());
    QCOMPARE(secretStoreLookup(key("office"), secretStoreSecretService()), QString());
    // The change stays in memory for the rest of the run.
    QVERIFY(store.profiles.contains(key("office")));
}

void TestProfiles::credentialsRestoredAtLoad()
{
    TestEnv env;
    QVERIFY(secretStoreSet(key("office"), QStringLiteral("office-pw")));
    QVERIFY(secretStoreSet(key("office"), QStringLiteral("office-k3y"), secretStoreSecretService()));
    QVERIFY(secretStoreSet(key("home"), QStringLiteral("家里的密码")));
    // "lab" has no entry, as when it was removed outside the program.
    QJsonObject bare{{QStringLiteral("host"), QStringLiteral("lab.example.com")},
                     {QStringLiteral("username"), QStringLiteral("bob")}};
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("office"), profile(QStringLiteral("o"), QStringLiteral("u"))},
                                                  {key("home"), profile(QStringLiteral("h"), QStringLiteral("u"))},
                                                  {key("lab"), bare}})
                            .toJson());

    ProfileStore store;
    // What a connection started on the announcement would send.
    QHash<QString, QJsonObject> announced;
    connect(&store, &ProfileStore::keyRestored, this,
            [&](const QString &name) { announced.insert(name, store.profiles.value(name).toObject()); });
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    // Every read of the three profiles, in both services, has ended once
    // these add up to three each.
    QSignalSpy passwordsRead(&store.keyChain, &KeyChainClass::keyRestored);
    QSignalSpy passwordsMissing(&store.keyChain, &KeyChainClass::readFailed);
    QSignalSpy secretsRead(&store.secretChain, &KeyChainClass::keyRestored);
    QSignalSpy secretsMissing(&store.secretChain, &KeyChainClass::readFailed);
    QVERIFY(store.loadProfile());
    // Nothing arrives before the event loop runs.
    QCOMPARE(restored.size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        passwordsRead.size() + passwordsMissing.size() == 3 && secretsRead.size() + secretsMissing.size() == 3, waitMs);
    QCOMPARE(restored.size(), 2);

    QStringList names = announced.keys();
    names.sort();
    QCOMPARE(names, (QStringList{key("home"), key("office")}));
    // Announced only once the secret is in as well.
    QJsonObject office = profile(QStringLiteral("o"), QStringLiteral("u"));
    office.insert(QStringLiteral("password"), QStringLiteral("office-pw"));
    office.insert(QStringLiteral("secret"), QStringLiteral("office-k3y"));
    QCOMPARE(announced.value(key("office")), office);
    QJsonObject home = profile(QStringLiteral("h"), QStringLiteral("u"));
    home.insert(QStringLiteral("password"), QStringLiteral("家里的密码"));
    QCOMPARE(announced.value(key("home")), home);
    QCOMPARE(store.profiles.value(key("lab")).toObject(), bare);
}

namespace {
// The rows of the tests run once for each credential kept out of the file.
void addCredentialRows()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("service");
    QTest::newRow("password") << QStringLiteral("password") << QString();
    QTest::newRow("secret") << QStringLiteral("secret") << secretStoreSecretService();
}

KeyChainClass &chainOf(ProfileStore &store, const QString &member)
{
    return member == QLatin1String("secret") ? store.secretChain : store.keyChain;
}

// A profile is announced once its password is in; a row about the secret
// gives the profile a stored password so that it is.
bool storePasswordFor(const QString &member, const QString &name)
{
    return member == QLatin1String("password") || secretStoreSet(name, QStringLiteral("pw-") + name);
}
} // namespace

void TestProfiles::credentialFoundInFileMovesToCredentialStore_data()
{
    addCredentialRows();
}

void TestProfiles::credentialFoundInFileMovesToCredentialStore()
{
    QFETCH(QString, member);
    QFETCH(QString, service);
    TestEnv env;
    QJsonObject legacy = profile(QStringLiteral("old.example.com"), QStringLiteral("carol"));
    legacy.insert(member, QStringLiteral("plain-on-disk"));
    QVERIFY(storePasswordFor(member, key("legacy")));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("legacy"), legacy},
                                                  {key("lab"), profile(QStringLiteral("l"), QStringLiteral("u"))}})
                            .toJson());

    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    // Usable at once, before the credential store has answered.
    QCOMPARE(store.profiles.value(key("legacy")).toObject().value(member).toString(), QStringLiteral("plain-on-disk"));

    QTRY_VERIFY_WITH_TIMEOUT(!restored.isEmpty(), waitMs);
    QCOMPARE(restored.first().first().toString(), key("legacy"));
    QCOMPARE(secretStoreLookup(key("legacy"), service), QStringLiteral("plain-on-disk"));
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains("plain-on-disk"), waitMs);

    QCOMPARE(readJson(env).value(key("legacy")).toObject(),
             profile(QStringLiteral("old.example.com"), QStringLiteral("carol")));
    QVERIFY(readJson(env).contains(key("lab")));
    QCOMPARE(store.profiles.value(key("legacy")).toObject().value(member).toString(), QStringLiteral("plain-on-disk"));
    QVERIFY(env.errors.isEmpty());
}

void TestProfiles::restoreAfterDeleteDoesNotResurrect()
{
    TestEnv env;
    QVERIFY(secretStoreSet(key("gone"), QStringLiteral("pw")));
    env.writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{key("gone"), profile(QStringLiteral("g"), QStringLiteral("u"))}}).toJson());
    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QSignalSpy keyRead(&store.keyChain, &KeyChainClass::keyRestored);
    QSignalSpy secretMissing(&store.secretChain, &KeyChainClass::readFailed);
    QVERIFY(store.loadProfile());
    store.profiles.remove(key("gone"));

    // Both reads have ended: the profile would have been announced by now.
    QTRY_VERIFY_WITH_TIMEOUT(keyRead.size() == 1 && secretMissing.size() == 1, waitMs);
    QVERIFY(store.profiles.isEmpty());
    QCOMPARE(restored.size(), 0);
}

void TestProfiles::cborRoundTrip()
{
    TestEnv env;
    {
        ProfileStore store;
        QVERIFY(store.loadProfile(true));
        QVERIFY(QFileInfo::exists(env.configFile(QStringLiteral("profile.dat"))));
        QJsonObject office = profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice"));
        office.insert(QStringLiteral("password"), QStringLiteral("cbor-password"));
        office.insert(QStringLiteral("secret"), QStringLiteral("cbor-secret"));
        store.profiles.insert(key("cbor"), office);
        QSignalSpy stored(&store.secretChain, &KeyChainClass::keyStored);
        store.saveProfile(key("cbor"),
                          ProfileCredentials{QStringLiteral("cbor-password"), QStringLiteral("cbor-secret")}, true);
        QVERIFY(stored.wait(waitMs));
    }
    const QByteArray bytes = env.readConfigFile(QStringLiteral("profile.dat"));
    QVERIFY(!bytes.contains("cbor-password"));
    QVERIFY(!bytes.contains("cbor-secret"));
    QVERIFY(!QFileInfo::exists(env.configFile(QStringLiteral("profile.json"))));
    QCOMPARE(QCborValue::fromCbor(bytes).toMap().toJsonObject().value(key("cbor")).toObject(),
             profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));

    ProfileStore reloaded;
    QSignalSpy restored(&reloaded, &ProfileStore::keyRestored);
    QVERIFY(reloaded.loadProfile(true));
    QVERIFY(restored.wait(waitMs));
    QCOMPARE(reloaded.profiles.value(key("cbor")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("cbor-password"));
    QCOMPARE(reloaded.profiles.value(key("cbor")).toObject().value(QStringLiteral("secret")).toString(),
             QStringLiteral("cbor-secret"));
}

void TestProfiles::fileAndStoreDisagree_data()
{
    addCredentialRows();
}

void TestProfiles::fileAndStoreDisagree()
{
    // Two plaintext values in the file. The store holds another one for
    // "both"; "moved" has none there yet. A password in the file comes from
    // an older version of the program, so the store's wins; a secret in the
    // file is the newest (the original format keeps it there, and the store
    // turned it down when it was saved), so it replaces the store's.
    QFETCH(QString, member);
    QFETCH(QString, service);
    const bool fileWins = member == QLatin1String("secret");
    TestEnv env;
    QVERIFY(secretStoreSet(key("both"), QStringLiteral("in-store"), service));
    QJsonObject both = profile(QStringLiteral("k"), QStringLiteral("u"));
    both.insert(member, QStringLiteral("in-file"));
    QJsonObject moved = profile(QStringLiteral("m"), QStringLiteral("u"));
    moved.insert(member, QStringLiteral("moves-over"));
    QVERIFY(storePasswordFor(member, key("both")) && storePasswordFor(member, key("moved")));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("both"), both}, {key("moved"), moved}}).toJson());

    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 2, waitMs);
    const QString winner = fileWins ? QStringLiteral("in-file") : QStringLiteral("in-store");
    QCOMPARE(secretStoreLookup(key("both"), service), winner);
    QCOMPARE(store.profiles.value(key("both")).toObject().value(member).toString(), winner);
    QCOMPARE(secretStoreLookup(key("moved"), service), QStringLiteral("moves-over"));
    const QByteArray quoted = '"' + member.toUtf8() + '"';
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains(quoted), waitMs);
}

void TestProfiles::lateRestoreKeepsValueSetMeanwhile_data()
{
    addCredentialRows();
}

void TestProfiles::lateRestoreKeepsValueSetMeanwhile()
{
    QFETCH(QString, member);
    QFETCH(QString, service);
    TestEnv env;
    QVERIFY(secretStoreSet(key("late"), QStringLiteral("old"), service));
    env.writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{key("late"), profile(QStringLiteral("l"), QStringLiteral("u"))}}).toJson());
    ProfileStore store;
    KeyChainClass &chain = chainOf(store, member);
    QSignalSpy read(&chain, &KeyChainClass::keyRestored);
    QSignalSpy stored(&chain, &KeyChainClass::keyStored);
    QVERIFY(store.loadProfile());
    // The start-up read is still out when the user saves a new value.
    QJsonObject late = profile(QStringLiteral("l"), QStringLiteral("u"));
    late.insert(member, QStringLiteral("new"));
    store.profiles.insert(key("late"), late);
    ProfileCredentials credentials;
    (member == QLatin1String("secret") ? credentials.secret : credentials.password) = QStringLiteral("new");
    store.saveProfile(key("late"), credentials);

    QTRY_VERIFY_WITH_TIMEOUT(read.size() == 1 && stored.size() == 1, waitMs);
    QCOMPARE(read.first().at(1).toString(), QStringLiteral("old")); // the stale value did arrive
    QCOMPARE(store.profiles.value(key("late")).toObject().value(member).toString(), QStringLiteral("new"));
    QCOMPARE(secretStoreLookup(key("late"), service), QStringLiteral("new"));
}

void TestProfiles::failedMoveKeepsCredentialsInFile()
{
    TestEnv env;
    QJsonObject legacy = profile(QStringLiteral("old.example.com"), QStringLiteral("carol"));
    legacy.insert(QStringLiteral("password"), QStringLiteral("plain-one"));
    legacy.insert(QStringLiteral("secret"), QStringLiteral("plain-secret-one"));
    QJsonObject other = profile(QStringLiteral("other.example.com"), QStringLiteral("dave"));
    other.insert(QStringLiteral("password"), QStringLiteral("plain-two"));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("legacy"), legacy}, {key("other"), other}}).toJson());

    // A start whose session bus (and so the secret service) cannot be reached:
    // every move fails, and a save in that run must not strip the credentials.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--load-without-store"), env.configDir(), QStringLiteral("2")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    const QByteArray afterFailure = env.readConfigFile(QStringLiteral("profile.json"));
    QVERIFY(afterFailure.contains("plain-one"));
    QVERIFY(afterFailure.contains("plain-secret-one"));
    QVERIFY(afterFailure.contains("plain-two"));
    QCOMPARE(secretStoreLookup(key("legacy")), QString());

    // The next start, with the store back, moves them.
    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 2, waitMs);
    QCOMPARE(secretStoreLookup(key("legacy")), QStringLiteral("plain-one"));
    QCOMPARE(secretStoreLookup(key("legacy"), secretStoreSecretService()), QStringLiteral("plain-secret-one"));
    QCOMPARE(secretStoreLookup(key("other")), QStringLiteral("plain-two"));
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains("plain"), waitMs);
}

void TestProfiles::unavailableStoreLosesNothing_data()
{
    QTest::addColumn<bool>("keyringAtFirst"); // a keyring that refuses writes, or no Secret Service at all
    QTest::addColumn<bool>("laterInSameRun"); // the store works at a later save of this run, or at the next start
    QTest::newRow("no Secret Service, next start with one") << false << false;
    QTest::newRow("keyring refusing writes, next start with a working one") << true << false;
    QTest::newRow("no Secret Service, one appears during the run") << false << true;
}

// A start whose credential store turns every write down: the file holds a
// secret (as the original format does) and an older password. The user
// changes only the host of that profile and saves, and saves a new profile.
// Nothing may be lost: what the file held stays there, the typed secret is
// kept there too, the typed password only in memory, and the status is told
// once. Once the store works, everything moves into it.
void TestProfiles::unavailableStoreLosesNothing()
{
    QFETCH(bool, keyringAtFirst);
    QFETCH(bool, laterInSameRun);
    PrivateSessionBus bus;
    QVERIFY(bus.isValid());
    if (keyringAtFirst) {
        QVERIFY(bus.startKeyring());
        QVERIFY(bus.lockKeyring());
    }
    TestEnv env;
    QJsonObject legacy = profile(QStringLiteral("h"), QStringLiteral("u"));
    legacy.insert(QStringLiteral("secret"), QStringLiteral("s3"));
    legacy.insert(QStringLiteral("password"), QStringLiteral("p-old"));
    env.writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{QStringLiteral("legacy"), legacy},
                                  {QStringLiteral("plain"), profile(QStringLiteral("p"), QStringLiteral("u"))}})
            .toJson());
    const QString goFile = env.configFile(QStringLiteral("go"));

    QProcess child;
    child.setProcessEnvironment(bus.environment());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--save-without-store"), env.configDir(), laterInSameRun ? goFile : QString()});
    QByteArray out;
    QVERIFY(QTest::qWaitFor(
        [&] {
            out += child.readAllStandardOutput();
            return out.contains("saved") || child.state() == QProcess::NotRunning;
        },
        60000));
    QVERIFY2(out.contains("saved"), out.constData());
    QVERIFY2(out.contains("unavailable told 1\n"), out.constData());

    const QByteArray file = env.readConfigFile(QStringLiteral("profile.json"));
    const QJsonObject saved = readJson(env);
    QCOMPARE(saved.value(QStringLiteral("legacy")).toObject().value(QStringLiteral("host")).toString(),
             QStringLiteral("h2"));
    QCOMPARE(saved.value(QStringLiteral("legacy")).toObject().value(QStringLiteral("secret")).toString(),
             QStringLiteral("s3"));
    QCOMPARE(saved.value(QStringLiteral("legacy")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("p-old"));
    QCOMPARE(saved.value(QStringLiteral("typed")).toObject().value(QStringLiteral("secret")).toString(),
             QStringLiteral("sec-new"));
    QVERIFY2(!file.contains("pw-new"), "a password reached the file");

    // The store works from now on: a working keyring, the locked one gone.
    if (keyringAtFirst)
        QVERIFY(bus.restartKeyring());
    else
        QVERIFY(bus.startKeyring());
    QString typedPassword;
    if (laterInSameRun) {
        // A later save of the same run writes what the store turned down.
        QVERIFY(QFile(goFile).open(QIODevice::WriteOnly));
        typedPassword = QStringLiteral("pw-new");
    } else {
        QVERIFY(child.state() == QProcess::NotRunning || child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        // The next start moves what the file kept; the typed password lived
        // in memory only and ended with the run.
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--load-and-quit"), env.configDir()});
    }
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(bus.lookup(KeyChainClass::serviceName(), QStringLiteral("legacy")), QStringLiteral("p-old"));
    QCOMPARE(bus.lookup(ProfileStore::secretServiceName(), QStringLiteral("legacy")), QStringLiteral("s3"));
    QCOMPARE(bus.lookup(ProfileStore::secretServiceName(), QStringLiteral("typed")), QStringLiteral("sec-new"));
    QCOMPARE(bus.lookup(KeyChainClass::serviceName(), QStringLiteral("typed")), typedPassword);
    const QByteArray after = env.readConfigFile(QStringLiteral("profile.json"));
    for (const char *value : {"s3", "p-old", "sec-new", "pw-new", "\"password\"", "\"secret\""})
        QVERIFY2(!after.contains(value), value);
    QCOMPARE(readJson(env).keys(),
             (QStringList{QStringLiteral("legacy"), QStringLiteral("plain"), QStringLiteral("typed")}));
}

// Quitting waits for credential jobs, but a store that never answers keeps
// the process no longer than 3 s.
void TestProfiles::quittingWaitsForHangingStoreAtMostItsTime()
{
    PrivateSessionBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.startKeyring());
    QVERIFY(bus.freezeKeyring());
    TestEnv env;
    QProcess child;
    child.setProcessEnvironment(bus.environment());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--save-and-quit"), env.configDir()});
    QVERIFY(child.waitForFinished(30000));
    const QByteArray out = child.readAllStandardOutput();
    const QRegularExpression waited(QStringLiteral("jobs ended 0 after (\\d+) ms"));
    const QRegularExpressionMatch match = waited.match(QString::fromUtf8(out));
    QVERIFY2(match.hasMatch(), out.constData());
    const int ms = match.captured(1).toInt();
    QVERIFY2(ms >= 3000 && ms < 4500, out.constData());
}

namespace {
// The child of failedMoveKeepsCredentialsInFile: loads the profiles in the
// given folder, waits until the store has turned down each read, then saves
// (as Delete in the dialog does) and exits.
int loadWithoutStore(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configLocation = QString::fromLocal8Bit(argv[2]);
    const int profiles = QByteArray(argv[3]).toInt();
    ProfileStore store;
    QSignalSpy failures(&store.keyChain, &KeyChainClass::error);
    QSignalSpy secretFailures(&store.secretChain, &KeyChainClass::error);
    if (!store.loadProfile())
        return 3;
    if (!QTest::qWaitFor([&] { return failures.size() >= profiles && secretFailures.size() >= profiles; }, 30000))
        return 4;
    QTest::qWait(500);
    store.saveProfile(QString(), QString());
    return 0;
}

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The child of unavailableStoreLosesNothing: loads the profiles in the given
// folder while the store turns everything down, saves "legacy" with only its
// host changed (as the dialog does, with the values it showed) and a new
// profile "typed", and reports. With a third argument it then waits for that
// file and saves once more, as any later Save or Delete does.
int saveWithoutStore(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configLocation = QString::fromLocal8Bit(argv[2]);
    const QString goFile = QString::fromLocal8Bit(argv[3]);
    ProfileStore store;
    int told = 0;
    QObject::connect(&store, &ProfileStore::credentialStoreUnavailable, [&told] { ++told; });
    if (!store.loadProfile() || !KeyChainClass::waitForJobs(30000))
        return 3;
    QJsonObject legacy = store.profiles.value(QStringLiteral("legacy")).toObject();
    legacy.insert(QStringLiteral("host"), QStringLiteral("h2"));
    store.profiles.insert(QStringLiteral("legacy"), legacy);
    store.saveProfile(QStringLiteral("legacy"), ProfileCredentials{legacy.value(QStringLiteral("password")).toString(),
                                                                   legacy.value(QStringLiteral("secret")).toString()});
    QJsonObject typed = profile(QStringLiteral("t"), QStringLiteral("u"));
    typed.insert(QStringLiteral("password"), QStringLiteral("pw-new"));
    typed.insert(QStringLiteral("secret"), QStringLiteral("sec-new"));
    store.profiles.insert(QStringLiteral("typed"), typed);
    store.saveProfile(QStringLiteral("typed"), ProfileCredentials{QStringLiteral("pw-new"), QStringLiteral("sec-new")});
    if (!KeyChainClass::waitForJobs(30000))
        return 4;
    say("unavailable told " + QByteArray::number(told));
    say("saved");
    if (goFile.isEmpty())
        return 0;
    if (!QTest::qWaitFor([&] { return QFile::exists(goFile); }, 30000))
        return 5;
    store.saveProfile(QString(), QString());
    return KeyChainClass::waitForJobs(30000) ? 0 : 6;
}

// A start that loads the profiles and quits as soon as it can, as the
// program does: waiting for the credential jobs on the way out.
int loadAndQuit(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configLocation = QString::fromLocal8Bit(argv[2]);
    ProfileStore store;
    if (!store.loadProfile())
        return 3;
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();
    return KeyChainClass::waitForJobs(3000) ? 0 : 4;
}

// Saves a new profile with a password, then quits waiting for the write; the
// store never answers.
int saveAndQuit(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configLocation = QString::fromLocal8Bit(argv[2]);
    ProfileStore store;
    store.loadProfile();
    store.profiles.insert(QStringLiteral("office"), profile(QStringLiteral("o"), QStringLiteral("u")));
    store.saveProfile(QStringLiteral("office"), QStringLiteral("pw"));
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    app.exec();
    QElapsedTimer waited;
    waited.start();
    const bool ended = KeyChainClass::waitForJobs(3000);
    say("jobs ended " + QByteArray::number(int(ended)) + " after " + QByteArray::number(waited.elapsed()) + " ms");
    // The job still waits for its answer; nothing is left to tidy.
    std::_Exit(0);
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--load-without-store") == 0)
        return loadWithoutStore(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--save-without-store") == 0)
        return saveWithoutStore(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--load-and-quit") == 0)
        return loadAndQuit(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--save-and-quit") == 0)
        return saveAndQuit(argc, argv);
    QCoreApplication app(argc, argv);
    TestProfiles test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_profiles.moc"
