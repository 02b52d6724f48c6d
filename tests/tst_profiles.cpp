#include "appglobals.h"
#include "profilestore.h"
#include "secretstore.h"
#include "testenv.h"

#include <QCborValue>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTest>

namespace {
const int waitMs = 10000;

// Profile names are credential keys too.
QString key(const char *stem)
{
    return QStringLiteral("tst-profiles-") + QLatin1String(stem);
}

QJsonObject profile(const QString &host, const QString &username)
{
    return QJsonObject{{QStringLiteral("host"), host},
                       {QStringLiteral("username"), username},
                       {QStringLiteral("group"), QString()},
                       {QStringLiteral("secret"), QString()}};
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
    void saveKeepsPasswordOutOfFile();
    void saveFailureLeavesCredentialsAlone();
    void passwordsRestoredAtLoad();
    void passwordFoundInFileMovesToCredentialStore();
    void restoreAfterDeleteDoesNotResurrect();
    void cborRoundTrip();
    void storedPasswordWinsOverFile();
    void lateRestoreKeepsPasswordSetMeanwhile();
    void failedMoveKeepsPasswordInFile();
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
    env.writeConfigFile(QStringLiteral("profile.json"),
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

void TestProfiles::saveKeepsPasswordOutOfFile()
{
    TestEnv env;
    ProfileStore store;
    QVERIFY(store.loadProfile());
    QJsonObject office = profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice"));
    office.insert(QStringLiteral("password"), QStringLiteral("Tr0ub4dor&3"));
    store.profiles.insert(key("office"), office);
    QJsonObject lab = profile(QStringLiteral("lab.example.com"), QStringLiteral("bob"));
    lab.insert(QStringLiteral("password"), QStringLiteral("lab-password"));
    store.profiles.insert(key("lab"), lab);

    QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
    store.saveProfile(key("office"), QStringLiteral("Tr0ub4dor&3"));
    QVERIFY(stored.wait(waitMs));
    QCOMPARE(stored.first().first().toString(), key("office"));

    const QByteArray bytes = env.readConfigFile(QStringLiteral("profile.json"));
    QVERIFY(!bytes.contains("Tr0ub4dor&3"));
    QVERIFY(!bytes.contains("lab-password"));
    QVERIFY(!bytes.contains("\"password\""));
    QJsonObject expectedOffice = office;
    expectedOffice.remove(QStringLiteral("password"));
    QCOMPARE(readJson(env).value(key("office")).toObject(), expectedOffice);
    // Indented, one member per line.
    QVERIFY(bytes.contains("\n        \"host\": \"vpn.example.com\""));

    QCOMPARE(secretStoreLookup(key("office")), QStringLiteral("Tr0ub4dor&3"));
    // Only the named profile's password is written.
    QCOMPARE(secretStoreLookup(key("lab")), QString());
    // The passwords stay in memory for this run.
    QCOMPARE(store.profiles.value(key("lab")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("lab-password"));
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
    store.profiles.insert(key("office"), profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));
    store.saveProfile(key("office"), QStringLiteral("never stored"));
    QCOMPARE(failed.size(), 1);
    QVERIFY(!stored.wait(500));
    QCOMPARE(secretStoreLookup(key("office")), QString());
    // The change stays in memory for the rest of the run.
    QVERIFY(store.profiles.contains(key("office")));
}

void TestProfiles::passwordsRestoredAtLoad()
{
    TestEnv env;
    QVERIFY(secretStoreSet(key("office"), QStringLiteral("office-pw")));
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
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QSignalSpy readErrors(&store.keyChain, &KeyChainClass::error);
    QVERIFY(store.loadProfile());
    // Nothing arrives before the event loop runs.
    QCOMPARE(restored.size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(restored.size() + readErrors.size(), 3, waitMs);

    QStringList names;
    for (const QList<QVariant> &args : std::as_const(restored))
        names << args.first().toString();
    names.sort();
    QCOMPARE(names, (QStringList{key("home"), key("office")}));
    QCOMPARE(store.profiles.value(key("office")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("office-pw"));
    QCOMPARE(store.profiles.value(key("home")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("家里的密码"));
    QCOMPARE(store.profiles.value(key("lab")).toObject(), bare);
}

void TestProfiles::passwordFoundInFileMovesToCredentialStore()
{
    TestEnv env;
    QJsonObject legacy = profile(QStringLiteral("old.example.com"), QStringLiteral("carol"));
    legacy.insert(QStringLiteral("password"), QStringLiteral("plain-on-disk"));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("legacy"), legacy},
                                                  {key("lab"), profile(QStringLiteral("l"), QStringLiteral("u"))}})
                            .toJson());

    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    // Usable at once, before the credential store has answered.
    QCOMPARE(store.profiles.value(key("legacy")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("plain-on-disk"));

    QTRY_VERIFY_WITH_TIMEOUT(!restored.isEmpty(), waitMs);
    QCOMPARE(restored.first().first().toString(), key("legacy"));
    QCOMPARE(secretStoreLookup(key("legacy")), QStringLiteral("plain-on-disk"));
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains("plain-on-disk"), waitMs);

    QJsonObject expected = legacy;
    expected.remove(QStringLiteral("password"));
    QCOMPARE(readJson(env).value(key("legacy")).toObject(), expected);
    QVERIFY(readJson(env).contains(key("lab")));
    QVERIFY(env.errors.isEmpty());
}

void TestProfiles::restoreAfterDeleteDoesNotResurrect()
{
    TestEnv env;
    QVERIFY(secretStoreSet(key("gone"), QStringLiteral("pw")));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("gone"), profile(QStringLiteral("g"), QStringLiteral("u"))}})
                            .toJson());
    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QSignalSpy keyRead(&store.keyChain, &KeyChainClass::keyRestored);
    QVERIFY(store.loadProfile());
    store.profiles.remove(key("gone"));

    QVERIFY(keyRead.wait(waitMs));
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
        office.insert(QStringLiteral("password"), QStringLiteral("cbor-secret"));
        store.profiles.insert(key("cbor"), office);
        QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
        store.saveProfile(key("cbor"), QStringLiteral("cbor-secret"), true);
        QVERIFY(stored.wait(waitMs));
    }
    const QByteArray bytes = env.readConfigFile(QStringLiteral("profile.dat"));
    QVERIFY(!bytes.contains("cbor-secret"));
    QVERIFY(!QFileInfo::exists(env.configFile(QStringLiteral("profile.json"))));
    QCOMPARE(QCborValue::fromCbor(bytes).toMap().toJsonObject().value(key("cbor")).toObject(),
             profile(QStringLiteral("vpn.example.com"), QStringLiteral("alice")));

    ProfileStore reloaded;
    QSignalSpy restored(&reloaded, &ProfileStore::keyRestored);
    QVERIFY(reloaded.loadProfile(true));
    QVERIFY(restored.wait(waitMs));
    QCOMPARE(reloaded.profiles.value(key("cbor")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("cbor-secret"));
}

