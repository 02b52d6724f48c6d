#include "agentowner.h"
#include "appglobals.h"
#include "configmanager.h"
#include "orvalin.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

const char refusedText[] = "tunwarden identity check failed, please contact your administrator";

// /proc/net/tcp and tcp6 as the kernel writes them on a little-endian machine:
// each 32-bit word of the address printed as it lies in memory.
QByteArray tcpRow(const char *local, quint16 localPort, const char *remote, quint16 remotePort, const char *state,
                  int uid)
{
    const auto port = [](quint16 value) { return QByteArray::number(value, 16).toUpper().rightJustified(4, '0'); };
    return QByteArray("   0: ") + local + ':' + port(localPort) + ' ' + remote + ':' + port(remotePort) + ' ' + state
           + " 00000000:00000000 00:00000000 00000000 " + QByteArray::number(uid)
           + "        0 4242 1 0000000000000000 100 0 0 10 0\n";
}

const char header[]
    = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
const char loopback4[] = "0100007F";
const char any4[] = "00000000";
const char other4[] = "0200007F"; // 127.0.0.2
const char any6[] = "00000000000000000000000000000000";
const char loopback6[] = "00000000000000000000000001000000";
const char mappedLoopback[] = "0000000000000000FFFF00000100007F";

const quint16 agentPort = 6210;
const quint16 clientPort = 50123;

// The pair of sockets of one loopback connection from clientPort to the
// agent: the agent's end (owned by `agentUid`) and the client's (uid 1000).
QByteArray connection(const char *address, int agentUid, const char *state = "01")
{
    return tcpRow(address, agentPort, address, clientPort, state, agentUid)
           + tcpRow(address, clientPort, address, agentPort, state, 1000);
}

// Listens on [::1] or [::] (IPv6 only) on a port for a while, as another
// account's process that wants to be taken for the agent.
int listenV6(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTcpServer server;
    const bool any = QByteArray(argv[2]) == "any";
    if (!server.listen(any ? QHostAddress::AnyIPv6 : QHostAddress::LocalHostIPv6,
                       quint16(QByteArray(argv[3]).toUInt())))
        return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}

} // namespace

// Passwords go to whatever accepted the agent link's connection: the link
// trusts only a socket of the system or of the user running the client.
class TestAgentOwner : public QObject
{
    Q_OBJECT

private slots:
    void verdictFromTables_data();
    void verdictFromTables();
    void liveTables();
    void windowAgainstSimulator_data();
    void windowAgainstSimulator();
    void refusalTextInChinese();
};

void TestAgentOwner::verdictFromTables_data()
{
    QTest::addColumn<QByteArray>("tables");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("owner");

    const QByteArray h(header);
    const QByteArray rootListener = tcpRow(loopback4, agentPort, any4, 0, "0A", 0);
    QTest::newRow("root's socket") << h + rootListener + connection(loopback4, 0) << true << "uid 0";
    QTest::newRow("own user's socket") << h + connection(loopback4, 1000) << true << "uid 1000";
    QTest::newRow("root's dual-stack socket, mapped addresses") << h + connection(mappedLoopback, 0) << true << "uid 0";
    QTest::newRow("other user's socket") << h + connection(loopback4, 65534) << false << "uid 65534";
    QTest::newRow("other user's mapped socket") << h + connection(mappedLoopback, 65534) << false << "uid 65534";
    // Listeners the connection never reached do not count, whoever owns them.
    QTest::newRow("root's socket, other user listening on ::1")
        << h + connection(loopback4, 0) + tcpRow(loopback6, agentPort, any6, 0, "0A", 65534) << true << "uid 0";
    QTest::newRow("root's socket, other user listening on ::")
        << h + connection(loopback4, 0) + tcpRow(any6, agentPort, any6, 0, "0A", 65534) << true << "uid 0";
    // Only the agent's end of this very connection decides.
    QTest::newRow("own user's socket, other user's connection from another port")
        << h + tcpRow(loopback4, agentPort, loopback4, clientPort + 1, "01", 65534) + connection(loopback4, 1000)
        << true << "uid 1000";
    QTest::newRow("listener only") << h + rootListener << false << QString();
    QTest::newRow("client's end only") << h + tcpRow(loopback4, clientPort, loopback4, agentPort, "01", 1000) << false
                                       << QString();
    QTest::newRow("other client address")
        << h + tcpRow(loopback4, agentPort, other4, clientPort, "01", 0) << false << QString();
    QTest::newRow("agent's end on ::1") << h + tcpRow(loopback6, agentPort, loopback6, clientPort, "01", 0) << false
                                        << QString();
    QTest::newRow("closing, not established") << h + connection(loopback4, 0, "06") << false << QString();
    QTest::newRow("nothing at all") << h << false << QString();
    QTest::newRow("truncated row") << h + QByteArray("   0: 0100007F:1842 0100007F:C3CB 01 0000") << false << QString();
    QTest::newRow("bad address") << h + tcpRow("0100007", agentPort, loopback4, clientPort, "01", 0) << false
                                 << QString();
    QTest::newRow("negative uid") << h + tcpRow(loopback4, agentPort, loopback4, clientPort, "01", -5) << false
                                  << QString();
}

void TestAgentOwner::verdictFromTables()
{
    QFETCH(QByteArray, tables);
    QFETCH(bool, trusted);
    QFETCH(QString, owner);
    const QHostAddress loopback(QHostAddress::LocalHost);
    const AgentOwnerVerdict verdict
        = judgeConnection(parseProcNetTcp(tables), {loopback, agentPort}, {loopback, clientPort}, 1000);
    QCOMPARE(verdict.trusted, trusted);
    QCOMPARE(verdict.owner, owner);
}

