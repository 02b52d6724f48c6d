#include "privatebus.h"
#include "privatenetwork.h"
#include "secretstore.h"
#include "simulatorprocess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <unistd.h>

// The real client and the agent simulator on 127.0.0.1:6210, in a network
// namespace of this test's own, commanded by further starts of the client as
// a script would run them: status, profiles, connect with and without a
// one-time password and waiting, refusals, disconnect, quit; a start with
// --connect when no client runs; what another account and a plain second
// start get.
namespace {

const QString program = QStringLiteral(ORVALIN_BIN_DIR "/KestrumSSLVPN");
// Typed nowhere but into the command's standard input.
const QByteArray oneTimePassword = "735194";
const QByteArray storedPassword = "Pa55word!";

// The simulator on the product's port, its log (stderr) collected as it comes.
class Agent
{
public:
    explicit Agent(const QString &passwordFile)
    {
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
        started = startSimulator(process, {QStringLiteral("--port"), QStringLiteral("6210"),
                                           QStringLiteral("--password-file"), passwordFile})
                  == 6210;
    }
    ~Agent()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
    int count(const QByteArray &text) const { return int(log.count(text)); }

    QProcess process;
    QByteArray log;
    bool started = false;
};

// The user's files and folders, as every start of the client finds them.
class UserHome
{
public:
    UserHome()
    {
        for (const char *folder : {"home", "config/Orvalin", "tmp", "run"})
            QDir().mkpath(root.filePath(QLatin1String(folder)));
        // The instance's socket folder: this test's own, whatever else runs.
        QFile::setPermissions(root.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("run")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.remove(QStringLiteral("LANG"));
        environment.remove(QStringLiteral("LANGUAGE"));
    }
    void writeConfig(const QString &name, const QJsonObject &object) const
    {
        QFile file(root.filePath(QStringLiteral("config/Orvalin/") + name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(object).toJson());
    }
    void start(QProcess &process, const QStringList &arguments = {}) const
    {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }

    QTemporaryDir root;
    QProcessEnvironment environment;
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// One command start to its end, with `input` on its standard input.
Run command(const UserHome &home, const QStringList &arguments, const QByteArray &input = QByteArray(),
            int timeoutMs = 20000)
{
    QProcess process;
    home.start(process, arguments);
    Run run;
    if (!process.waitForStarted(5000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        run.err = "did not end";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray describe(const Run &run)
{
    return QByteArray("exit " + QByteArray::number(run.exitCode) + "\nout: " + run.out + "\nerr: " + run.err);
}

// Every process's command line that holds `secret`, by process id.
QStringList commandLinesHolding(const QByteArray &secret)
{
    QStringList found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        entry.toInt(&number);
        if (!number)
            continue;
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret))
            found << entry;
    }
    return found;
}

QJsonObject profile(const QString &host)
{
    return QJsonObject{{QStringLiteral("host"), host},
                       {QStringLiteral("username"), QStringLiteral("zhang.san")},
                       {QStringLiteral("group"), QStringLiteral("staff")}};
}

} // namespace

class TestCommandLineEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commandsDriveTheRunningClient();
    void connectStartsTheClient();
    void connectWaitsForThePassword();

private:
    // The profiles "home" and "office" (password in the credential store),
    // the agent that accepts only the stored password with the one-time
    // password appended.
    void prepare(UserHome &home);
    QTemporaryDir agentFiles;
};

void TestCommandLineEndToEnd::init()
{
    secretStoreClearService();
}

void TestCommandLineEndToEnd::prepare(UserHome &home)
{
    home.writeConfig(QStringLiteral("config.json"),
                     QJsonObject{{QStringLiteral("minimize"), false}, {QStringLiteral("debug"), true}});
    home.writeConfig(QStringLiteral("profile.json"),
                     QJsonObject{{QStringLiteral("office"), profile(QStringLiteral("vpn.example.com"))},
                                 {QStringLiteral("home"), profile(QStringLiteral("home.example.com"))}});
    QVERIFY(secretStoreSet(QStringLiteral("office"), QString::fromLatin1(storedPassword)));
    QVERIFY(secretStoreSet(QStringLiteral("home"), QString::fromLatin1(storedPassword)));
    QFile password(agentFiles.filePath(QStringLiteral("password")));
    QVERIFY(password.open(QIODevice::WriteOnly));
    password.write(storedPassword + oneTimePassword + '\n');
}

void TestCommandLineEndToEnd::commandsDriveTheRunningClient()
{
    UserHome home;
    prepare(home);
    Agent agent(agentFiles.filePath(QStringLiteral("password")));
    QVERIFY2(agent.started, agent.log.constData());

    // Nothing runs yet.
    Run run = command(home, {QStringLiteral("--status")});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err, QByteArray("Kestrum SSLVPN Client is not running.\n"));
    run = command(home, {QStringLiteral("--bogus")});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("bogus") && run.err.contains("--help"), describe(run).constData());
    run = command(home, {QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains("3  the client is not running"), describe(run).constData());

    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    home.start(client);
    QVERIFY(client.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("configured by kestrum-sslvpn Secure Client"), 10000);

    // A status right at start waits for the agent's answer whether it runs a session.
    run = command(home, {QStringLiteral("--status"), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("{\"state\":\"idle\"}\n"));
    run = command(home, {QStringLiteral("--profiles")});
    QCOMPARE(run.out, QByteArray("home\noffice\n"));

    // A plain second start still only brings the window forward.
    run = command(home, {});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out + run.err, QByteArray());
    QCOMPARE(client.state(), QProcess::Running);

    // Another account finds no client of its own, and cannot reach this one
    // (the guard's test tries its socket directly).
    if (::geteuid() == 0) {
        QProcess other;
        other.setProcessEnvironment(home.environment);
        other.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                     program, QStringLiteral("--disconnect")});
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 3);
    }

    run = command(home, {QStringLiteral("--connect"), QStringLiteral("nosuch")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QByteArray("There is no profile named 'nosuch'.\n"));
    run = command(home, {QStringLiteral("--disconnect")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QByteArray("No session is up.\n"));

    // Without the one-time password the agent refuses: its own message.
    run = command(home, {QStringLiteral("--connect"), QStringLiteral("office"), QStringLiteral("--wait")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(QString::fromUtf8(run.err), QStringLiteral("用户名或密码错误\n"));
    QTRY_COMPARE(agent.count("connect to vpn.example.com as zhang.san"), 1);

    // With it, read from standard input: it is on no process's command line
    // while the start waits for it, nor after.
    QProcess connecting;
    home.start(connecting, {QStringLiteral("--connect"), QStringLiteral("office"), QStringLiteral("--otp-stdin"),
                            QStringLiteral("--wait")});
    QVERIFY(connecting.waitForStarted(5000));
    QTest::qWait(300);
    QCOMPARE(connecting.state(), QProcess::Running);
    QCOMPARE(commandLinesHolding(oneTimePassword), QStringList());
    connecting.write(oneTimePassword + '\n');
    QVERIFY(connecting.waitForFinished(20000));
    const QByteArray address = connecting.readAllStandardOutput();
    QCOMPARE(connecting.exitCode(), 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+\\n$"))
                 .match(QString::fromLatin1(address))
                 .hasMatch(),
             QByteArray(address + connecting.readAllStandardError()).constData());
    // The agent took the stored password and the one-time password together.
    QTRY_COMPARE(agent.count("connect to vpn.example.com as zhang.san"), 2);
    QTRY_VERIFY2(agent.log.contains(QByteArray("session up: VPN address " + address.trimmed())), agent.log.constData());
    QCOMPARE(commandLinesHolding(oneTimePassword), QStringList());

    run = command(home, {QStringLiteral("--status"), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject status = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(status.value(QLatin1String("state")).toString(), QStringLiteral("connected"));
    QCOMPARE(status.value(QLatin1String("profile")).toString(), QStringLiteral("office"));
    QCOMPARE(status.value(QLatin1String("host")).toString(), QStringLiteral("vpn.example.com"));
    QCOMPARE(status.value(QLatin1String("vpn_address")).toString(), QString::fromLatin1(address.trimmed()));
    const QString since = status.value(QLatin1String("since")).toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"))
                 .match(since)
                 .hasMatch(),
             qPrintable(since));
    const qint64 age = QDateTime::fromString(since, Qt::ISODate).secsTo(QDateTime::currentDateTime());
    QVERIFY2(age >= 0 && age < 60, qPrintable(since));
    QVERIFY2(status.value(QLatin1String("bytes_sent")).isDouble()
                 && status.value(QLatin1String("bytes_received")).toDouble(-1) > 0,
             run.out.constData());
    QCOMPARE(status.size(), 7);

    run = command(home, {QStringLiteral("--status")});
    QVERIFY2(run.out.startsWith(
                 QByteArray("State: Connected\nProfile: office\nGateway: vpn.example.com\nVPN address: " + address)),
             describe(run));
    home.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    run = command(home, {QStringLiteral("--status")});
    home.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    QVERIFY2(run.out.startsWith(QStringLiteral("状态：已连接\n配置：office\n").toUtf8()), describe(run).constData());

    run = command(home, {QStringLiteral("--connect"), QStringLiteral("home")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QByteArray("A session is already up with the profile 'office'.\n"));

    run = command(home, {QStringLiteral("--disconnect"), QStringLiteral("--wait")});
    QCOMPARE(run.exitCode, 0);
    QTRY_COMPARE(agent.count("closed by the user"), 1);
    QCOMPARE(command(home, {QStringLiteral("--status"), QStringLiteral("--json")}).out,
             QByteArray("{\"state\":\"idle\"}\n"));

    // At a terminal the one-time password is asked for without echo.
    QProcess terminal;
    terminal.setProcessEnvironment(home.environment);
    terminal.start(QStringLiteral("script"),
                   {QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("-c"),
                    program + QStringLiteral(" --connect office --otp-stdin"), QStringLiteral("/dev/null")});
    QVERIFY(terminal.waitForStarted(5000));
    QByteArray transcript;
    QTRY_VERIFY_WITH_TIMEOUT((transcript += terminal.readAllStandardOutput()).contains("One-time password: "), 10000);
    terminal.write(oneTimePassword + '\n');
    QVERIFY(terminal.waitForFinished(20000));
    transcript += terminal.readAllStandardOutput();
    QCOMPARE(terminal.exitCode(), 0);
    QVERIFY2(!transcript.contains(oneTimePassword), transcript.constData());
    QTRY_COMPARE_WITH_TIMEOUT(agent.count("session up"), 2, 10000);

    // Quit during a session disconnects it first, as the tray's quit does,
    // and returns once the client has ended.
    QElapsedTimer quitting;
    quitting.start();
    run = command(home, {QStringLiteral("--quit")});
    QCOMPARE(run.exitCode, 0);
    // Already gone when the command returns.
    QVERIFY(client.waitForFinished(100));
    QVERIFY2(quitting.elapsed() < 8000, QByteArray::number(quitting.elapsed()));
    QCOMPARE(client.exitCode(), 0);
    QTRY_COMPARE(agent.count("closed by the user"), 2);
    QCOMPARE(command(home, {QStringLiteral("--quit")}).exitCode, 3);
}

// With no client running, --connect starts it in that process and connects
// once the agent and the password are ready; the address is printed, and the
// process goes on as the client.
void TestCommandLineEndToEnd::connectStartsTheClient()
{
    UserHome home;
    prepare(home);
    Agent agent(agentFiles.filePath(QStringLiteral("password")));
    QVERIFY2(agent.started, agent.log.constData());

    QProcess client;
    home.start(client, {QStringLiteral("--connect"), QStringLiteral("home"), QStringLiteral("--otp-stdin"),
                        QStringLiteral("--wait")});
    QVERIFY(client.waitForStarted(5000));
    client.write(oneTimePassword + '\n');
    client.closeWriteChannel();
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += client.readAllStandardOutput()).endsWith('\n'), 20000);
    QTRY_VERIFY2(agent.log.contains("connect to home.example.com as zhang.san"), agent.log.constData());
    QTRY_VERIFY2(agent.log.contains(QByteArray("session up: VPN address " + out.trimmed())),
                 QByteArray(out + agent.log).constData());
    QCOMPARE(client.state(), QProcess::Running);

    const Run status = command(home, {QStringLiteral("--status"), QStringLiteral("--json")});
    QCOMPARE(QJsonDocument::fromJson(status.out).object().value(QLatin1String("profile")).toString(),
             QStringLiteral("home"));
    QCOMPARE(command(home, {QStringLiteral("--quit")}).exitCode, 0);
    QVERIFY(client.waitForFinished(5000));
    QCOMPARE(client.exitCode(), 0);
}

// A start with --connect whose client comes up before the credential store
// has given back the profile's password connects once it has, not without it.
void TestCommandLineEndToEnd::connectWaitsForThePassword()
{
    PrivateSessionBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.startKeyring());
    QVERIFY(
        bus.store(QStringLiteral("keychain.orvalin"), QStringLiteral("office"), QString::fromLatin1(storedPassword)));
    UserHome home;
    prepare(home);
    home.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    Agent agent(agentFiles.filePath(QStringLiteral("password")));
    QVERIFY2(agent.started, agent.log.constData());

    QVERIFY(bus.freezeKeyring());
    QProcess client;
    home.start(client, {QStringLiteral("--connect"), QStringLiteral("office"), QStringLiteral("--otp-stdin"),
                        QStringLiteral("--wait")});
    QVERIFY(client.waitForStarted(5000));
    client.write(oneTimePassword + '\n');
    client.closeWriteChannel();
    // The link is up and the agent said it runs no session: only the
    // password is missing.
    QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("request \"status\""), 10000);
    QTest::qWait(1500);
    QVERIFY2(!agent.log.contains("request \"connect\""), agent.log.constData());

    QVERIFY(bus.thawKeyring());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += client.readAllStandardOutput()).endsWith('\n'), 20000);
    QTRY_COMPARE(agent.count("connect to vpn.example.com as zhang.san"), 1);
    QTRY_VERIFY2(agent.log.contains(QByteArray("session up: VPN address " + out.trimmed())),
                 QByteArray(out + agent.log).constData());
    QCOMPARE(command(home, {QStringLiteral("--quit")}).exitCode, 0);
    QVERIFY(client.waitForFinished(5000));
}

int main(int argc, char *argv[])
{
    // Before Qt starts any thread: the namespace must hold the whole process.
    const QString error = enterPrivateNetwork();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "tst_commandline_e2e needs a private network namespace: %s\n", qPrintable(error));
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestCommandLineEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline_e2e.moc"