void TestProfiles::storedPasswordWinsOverFile()
{
    // Two plaintext passwords in the file. The store already holds a newer one
    // for "kept"; "moved" has none there yet.
    TestEnv env;
    QVERIFY(secretStoreSet(key("kept"), QStringLiteral("newer-in-store")));
    QJsonObject kept = profile(QStringLiteral("k"), QStringLiteral("u"));
    kept.insert(QStringLiteral("password"), QStringLiteral("older-on-disk"));
    QJsonObject moved = profile(QStringLiteral("m"), QStringLiteral("u"));
    moved.insert(QStringLiteral("password"), QStringLiteral("moves-over"));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("kept"), kept}, {key("moved"), moved}}).toJson());

    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 2, waitMs);
    QCOMPARE(secretStoreLookup(key("kept")), QStringLiteral("newer-in-store"));
    QCOMPARE(store.profiles.value(key("kept")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("newer-in-store"));
    QCOMPARE(secretStoreLookup(key("moved")), QStringLiteral("moves-over"));
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains("\"password\""), waitMs);
}

void TestProfiles::lateRestoreKeepsPasswordSetMeanwhile()
{
    TestEnv env;
    QVERIFY(secretStoreSet(key("late"), QStringLiteral("old")));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("late"), profile(QStringLiteral("l"), QStringLiteral("u"))}})
                            .toJson());
    ProfileStore store;
    QSignalSpy read(&store.keyChain, &KeyChainClass::keyRestored);
    QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
    QVERIFY(store.loadProfile());
    // The start-up read is still out when the user saves a new password.
    QJsonObject late = profile(QStringLiteral("l"), QStringLiteral("u"));
    late.insert(QStringLiteral("password"), QStringLiteral("new"));
    store.profiles.insert(key("late"), late);
    store.saveProfile(key("late"), QStringLiteral("new"));

    QTRY_VERIFY_WITH_TIMEOUT(read.size() == 1 && stored.size() == 1, waitMs);
    QCOMPARE(read.first().at(1).toString(), QStringLiteral("old")); // the stale value did arrive
    QCOMPARE(store.profiles.value(key("late")).toObject().value(QStringLiteral("password")).toString(),
             QStringLiteral("new"));
    QCOMPARE(secretStoreLookup(key("late")), QStringLiteral("new"));
}

void TestProfiles::failedMoveKeepsPasswordInFile()
{
    TestEnv env;
    QJsonObject legacy = profile(QStringLiteral("old.example.com"), QStringLiteral("carol"));
    legacy.insert(QStringLiteral("password"), QStringLiteral("plain-one"));
    QJsonObject other = profile(QStringLiteral("other.example.com"), QStringLiteral("dave"));
    other.insert(QStringLiteral("password"), QStringLiteral("plain-two"));
    env.writeConfigFile(QStringLiteral("profile.json"),
                        QJsonDocument(QJsonObject{{key("legacy"), legacy}, {key("other"), other}}).toJson());

    // A start whose session bus (and so the secret service) cannot be reached:
    // every move fails, and a save in that run must not strip the passwords.
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
    QVERIFY(afterFailure.contains("plain-two"));
    QCOMPARE(secretStoreLookup(key("legacy")), QString());

    // The next start, with the store back, moves them.
    ProfileStore store;
    QSignalSpy restored(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), 2, waitMs);
    QCOMPARE(secretStoreLookup(key("legacy")), QStringLiteral("plain-one"));
    QCOMPARE(secretStoreLookup(key("other")), QStringLiteral("plain-two"));
    QTRY_VERIFY_WITH_TIMEOUT(!env.readConfigFile(QStringLiteral("profile.json")).contains("\"password\""), waitMs);
}

namespace {
// The child of failedMoveKeepsPasswordInFile: loads the profiles in the given
// folder, waits until the store has turned down each profile, then saves
// (as Delete in the dialog does) and exits.
int loadWithoutStore(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    configLocation = QString::fromLocal8Bit(argv[2]);
    const int profiles = QByteArray(argv[3]).toInt();
    ProfileStore store;
    QSignalSpy failures(&store.keyChain, &KeyChainClass::error);
    if (!store.loadProfile())
        return 3;
    if (!QTest::qWaitFor([&] { return failures.size() >= profiles; }, 30000))
        return 4;
    QTest::qWait(500);
    store.saveProfile(QString(), QString());
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--load-without-store") == 0)
        return loadWithoutStore(argc, argv);
    QCoreApplication app(argc, argv);
    TestProfiles test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_profiles.moc"
