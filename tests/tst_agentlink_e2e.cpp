#include "appglobals.h"
#include "configmanager.h"
#include "connectionstatuscard.h"
#include "orvalin.h"
#include "privatenetwork.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

#include <unistd.h>

// The client and the agent simulator as real processes on the product's own
// address, 127.0.0.1:6210, in a network namespace of this test's own: the
// agent starting after the client, restarting under it with and without its
// session, the client killed during a session and started again, and a client
// that keeps trying on its schedule while every try fails.
namespace {

const QString readyText = QStringLiteral("tunwarden 已就绪"); // the simulator's answer to "config"
const QString linkFailedText = QStringLiteral("无法连接到 tunwarden，请重新安装软件！");

// The simulator on 127.0.0.1:6210, its log (stderr) collected as it comes.
class Agent
{
public:
    explicit Agent(const QStringList &arguments = {})
    {
        QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                         [this] { log += process.readAllStandardError(); });
        started = startSimulator(process, QStringList{QStringLiteral("--port"), QStringLiteral("6210")} + arguments)
                  == 6210;
    }
    ~Agent()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
    // The log from the first line that contains `marker` on.
    QByteArray logFrom(const QByteArray &marker) const
    {
        const qsizetype at = log.indexOf(marker);
        return at < 0 ? QByteArray() : log.mid(at);
    }

    QProcess process;
    QByteArray log;
    bool started = false;
};

QJsonObject officeProfile()
{
    return QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.com")},
                       {QStringLiteral("username"), QStringLiteral("zhang.san")},
                       {QStringLiteral("group"), QStringLiteral("staff")}};
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The user's own files, as the real client finds them under its XDG folders.
struct ClientHome
{
    QTemporaryDir root;
    QString configDir() const { return root.filePath(QStringLiteral("config/Orvalin")); }

    void start(QProcess &client) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The instance guard lives in the runtime folder: a client of another
        // test running at the same time must not count as this one's first.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("run")));
        QDir().mkpath(root.filePath(QStringLiteral("home")));
        QDir().mkpath(root.filePath(QStringLiteral("tmp")));
        QDir().mkpath(root.filePath(QStringLiteral("run")));
        QFile::setPermissions(root.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        client.start(QStringLiteral(ORVALIN_BIN_DIR "/KestrumSSLVPN"), QStringList());
    }
};

} // namespace

class TestAgentLinkEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }

    // Start at log-on races the agent's service: the client finds nothing on
    // the port, says so, and keeps trying; the agent comes 3 s later and is
    // configured within 5 s, Connect comes back, and a connect works.
    void agentStartsLater()
    {
        TestEnv env;
        env.writeConfigFile(QStringLiteral("profile.json"),
                            QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()}}).toJson());
        configManager->loadConfig(false);
        configManager->config.insert(QStringLiteral("minimize"), false);
        Orvalin window;
        window.findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        QCOMPARE(window.agentAddress(), Orvalin::defaultAgentUrl());
        window.show();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
        QTRY_VERIFY(statusBar->text().startsWith(linkFailedText));
        QVERIFY(!connectButton->isEnabled());
        QTest::qWait(3000);
        QVERIFY(!connectButton->isEnabled());

        Agent agent;
        QVERIFY2(agent.started, agent.log.constData());
        QElapsedTimer sinceListening;
        sinceListening.start();
        QTRY_COMPARE_WITH_TIMEOUT(statusBar->text(), readyText, 6000);
        const qint64 delay = sinceListening.elapsed();
        QVERIFY2(delay < 5000, qPrintable(QString::number(delay)));
        qInfo("\"config\" answered %lld ms after the agent listened", delay);
        QVERIFY(connectButton->isEnabled());

        auto *otp = window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"));
        QTest::keyClicks(otp, QStringLiteral("123456"));
        QTest::keyClick(otp, Qt::Key_Return);
        auto *session = window.findChild<SessionController *>();
        QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 5000);
        QCOMPARE(window.findChild<ConnectionStatusCard *>()->status(), ConnectionStatusCard::Connected);
    }

    // The agent's service restarts during a session. With the tunnel kept,
    // the client links again, sends "config" then "status" on the new link
    // and shows the session connected without a new "connect"; Disconnect
    // ends it. Without, it links again and shows idle.
    void agentRestarts_data()
    {
        QTest::addColumn<bool>("keepSessions");
        QTest::newRow("sessions kept") << true;
        QTest::newRow("sessions ended") << false;
    }
    void agentRestarts()
    {
        QFETCH(bool, keepSessions);
        QStringList arguments{QStringLiteral("--restart-after"), QStringLiteral("4")};
        if (keepSessions)
            arguments << QStringLiteral("--keep-sessions");
        Agent agent(arguments);
        QVERIFY2(agent.started, agent.log.constData());

        TestEnv env;
        env.writeConfigFile(QStringLiteral("profile.json"),
                            QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()}}).toJson());
        configManager->loadConfig(false);
        configManager->config.insert(QStringLiteral("minimize"), false);
        // The agent's log then traces every request with its link.
        configManager->config.insert(QStringLiteral("debug"), true);
        Orvalin window;
        window.findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        QSignalSpy closed(&window, &Orvalin::vpnClosed);
        window.show();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
        auto *session = window.findChild<SessionController *>();
        auto *card = window.findChild<ConnectionStatusCard *>();
        QTRY_COMPARE_WITH_TIMEOUT(statusBar->text(), readyText, 5000);
        auto *otp = window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"));
        QTest::keyClicks(otp, QStringLiteral("123456"));
        QTest::keyClick(otp, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 3000);

        // The restart: the session goes down with the link, the link comes back.
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 6000);
        QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("listening again"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("request \"status\" on link 2"), 8000);
        const QByteArray relinked = agent.logFrom("listening again");
        const qsizetype config = relinked.indexOf("request \"config\" on link 2");
        const qsizetype status = relinked.indexOf("request \"status\" on link 2");
        QVERIFY2(config >= 0 && config < status, relinked.constData());
        if (keepSessions) {
            QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 3000);
            QCOMPARE(card->status(), ConnectionStatusCard::Connected);
            QCOMPARE(card->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(),
                     QStringLiteral("vpn.example.com"));
            QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
            QTRY_VERIFY(window.findChild<QPushButton *>(QStringLiteral("buttonDetails"))->isEnabled());

            QTest::mouseClick(connectButton, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!session->isSessionConnected(), 3000);
            QVERIFY(agent.logFrom("listening again").contains("request \"disconnect\" on link 2"));
            QVERIFY(agent.log.contains("closed by the user"));
        } else {
            QTRY_COMPARE(statusBar->text(), readyText);
            QTest::qWait(500);
            QVERIFY(!session->isSessionConnected());
            QCOMPARE(card->status(), ConnectionStatusCard::Disconnected);
            QVERIFY(connectButton->isEnabled());
            QCOMPARE(connectButton->text(), QStringLiteral("Connect"));
        }
        QVERIFY2(!agent.logFrom("listening again").contains("request \"connect\""), agent.log.constData());
        QCOMPARE(closed.size(), keepSessions ? 2 : 1);
    }

    // The client is killed (kill -9) during a session it started by itself
    // at log-on. Started again, its window shows the running session (under
    // the profile's own host, from the history it left) without a second
    // "connect", its automatic connection included, and disconnects it.
    void clientKilledDuringSession()
    {
        Agent agent;
        QVERIFY2(agent.started, agent.log.constData());
        QVERIFY(secretStoreSet(QStringLiteral("office"), QStringLiteral("Pa55word!")));
        ClientHome home;
        const QJsonObject settings{{QStringLiteral("autoLogin"), true},
                                   {QStringLiteral("lastProfile"), QStringLiteral("office")},
                                   {QStringLiteral("minimize"), false},
                                   {QStringLiteral("debug"), true}};
        writeFile(home.configDir() + QStringLiteral("/config.json"), QJsonDocument(settings).toJson());
        writeFile(home.configDir() + QStringLiteral("/profile.json"),
                  QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()}}).toJson());

        QProcess client;
        home.start(client);
        QVERIFY(client.waitForStarted(5000));
        const QString history = home.configDir() + QStringLiteral("/history.jsonl");
        // Up, and its first status in: the history holds "connected".
        QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("session up"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile file(history);
                return file.open(QIODevice::ReadOnly) && file.readAll().contains("\"event\":\"connected\"");
            }(),
            5000);
        ::kill(pid_t(client.processId()), SIGKILL);
        QVERIFY(client.waitForFinished(5000));
        QCOMPARE(client.exitStatus(), QProcess::CrashExit);
        QTRY_VERIFY(agent.log.contains("link 1 closed"));
        QVERIFY(!agent.log.contains("closed by the user"));

        // Started again by the same user: the same files, the same keyring.
        TestEnv env;
        for (const QString &name :
             {QStringLiteral("config.json"), QStringLiteral("profile.json"), QStringLiteral("history.jsonl")}) {
            QFile file(home.configDir() + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            env.writeConfigFile(name, file.readAll());
        }
        QVERIFY(configManager->loadConfig(false));
        Orvalin window;
        window.findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        window.show();
        auto *session = window.findChild<SessionController *>();
        auto *card = window.findChild<ConnectionStatusCard *>();
        auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
        QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 5000);
        QTRY_VERIFY(window.findChild<QPushButton *>(QStringLiteral("buttonDetails"))->isEnabled());
        QCOMPARE(card->status(), ConnectionStatusCard::Connected);
        QCOMPARE(card->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(), QStringLiteral("vpn.example.com"));
        QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
        QVERIFY(!window.findChild<QLabel *>(QStringLiteral("labelVPNAddress"))->text().isEmpty());
        QVERIFY(window.isVisible());
        // Past the automatic connection's 500 ms and the password's restore.
        QTest::qWait(1500);
        QVERIFY2(!agent.logFrom("link 2 opened").contains("request \"connect\""), agent.log.constData());

        QTest::mouseClick(connectButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!session->isSessionConnected(), 3000);
        QTRY_VERIFY(agent.logFrom("link 2 opened").contains("closed by the user"));
        QCOMPARE(card->status(), ConnectionStatusCard::Disconnected);
    }

    // A real client whose tries all fail (a listener on the agent's port
    // that drops each connection at once): one try per interval, 0.5 s, 1 s,
    // 2 s, 4 s and then every 5 s, never more; the agent that comes once the
    // client is in its 5 s rhythm is configured at the next try. The CPU the
    // waiting costs is measured by bench/idlecpu.sh.
    void clientKeepsTrying()
    {
        QTcpServer refuser;
        QVERIFY(refuser.listen(QHostAddress(QStringLiteral("127.0.0.1")), 6210));
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        QObject::connect(&refuser, &QTcpServer::newConnection, &refuser, [&] {
            while (QTcpSocket *socket = refuser.nextPendingConnection()) {
                arrivals.append(clock.elapsed());
                socket->abort();
                socket->deleteLater();
            }
        });
        ClientHome home;
        QProcess client;
        home.start(client);
        QVERIFY(client.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 7, 30000);
        refuser.close();
        const int expected[] = {500, 1000, 2000, 4000, 5000, 5000};
        for (int i = 0; i < 6; ++i) {
            const qint64 gap = arrivals.at(i + 1) - arrivals.at(i);
            // Coarse timers may fire up to 5 % early; a busy loop shows gaps near zero.
            QVERIFY2(gap >= expected[i] * 95 / 100 - 50 && gap <= expected[i] + 1000,
                     qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
        }
        QCOMPARE(client.state(), QProcess::Running);

        Agent agent;
        QVERIFY2(agent.started, agent.log.constData());
        QElapsedTimer sinceListening;
        sinceListening.start();
        QTRY_VERIFY_WITH_TIMEOUT(agent.log.contains("configured by kestrum-sslvpn Secure Client"), 7000);
        // At the next try: the client still keeps its 5 s rhythm.
        QVERIFY2(sinceListening.elapsed() <= 5500, qPrintable(QString::number(sinceListening.elapsed())));
        client.terminate();
        if (!client.waitForFinished(5000))
            client.kill();
    }
};

int main(int argc, char *argv[])
{
    // Before Qt starts any thread: the namespace must hold the whole process.
    const QString error = enterPrivateNetwork();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "tst_agentlink_e2e needs a private network namespace: %s\n", qPrintable(error));
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    TestAgentLinkEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_agentlink_e2e.moc"
