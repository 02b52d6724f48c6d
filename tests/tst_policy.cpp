#include "appglobals.h"
#include "configmanager.h"
#include "policy.h"
#include "profilestore.h"
#include "secretstore.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Policy::RegistryKey)

// The administrator's policy in the core: its parser, the registry form the
// Windows reader hands over, the Linux file reader with crafted files, and
// what the settings and profile stores make of it.
namespace {

const int waitMs = 10000;

QStringList names(const QList<Policy::Profile> &profiles)
{
    QStringList out;
    for (const Policy::Profile &profile : profiles)
        out << profile.name + QLatin1Char('@') + profile.host + QLatin1Char('/') + profile.group;
    return out;
}

QJsonObject readJson(const TestEnv &env, const QString &name)
{
    return QJsonDocument::fromJson(env.readConfigFile(name)).object();
}

void writeFile(const QString &path, const QByteArray &bytes, int mode = 0644)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

const QByteArray fullPolicy = R"({
    "allowSavePassword": false,
    "allowUserProfiles": false,
    "settings": {"theme": "dark", "block": true, "debug": false, "notifications": true, "autoStart": true},
    "profiles": [
        {"name": "Office", "host": "vpn.corp.example", "group": "staff"},
        {"name": " Branch ", "host": "branch.corp.example"}
    ]
})";

} // namespace

class TestPolicy : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void parsesKeys_data();
    void parsesKeys();
    void registryForm_data();
    void registryForm();
    void readsFile_data();
    void readsFile();
    void fifoDoesNotHoldStartUp();
    void forcedSettingsStayOutOfFile();
    void policyProfilesComeFirstAndWin();
    void withoutUserProfilesOthersStayInFile();
    void withoutSavedPasswordsNoneIsKept();
};

void TestPolicy::init()
{
    secretStoreClearService();
}

void TestPolicy::cleanup()
{
    Policy::install(Policy());
}

void TestPolicy::parsesKeys_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("savePasswords");
    QTest::addColumn<bool>("userProfiles");
    QTest::addColumn<QJsonObject>("settings");
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<QStringList>("keys");
    // Words each ignored key's line must hold, in order.
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("empty object") << QByteArray("{}") << true << true << QJsonObject() << QStringList() << QStringList()
                                  << QStringList();
    QTest::newRow("every key") << fullPolicy << false << false
                               << QJsonObject{{"theme", "dark"},
                                              {"block", true},
                                              {"debug", false},
                                              {"notifications", true},
                                              {"autoStart", true}}
                               << QStringList{"Office@vpn.corp.example/staff", "Branch@branch.corp.example/"}
                               << QStringList{"allowSavePassword",
                                              "settings (autoStart, block, debug, notifications, theme)",
                                              "profiles (2)", "allowUserProfiles"}
                               << QStringList();
    QTest::newRow("keys of the wrong type")
        << QByteArray(R"({"allowSavePassword": "no", "allowUserProfiles": 0, "settings": [], "profiles": {}})") << true
        << true << QJsonObject() << QStringList() << QStringList()
        << QStringList{"allowSavePassword is a text", "allowUserProfiles is a number", "profiles is an object",
                       "settings is a list"};
    QTest::newRow("settings of the wrong type or unknown")
        << QByteArray(R"({"settings": {"theme": "Dark", "debug": "yes", "lastProfile": "x", "block": false}})") << true
        << true << QJsonObject{{"block", false}} << QStringList() << QStringList{"settings (block)"}
        << QStringList{"debug is a text", "unknown setting \"lastProfile\"", "theme is neither"};
    QTest::newRow("profiles partly unusable")
        << QByteArray(R"({"profiles": [{"name": "A", "host": "a.example"}, "x", {"name": "", "host": "h"},
                        {"name": "B"}, {"name": "A", "host": "dup.example"},
                        {"name": "C", "host": "c.example", "password": "hunter2"},
                        {"name": "D", "host": "d.example", "group": 5},
                        {"name": "E\u0007", "host": "e.example"}]})")
        << true << true << QJsonObject() << QStringList{"A@a.example/", "C@c.example/"} << QStringList{"profiles (2)"}
        << QStringList{"profiles[1] is a text",
                       "profiles[2] has no usable name",
                       "profiles[3] (\"B\") has no usable host",
                       "profiles[4]: a second profile named \"A\"",
                       "profiles[5] (\"C\"): member \"password\"",
                       "profiles[6] (\"D\") has an unusable group",
                       "profiles[7] has no usable name"};
    QTest::newRow("unknown key") << QByteArray(R"({"colour": 1, "allowSavePassword": true})") << true << true
                                 << QJsonObject() << QStringList() << QStringList{"allowSavePassword"}
                                 << QStringList{"unknown key \"colour\""};
    QTest::newRow("not JSON") << QByteArray("{\"allowSavePassword\": false,") << true << true << QJsonObject()
                              << QStringList() << QStringList() << QStringList{"not JSON"};
    QTest::newRow("top level a list") << QByteArray(R"([{"allowSavePassword": false}])") << true << true
                                      << QJsonObject() << QStringList() << QStringList()
                                      << QStringList{"not a JSON object"};
}