// The kernel's own tables: the accepted end of a connection to a listener of
// this process is found and trusted; once closed it is not found.
void TestAgentOwner::liveTables()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QVERIFY(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    const TcpEndpoint agent{QHostAddress(QHostAddress::LocalHost), server.serverPort()};
    const TcpEndpoint self{client.localAddress(), client.localPort()};
    const AgentOwnerVerdict mine = checkAgentOwner(agent, self);
    QVERIFY(mine.trusted);
    QCOMPARE(mine.owner, QStringLiteral("uid %1").arg(::geteuid()));

    client.abort();
    accepted->abort();
    server.close();
    QTRY_VERIFY(checkAgentOwner(agent, self).owner.isEmpty());
    QVERIFY(!checkAgentOwner(agent, self).trusted);
}

void TestAgentOwner::windowAgainstSimulator_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::addColumn<QString>("foreignListener"); // "", "loopback" for [::1], "any" for [::] IPv6 only
    QTest::newRow("simulator of this user") << false << QString();
    QTest::newRow("simulator of uid 65534") << true << QString();
    QTest::newRow("simulator of this user, uid 65534 on [::1]") << false << QStringLiteral("loopback");
    QTest::newRow("simulator of this user, uid 65534 on [::]") << false << QStringLiteral("any");
}

// The real window against the simulator: its own user's is configured; one
// started under another uid gets nothing at all, not even "config", and the
// window shows the refusal as a failed link. The link keeps trying, judging
// each listener afresh: once this user's agent takes the port, it comes up.
void TestAgentOwner::windowAgainstSimulator()
{
    QFETCH(bool, foreign);
    QFETCH(QString, foreignListener);
    if ((foreign || !foreignListener.isEmpty()) && ::geteuid() != 0)
        QSKIP("starting a process under another uid needs root (setpriv)");

    TestEnv env;
    // "config" makes the simulator write its log into log_path; the directory
    // is open to every user so that a foreign simulator could write it too.
    QFile::setPermissions(env.tempDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
                                             | QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                             | QFileDevice::ExeGroup);
    QProcess simulator;
    const QStringList otherUser{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
    const quint16 port = startSimulator(simulator, {}, foreign ? otherUser : QStringList());
    QVERIFY2(port, "the simulator printed its port");
    // Another account listens on the same port where the window's connection
    // to 127.0.0.1 never arrives; one such listener locked the client out.
    QProcess squatter;
    if (!foreignListener.isEmpty()) {
        squatter.start(otherUser.first(),
                       otherUser.mid(1)
                           + QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--listen-v6"),
                                         foreignListener, QString::number(port)});
        QVERIFY(squatter.waitForReadyRead(5000));
        QCOMPARE(squatter.readAllStandardOutput(), QByteArray("listening\n"));
    }
    const auto stopSquatter = qScopeGuard([&] {
        squatter.kill();
        squatter.waitForFinished(3000);
    });

    if (foreign)
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("Agent refused: port %1 is owned by uid 65534, neither the "
                                                       "system nor this user")
                                            .arg(port)));
    Orvalin window;
    QSignalSpy closed(&window, &Orvalin::vpnClosed);
    window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
    window.show();
    auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
    const QString log = env.tempDir() + QStringLiteral("/tunwarden.log");

    if (foreign) {
        QTRY_VERIFY_WITH_TIMEOUT(statusBar->text().startsWith(QLatin1String(refusedText)), 5000);
        QVERIFY(!connectButton->isEnabled());
        QCOMPARE(closed.size(), 1);
        // Time for a "config" to arrive and be logged, had one been sent; the
        // tries within it are refused as well.
        QTest::qWait(1000);
        QVERIFY2(!QFile::exists(log), "the foreign simulator was configured");
        QCOMPARE(closed.size(), 1);
        QVERIFY(!connectButton->isEnabled());
        QVERIFY(statusBar->text().startsWith(QLatin1String(refusedText)));

        simulator.kill();
        QVERIFY(simulator.waitForFinished(3000));
        QProcess own;
        QCOMPARE(startSimulator(own, {QStringLiteral("--port"), QString::number(port)}), port);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
        QTRY_VERIFY(connectButton->isEnabled());
        // The reply to "config" takes the status line.
        QTRY_VERIFY(!statusBar->text().startsWith(QLatin1String(refusedText)));
        QCOMPARE(closed.size(), 1);
        own.terminate();
        own.waitForFinished(3000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !statusBar->text().isEmpty() && !statusBar->text().startsWith(QLatin1String(refusedText)), 5000);
        QVERIFY(connectButton->isEnabled());
        QCOMPARE(closed.size(), 0);
    }
    simulator.terminate();
    if (!simulator.waitForFinished(3000))
        simulator.kill();
}

void TestAgentOwner::refusalTextInChinese()
{
    QTranslator translator;
    QVERIFY(translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("orvalin"), QStringLiteral("_"),
                            QStringLiteral(":/i18n"), QString()));
    QCOMPARE(translator.translate("Orvalin", refusedText), QStringLiteral("tunwarden 身份校验失败，请联系管理员"));
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--listen-v6") == 0)
        return listenV6(argc, argv);
    QApplication app(argc, argv);
    TestAgentOwner test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_agentowner.moc"
