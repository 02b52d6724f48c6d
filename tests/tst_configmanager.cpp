#include "configmanager.h"
#include "profilestore.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

class TestConfigManager : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesEmptyFileAndSavesFullObject();
    void mergesKnownKeysOnly_data();
    void mergesKnownKeysOnly();
    void unopenableFileKeepsDefaults();
    void cborVariantRoundTrips();
    void failedWriteKeepsOldFile();
    void cutCborMapLoadsAsEmpty();
};

void TestConfigManager::firstStartCreatesEmptyFileAndSavesFullObject()
{
    TestEnv env;
    ConfigManager store;
    QVERIFY(store.loadConfig());
    QVERIFY(QFile::exists(env.configFile("config.json")));
    QVERIFY(env.readConfigFile("config.json").isEmpty());
    QCOMPARE(store.config, ConfigManager::defaults());
    QVERIFY(env.errors.isEmpty());

    store.saveConfig();
    const QByteArray saved = env.readConfigFile("config.json");
    QVERIFY2(saved.contains("\n    \"autoLogin\": false"), saved.constData()); // indented
    const QJsonObject written = QJsonDocument::fromJson(saved).object();
    QCOMPARE(written, ConfigManager::defaults());
    QCOMPARE(written.value("lastProfile"), QJsonValue(QString()));
    QVERIFY(!written.contains("theme"));
}

void TestConfigManager::mergesKnownKeysOnly_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QJsonObject>("expected");

    QJsonObject minimizeOff = ConfigManager::defaults();
    minimizeOff["minimize"] = false;
    QTest::newRow("known key taken, unknown dropped")
        << QByteArray(R"({"minimize": false, "colour": "teal"})") << minimizeOff;

    QJsonObject debugString = ConfigManager::defaults();
    debugString["debug"] = "yes";
    QTest::newRow("wrong type kept as stored") << QByteArray(R"({"debug": "yes"})") << debugString;

    QJsonObject dark = ConfigManager::defaults();
    dark["theme"] = "dark";
    dark["lastProfile"] = "office";
    QTest::newRow("theme and last profile") << QByteArray(R"({"theme": "dark", "lastProfile": "office"})") << dark;

    QTest::newRow("top-level array") << QByteArray(R"([{"minimize": false}])") << ConfigManager::defaults();
    QTest::newRow("not JSON") << QByteArray("minimize=false") << ConfigManager::defaults();
}

void TestConfigManager::mergesKnownKeysOnly()
{
    QFETCH(QByteArray, file);
    QFETCH(QJsonObject, expected);

    TestEnv env;
    env.writeConfigFile("config.json", file);
    ConfigManager store;
    QVERIFY(store.loadConfig());
    QCOMPARE(store.config, expected);
    // Whatever the file held beyond the known keys is gone, in memory and
    // from the file after the next save.
    const QJsonObject parsed = QJsonDocument::fromJson(file).object();
    QStringList unknown;
    for (auto it = parsed.constBegin(); it != parsed.constEnd(); ++it) {
        if (!ConfigManager::defaults().contains(it.key()) && it.key() != QLatin1String("theme"))
            unknown << it.key();
    }
    for (const QString &key : std::as_const(unknown))
        QVERIFY2(!store.config.contains(key), qPrintable(key));

    store.saveConfig();
    const QJsonObject saved = QJsonDocument::fromJson(env.readConfigFile("config.json")).object();
    QCOMPARE(saved, expected);
    for (const QString &key : std::as_const(unknown))
        QVERIFY2(!saved.contains(key), qPrintable(key));
}

void TestConfigManager::unopenableFileKeepsDefaults()
{
    TestEnv env;
    // A directory where the file should be cannot be opened as a file.
    QVERIFY(QDir().mkpath(env.configFile("config.json")));
    ConfigManager store;
    store.config["minimize"] = false;
    QVERIFY(!store.loadConfig());
    QCOMPARE(store.config.value("minimize"), QJsonValue(false));
    QCOMPARE(env.errors, QStringList{"Couldn't open config file"});

    store.saveConfig();
    QCOMPARE(env.errors.size(), 2);
    QCOMPARE(env.errors.last(), QString("Couldn't open config file"));
}

void TestConfigManager::cborVariantRoundTrips()
{
    TestEnv env;
    ConfigManager writer;
    writer.config["theme"] = "dark";
    writer.config["autoLogin"] = true;
    writer.saveConfig(true);
    QVERIFY(QFile::exists(env.configFile("config.dat")));
    QVERIFY(!QFile::exists(env.configFile("config.json")));

    ConfigManager reader;
    QVERIFY(reader.loadConfig(true));
    QCOMPARE(reader.config, writer.config);
}

void TestConfigManager::failedWriteKeepsOldFile()
{
    TestEnv env;
    const QByteArray old = R"({"minimize": false, "lastProfile": "office"})";
    env.writeConfigFile("config.json", old);
    ConfigManager store;
    QVERIFY(store.loadConfig());
    store.config["debug"] = true;

    // A file size limit far below the settings' size stands in for a full disk.
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    store.saveConfig();
    setrlimit(RLIMIT_FSIZE, &saved);

    QCOMPARE(env.readConfigFile("config.json"), old);
    QCOMPARE(env.errors, QStringList{"Couldn't open config file"});
    QCOMPARE(QDir(env.configDir()).entryList(QDir::Files), QStringList{"config.json"});

    store.saveConfig();
    QCOMPARE(QJsonDocument::fromJson(env.readConfigFile("config.json")).object().value("debug"), QJsonValue(true));
}

// A CBOR map cut short inside its entries (found by the profile loader's
// fuzzer; the corpus file's first byte picks CBOR) used to crash the decoder.
// Both stores read it as unparsable content.
void TestConfigManager::cutCborMapLoadsAsEmpty()
{
    QFile reproducer(QStringLiteral(ORVALIN_FUZZ_CORPUS "/profiles/crash-cbor-cut-map"));
    QVERIFY(reproducer.open(QIODevice::ReadOnly));
    const QByteArray bytes = reproducer.readAll().mid(1);

    TestEnv env;
    env.writeConfigFile("config.dat", bytes);
    env.writeConfigFile("profile.dat", bytes);
    ConfigManager settings;
    QVERIFY(settings.loadConfig(true));
    QCOMPARE(settings.config, ConfigManager::defaults());
    ProfileStore profiles;
    QVERIFY(profiles.loadProfile(true));
    QCOMPARE(profiles.profiles, QJsonObject());
}

QTEST_GUILESS_MAIN(TestConfigManager)
#include "tst_configmanager.moc"