void TestPolicy::parsesKeys()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, savePasswords);
    QFETCH(bool, userProfiles);
    QFETCH(QJsonObject, settings);
    QFETCH(QStringList, profiles);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, problems);

    const Policy policy = Policy::fromJson(json, QStringLiteral("/etc/test-policy.json"));
    QVERIFY(policy.isPresent());
    QCOMPARE(policy.source(), QStringLiteral("/etc/test-policy.json"));
    QCOMPARE(policy.allowSavePassword(), savePasswords);
    QCOMPARE(policy.allowUserProfiles(), userProfiles);
    QCOMPARE(policy.forcedSettings(), settings);
    QCOMPARE(names(policy.profiles()), profiles);
    QCOMPARE(policy.keysInForce(), keys);
    QCOMPARE(policy.problems().size(), problems.size());
    for (const QString &expected : problems) {
        bool found = false;
        for (const QString &problem : policy.problems())
            found = found || problem.contains(expected);
        QVERIFY2(found, qPrintable(expected + QStringLiteral(" in ") + policy.problems().join(QLatin1String(" | "))));
    }
    // Never a value that may be secret, never a control character.
    for (const QString &problem : policy.problems()) {
        QVERIFY2(!problem.contains(QLatin1String("hunter2")), qPrintable(problem));
        QVERIFY2(!problem.contains(QChar(7)), qPrintable(problem));
    }
}

void TestPolicy::registryForm_data()
{
    QTest::addColumn<Policy::RegistryKey>("key");
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("savePasswords");
    QTest::addColumn<QJsonObject>("settings");
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<int>("problems");

    Policy::RegistryKey full;
    full.values = {{"AllowSavePassword", QVariant::fromValue(0u)}, {"allowUserProfiles", QVariant::fromValue(1u)}};
    Policy::RegistryKey settings;
    settings.values = {{"THEME", QStringLiteral("dark")}, {"debug", QVariant::fromValue(1u)}};
    Policy::RegistryKey office;
    office.values = {{"Host", QStringLiteral("vpn.corp.example")}, {"group", QStringLiteral("staff")}};
    Policy::RegistryKey profiles;
    profiles.keys = {{QStringLiteral("Office 深圳"), office}};
    full.keys = {{"Settings", settings}, {"profiles", profiles}};
    QTest::newRow("every key, names in any case")
        << full
        << QJsonObject{{"allowSavePassword", false},
                       {"allowUserProfiles", true},
                       {"settings", QJsonObject{{"theme", "dark"}, {"debug", true}}},
                       {"profiles", QJsonArray{QJsonObject{{"name", QStringLiteral("Office 深圳")},
                                                           {"host", "vpn.corp.example"},
                                                           {"group", "staff"}}}}}
        << false << QJsonObject{{"theme", "dark"}, {"debug", true}}
        << QStringList{QStringLiteral("Office 深圳@vpn.corp.example/staff")} << 0;

    // A DWORD other than 0 and 1, a text where a flag belongs, a binary
    // value, and "settings" as a value instead of a subkey.
    Policy::RegistryKey wrong;
    wrong.values = {{"allowSavePassword", QVariant::fromValue(2u)},
                    {"allowUserProfiles", QStringLiteral("false")},
                    {"settings", QStringLiteral("theme=dark")},
                    {"binary", QVariant()}};
    QTest::newRow("values of the wrong kind") << wrong
                                              << QJsonObject{{"allowSavePassword", 2},
                                                             {"allowUserProfiles", "false"},
                                                             {"settings", "theme=dark"},
                                                             {"binary", QJsonValue::Null}}
                                              << true << QJsonObject() << QStringList() << 4;
}

