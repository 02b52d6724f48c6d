#include "appglobals.h"
#include "configmanager.h"
#include "profilestore.h"
#include "testenv.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

namespace {

const char saverDirVar[] = "ORVALIN_SAVER_DIR";
// Large enough that one write takes many system calls.
const int profileCount = 300;

// The profiles of generation `generation`: every profile carries the
// generation, so a file mixing two writes is caught as well as a cut one.
QJsonObject profilesOf(int generation)
{
    QJsonObject profiles;
    for (int i = 0; i < profileCount; ++i) {
        profiles.insert(QStringLiteral("profile %1").arg(i, 3, 10, QLatin1Char('0')),
                        QJsonObject{{QStringLiteral("host"), QStringLiteral("gw%1.example.com").arg(i)},
                                    {QStringLiteral("username"), QStringLiteral("user-%1").arg(generation)},
                                    {QStringLiteral("group"), QStringLiteral("g")}});
    }
    return profiles;
}

// The generation a complete profile file holds, or -1.
int profileGeneration(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject() || document.object().size() != profileCount)
        return -1;
    const QString user = document.object()
                             .value(QStringLiteral("profile 000"))
                             .toObject()
                             .value(QStringLiteral("username"))
                             .toString();
    bool ok = false;
    const int generation = user.mid(5).toInt(&ok);
    return ok && document.object() == profilesOf(generation) ? generation : -1;
}

int configGeneration(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return -1;
    bool ok = false;
    const int generation = document.object().value(QStringLiteral("lastProfile")).toString().mid(8).toInt(&ok);
    return ok ? generation : -1;
}

} // namespace

// Settings and profiles are replaced whole: a process killed at any moment
// of a save leaves the old file or the new one, never a cut or mixed one.
class TestSaveKill : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileSaving();
    void saver();
};

void TestSaveKill::killedWhileSaving()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int lastConfig = -1;
    int lastProfiles = -1;
    for (int round = 0; round < 50; ++round) {
        QProcess saverProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(saverDirVar), dir.path());
        saverProcess.setProcessEnvironment(environment);
        saverProcess.start(QCoreApplication::applicationFilePath(), {QStringLiteral("saver")});
        QVERIFY(saverProcess.waitForStarted(5000));
        // The saver announces its first completed save (after QtTest's own
        // banner on the same stream); the kill lands at a random moment of
        // the saves that follow.
        QByteArray output;
        while (!output.contains("saved\n") && saverProcess.waitForReadyRead(10000))
            output += saverProcess.readAllStandardOutput();
        QVERIFY2(output.contains("saved\n"), output.constData());
        QTest::qSleep(int(QRandomGenerator::global()->bounded(1, 40)));
        saverProcess.kill();
        QVERIFY(saverProcess.waitForFinished(5000));
        QCOMPARE(saverProcess.exitStatus(), QProcess::CrashExit);

        QFile config(dir.path() + QStringLiteral("/config.json"));
        QFile profiles(dir.path() + QStringLiteral("/profile.json"));
        QVERIFY(config.open(QIODevice::ReadOnly));
        QVERIFY(profiles.open(QIODevice::ReadOnly));
        const QByteArray configBytes = config.readAll();
        const QByteArray profileBytes = profiles.readAll();
        const int configNow = configGeneration(configBytes);
        const int profilesNow = profileGeneration(profileBytes);
        QVERIFY2(configNow >= 0, configBytes.right(200).constData());
        QVERIFY2(profilesNow >= 0, profileBytes.right(200).constData());
        // Generations only move forward between rounds: old or new, never lost.
        QVERIFY(configNow >= lastConfig);
        QVERIFY(profilesNow >= lastProfiles);
        lastConfig = configNow;
        lastProfiles = profilesNow;
    }
}

// Saves settings and profiles in a loop until killed, each time with the next
// generation, continuing from what the files hold. Runs only as the child of
// killedWhileSaving.
void TestSaveKill::saver()
{
    const QString dir = qEnvironmentVariable(saverDirVar);
    if (dir.isEmpty())
        QSKIP("runs only as the saving process of killedWhileSaving");
    TestEnv env;
    configLocation = dir;
    QVERIFY(configManager->loadConfig());
    // The profiles are not loaded through the store, which would start a
    // credential read for each of them.
    ProfileStore store;
    QFile profileFile(ProfileStore::filePath(false));
    const int profilesSaved = profileFile.open(QIODevice::ReadOnly) ? profileGeneration(profileFile.readAll()) : -1;
    int generation = qMax(configGeneration(QJsonDocument(configManager->config).toJson()), profilesSaved) + 1;
    for (bool announced = false;; ++generation) {
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("profile %1").arg(generation));
        configManager->saveConfig();
        store.profiles = profilesOf(generation);
        // An empty name writes the file and leaves the credential store alone.
        store.saveProfile(QString(), QString());
        QVERIFY(env.errors.isEmpty());
        if (!announced) {
            QTextStream(stdout) << "saved\n" << Qt::flush;
            announced = true;
        }
    }
}

QTEST_MAIN(TestSaveKill)
#include "tst_savekill.moc"
