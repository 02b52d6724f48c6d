#include "agentowner.h"
#include "appglobals.h"
#include "configmanager.h"
#include "orvalin.h"
#include "simulatorprocess.h"
#include "testenv.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTranslator>

#include <unistd.h>

namespace {

const char refusedText[] = "tunwarden identity check failed, please contact your administrator";

// /proc/net/tcp and tcp6 as the kernel writes them on a little-endian machine:
// each 32-bit word of the address printed as it lies in memory.
QByteArray tcpRow(const char *address, quint16 port, const char *state, int uid)
{
    return QByteArray("   0: ") + address + ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0')
           + " 00000000:0000 " + state + " 00000000:00000000 00:00000000 00000000 " + QByteArray::number(uid)
           + "        0 4242 1 0000000000000000 100 0 0 10 0\n";
}

const char header[]
    = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
const char loopback4[] = "0100007F";
const char any4[] = "00000000";
const char lan4[] = "0501A8C0"; // 192.168.1.5
const char any6[] = "00000000000000000000000000000000";
const char loopback6[] = "00000000000000000000000001000000";
const char mappedLoopback[] = "0000000000000000FFFF00000100007F";

} // namespace

// Passwords go to whatever listens on the agent's port: the link trusts only a
// listener of the system or of the user running the client.
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

    const quint16 port = 6210;
    const QByteArray h(header);
    QTest::newRow("root on 127.0.0.1") << h + tcpRow(loopback4, port, "0A", 0) << true << "uid 0";
    QTest::newRow("own user on 0.0.0.0") << h + tcpRow(any4, port, "0A", 1000) << true << "uid 1000";
    QTest::newRow("root on ::") << h + tcpRow(any6, port, "0A", 0) << true << "uid 0";
    QTest::newRow("root on ::ffff:127.0.0.1") << h + tcpRow(mappedLoopback, port, "0A", 0) << true << "uid 0";
    QTest::newRow("other user on 127.0.0.1") << h + tcpRow(loopback4, port, "0A", 65534) << false << "uid 65534";
    QTest::newRow("other user on ::1") << h + tcpRow(loopback6, port, "0A", 1001) << false << "uid 1001";
    QTest::newRow("root on 0.0.0.0, other user on ::1")
        << h + tcpRow(any4, port, "0A", 0) + tcpRow(loopback6, port, "0A", 65534) << false << "uid 65534";
    QTest::newRow("other user only on a LAN address")
        << h + tcpRow(lan4, port, "0A", 65534) + tcpRow(loopback4, port, "0A", 0) << true << "uid 0";
    QTest::newRow("nothing listens") << h << false << QString();
    QTest::newRow("listener on another port") << h + tcpRow(loopback4, port + 1, "0A", 0) << false << QString();
    QTest::newRow("established, not listening") << h + tcpRow(loopback4, port, "01", 0) << false << QString();
    QTest::newRow("truncated row") << h + QByteArray("   0: 0100007F:1842 00000000:0000 0A 0000") << false << QString();
    QTest::newRow("bad address") << h + tcpRow("0100007", port, "0A", 0) << false << QString();
    QTest::newRow("negative uid") << h + tcpRow(loopback4, port, "0A", -5) << false << QString();
}

void TestAgentOwner::verdictFromTables()
{
    QFETCH(QByteArray, tables);
    QFETCH(bool, trusted);
    QFETCH(QString, owner);
    const AgentOwnerVerdict verdict = judgeListeners(parseProcNetTcp(tables), 6210, 1000);
    QCOMPARE(verdict.trusted, trusted);
    QCOMPARE(verdict.owner, owner);
}

// The kernel's own tables: a listener of this process is found and trusted, a
// closed port is refused.
void TestAgentOwner::liveTables()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const AgentOwnerVerdict mine = checkAgentOwner(server.serverPort());
    QVERIFY(mine.trusted);
    QCOMPARE(mine.owner, QStringLiteral("uid %1").arg(::geteuid()));
    const quint16 port = server.serverPort();
    server.close();
    const AgentOwnerVerdict none = checkAgentOwner(port);
    QVERIFY(!none.trusted);
    QVERIFY(none.owner.isEmpty());
}

void TestAgentOwner::windowAgainstSimulator_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::newRow("simulator of this user") << false;
    QTest::newRow("simulator of uid 65534") << true;
}

// The real window against the simulator: its own user's is configured; one
// started under another uid gets nothing at all, not even "config", and the
// window shows the refusal as a failed link. The link keeps trying, judging
// each listener afresh: once this user's agent takes the port, it comes up.
void TestAgentOwner::windowAgainstSimulator()
{
    QFETCH(bool, foreign);
    if (foreign && ::geteuid() != 0)
        QSKIP("starting the simulator under another uid needs root (setpriv)");

    TestEnv env;
    // "config" makes the simulator write its log into log_path; the directory
    // is open to every user so that a foreign simulator could write it too.
    QFile::setPermissions(env.tempDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
                                             | QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                             | QFileDevice::ExeGroup);
    QProcess simulator;
    const QStringList prefix = foreign ? QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                                     QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")}
                                       : QStringList();
    const quint16 port = startSimulator(simulator, {}, prefix);
    QVERIFY2(port, "the simulator printed its port");

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

QTEST_MAIN(TestAgentOwner)
#include "tst_agentowner.moc"