void TestPolicy::registryForm()
{
    QFETCH(Policy::RegistryKey, key);
    QFETCH(QJsonObject, json);
    QFETCH(bool, savePasswords);
    QFETCH(QJsonObject, settings);
    QFETCH(QStringList, profiles);
    QFETCH(int, problems);

    QCOMPARE(Policy::registryToJson(key), json);
    const Policy policy = Policy::fromRegistry(key, QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Policies\\Test"));
    QCOMPARE(policy.allowSavePassword(), savePasswords);
    QCOMPARE(policy.forcedSettings(), settings);
    QCOMPARE(names(policy.profiles()), profiles);
    QCOMPARE(policy.problems().size(), problems);
}

void TestPolicy::readsFile_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("applies");
    QTest::addColumn<QString>("problem");

    QTest::newRow("missing") << "missing" << false << false << QString();
    QTest::newRow("readable by all, written by its owner") << "good" << true << true << QString();
    QTest::newRow("through a symbolic link") << "symlink" << true << true << QString();
    QTest::newRow("not JSON") << "garbage" << true << false << "not JSON";
    QTest::newRow("a folder") << "folder" << true << false << "not a regular file";
    QTest::newRow("others may write the file") << "world-writable" << true << false << "users other than root";
    QTest::newRow("others may write the folder") << "group-writable folder" << true << false << "in a folder";
    QTest::newRow("too large") << "large" << true << false << "larger than";
    if (::geteuid() == 0)
        QTest::newRow("owned by another user") << "foreign owner" << true << false << "users other than root";
}

void TestPolicy::readsFile()
{
    QFETCH(QString, setUp);
    QFETCH(bool, present);
    QFETCH(bool, applies);
    QFETCH(QString, problem);

    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/kestrum-sslvpn");
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    const QString path = folder + QStringLiteral("/policy.json");
    const QByteArray good = R"({"allowSavePassword": false})";
    if (setUp == QLatin1String("good")) {
        writeFile(path, good);
    } else if (setUp == QLatin1String("symlink")) {
        writeFile(folder + QStringLiteral("/managed.json"), good);
        QVERIFY(QFile::link(folder + QStringLiteral("/managed.json"), path));
    } else if (setUp == QLatin1String("garbage")) {
        writeFile(path, "allowSavePassword = false");
    } else if (setUp == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (setUp == QLatin1String("world-writable")) {
        writeFile(path, good, 0666);
    } else if (setUp == QLatin1String("group-writable folder")) {
        writeFile(path, good);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0775), 0);
    } else if (setUp == QLatin1String("large")) {
        writeFile(path, "{\"allowSavePassword\": false" + QByteArray(Policy::maxFileSize, ' ') + "}");
    } else if (setUp == QLatin1String("foreign owner")) {
        writeFile(path, good);
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }

    const Policy policy = Policy::read(path);
    QCOMPARE(policy.isPresent(), present);
    QCOMPARE(!policy.allowSavePassword(), applies);
    if (problem.isEmpty()) {
        QVERIFY2(policy.problems().isEmpty(), qPrintable(policy.problems().join(QLatin1String(" | "))));
    } else {
        QCOMPARE(policy.problems().size(), 1);
        QVERIFY2(policy.problems().first().contains(problem), qPrintable(policy.problems().first()));
    }
}

void TestPolicy::fifoDoesNotHoldStartUp()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/policy.json");
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    QElapsedTimer elapsed;
    elapsed.start();
    const Policy policy = Policy::read(path);
    QVERIFY(elapsed.elapsed() < 2000);
    QVERIFY(policy.isPresent());
    QVERIFY(policy.keysInForce().isEmpty());
    QVERIFY(policy.problems().first().contains(QLatin1String("not a regular file")));
}

void TestPolicy::forcedSettingsStayOutOfFile()
{
    TestEnv env;
    // The user's own choices from before the policy.
    env.writeConfigFile(QStringLiteral("config.json"), R"({"minimize": false, "debug": true})");
    Policy::install(Policy::fromJson(R"({"settings": {"minimize": true, "theme": "dark", "autoStart": true}})",
                                     QStringLiteral("test")));
    QVERIFY(configManager->loadConfig());
    QCOMPARE(configManager->config.value("minimize"), QJsonValue(true));
    QCOMPARE(configManager->config.value("theme"), QJsonValue("dark"));
    QCOMPARE(configManager->config.value("debug"), QJsonValue(true));
    QVERIFY(configManager->isForced(QStringLiteral("theme")));
    QVERIFY(!configManager->isForced(QStringLiteral("debug")));
    // Start at log-on is no key of the settings file.
    QVERIFY(!configManager->config.contains("autoStart"));

    // Another change is saved; a forced value written over still does not reach the file.
    configManager->config.insert(QStringLiteral("debug"), false);
    configManager->config.insert(QStringLiteral("theme"), QStringLiteral("light"));
    configManager->saveConfig();
    QJsonObject written = readJson(env, QStringLiteral("config.json"));
    QCOMPARE(written.value("minimize"), QJsonValue(false));
    QCOMPARE(written.value("debug"), QJsonValue(false));
    QVERIFY(!written.contains("theme"));
    QVERIFY(!written.contains("autoStart"));
    QCOMPARE(configManager->config.value("theme"), QJsonValue("dark"));

    // Without the policy the user's own choice is back, at once and at the next start.
    Policy::install(Policy());
    QCOMPARE(configManager->config.value("minimize"), QJsonValue(false));
    QVERIFY(!configManager->config.contains("theme"));
    ConfigManager next;
    QVERIFY(next.loadConfig());
    QCOMPARE(next.config.value("minimize"), QJsonValue(false));
}

void TestPolicy::policyProfilesComeFirstAndWin()
{
    TestEnv env;
    // The user's file names the policy's "Office" too, with a host of its own.
    env.writeConfigFile(QStringLiteral("profile.json"), R"({
        "zeta": {"host": "zeta.example", "username": "z"},
        "Alpha": {"host": "alpha.example", "username": "a"},
        "Office": {"host": "evil.example", "username": "bob", "group": "guests"}
    })");
    ProfileStore store;
    QByteArray json = fullPolicy;
    json.replace("\"allowUserProfiles\": false", "\"allowUserProfiles\": true");
    json.replace("\"allowSavePassword\": false", "\"allowSavePassword\": true");
    store.setPolicy(Policy::fromJson(json, QStringLiteral("test")));
    QVERIFY(store.loadProfile());
    store.updateModel();
    QCOMPARE(store.model->stringList(), (QStringList{"Office", "Branch", "Alpha", "zeta"}));
    QCOMPARE(store.profiles.value("Office").toObject(),
             (QJsonObject{{"host", "vpn.corp.example"}, {"group", "staff"}, {"username", "bob"}}));
    QCOMPARE(store.profiles.value("Branch").toObject(), (QJsonObject{{"host", "branch.corp.example"}, {"group", ""}}));
    QVERIFY(store.isAdministrators(QStringLiteral("Office")));
    QVERIFY(!store.isAdministrators(QStringLiteral("Alpha")));

    // A save keeps the file's own host for "Office", and writes nothing for
    // the policy's "Branch" the user has added nothing to.
    QJsonObject office = store.profiles.value("Office").toObject();
    office.insert(QStringLiteral("username"), QStringLiteral("carol"));
    store.profiles.insert(QStringLiteral("Office"), office);
    store.saveProfile(QStringLiteral("Office"), QStringLiteral("pw"));
    const QJsonObject file = readJson(env, QStringLiteral("profile.json"));
    QCOMPARE(file.value("Office").toObject(),
             (QJsonObject{{"host", "evil.example"}, {"username", "carol"}, {"group", "guests"}}));
    QVERIFY(!file.contains("Branch"));
    QCOMPARE(file.value("zeta").toObject(), (QJsonObject{{"host", "zeta.example"}, {"username", "z"}}));
}

void TestPolicy::withoutUserProfilesOthersStayInFile()
{
    TestEnv env;
    env.writeConfigFile(QStringLiteral("profile.json"),
                        R"({"home": {"host": "home.example", "username": "h", "secret": "s"}})");
    ProfileStore store;
    store.setPolicy(Policy::fromJson(fullPolicy, QStringLiteral("test")));
    QVERIFY(store.loadProfile());
    store.updateModel();
    QCOMPARE(store.model->stringList(), (QStringList{"Office", "Branch"}));
    QVERIFY(!store.profiles.contains("home"));

    QJsonObject branch = store.profiles.value("Branch").toObject();
    branch.insert(QStringLiteral("username"), QStringLiteral("dora"));
    store.profiles.insert(QStringLiteral("Branch"), branch);
    store.saveProfile(QStringLiteral("Branch"), ProfileCredentials{});
    const QJsonObject file = readJson(env, QStringLiteral("profile.json"));
    // The user's own profile is still there for when the policy goes.
    QCOMPARE(file.value("home").toObject(),
             (QJsonObject{{"host", "home.example"}, {"username", "h"}, {"secret", "s"}}));
    QCOMPARE(file.value("Branch").toObject(), (QJsonObject{{"username", "dora"}}));
}

void TestPolicy::withoutSavedPasswordsNoneIsKept()
{
    TestEnv env;
    QVERIFY(secretStoreSet(QStringLiteral("home"), QStringLiteral("home-pw")));
    QVERIFY(secretStoreSet(QStringLiteral("Office"), QStringLiteral("office-pw")));
    QVERIFY(secretStoreSet(QStringLiteral("home"), QStringLiteral("home-secret"), secretStoreSecretService()));
    // An older version's password in the file.
    env.writeConfigFile(QStringLiteral("profile.json"),
                        R"({"home": {"host": "home.example", "username": "h", "password": "file-pw"},
                            "Office": {"username": "bob"}})");
    ProfileStore store;
    store.setPolicy(Policy::fromJson(R"({"allowSavePassword": false,
                                         "profiles": [{"name": "Office", "host": "vpn.corp.example"}]})",
                                     QStringLiteral("test")));
    QSignalSpy deleted(&store.keyChain, &KeyChainClass::keyDeleted);
    QSignalSpy ready(&store, &ProfileStore::keyRestored);
    QVERIFY(store.loadProfile());

    QTRY_COMPARE_WITH_TIMEOUT(deleted.size(), 2, waitMs);
    QCOMPARE(secretStoreLookup(QStringLiteral("home")), QString());
    QCOMPARE(secretStoreLookup(QStringLiteral("Office")), QString());
    QVERIFY(!env.readConfigFile(QStringLiteral("profile.json")).contains("file-pw"));
    // The secret is no password: it stays, and the profile announces itself
    // ready (the connection asks for the password).
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 2, waitMs);
    QCOMPARE(store.profiles.value("home").toObject().value("secret"), QJsonValue("home-secret"));
    QVERIFY(!store.profiles.value("home").toObject().contains("password"));

    // A save with a password keeps it nowhere.
    QSignalSpy stored(&store.keyChain, &KeyChainClass::keyStored);
    QSignalSpy failed(&store.keyChain, &KeyChainClass::writeFailed);
    QJsonObject home = store.profiles.value("home").toObject();
    home.insert(QStringLiteral("password"), QStringLiteral("typed-pw"));
    store.profiles.insert(QStringLiteral("home"), home);
    store.saveProfile(QStringLiteral("home"), QStringLiteral("typed-pw"));
    QTest::qWait(300);
    QCOMPARE(stored.size() + failed.size(), 0);
    QCOMPARE(secretStoreLookup(QStringLiteral("home")), QString());
    QVERIFY(!store.profiles.value("home").toObject().contains("password"));
    QVERIFY(!env.readConfigFile(QStringLiteral("profile.json")).contains("typed-pw"));
}

QTEST_MAIN(TestPolicy)
#include "tst_policy.moc"
