#include "configmanager.h"
#include "appglobals.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "orvalin.h"
#include "sessioncontroller.h"
#include "simulatorprocess.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include "secretstore.h"

#include <QTest>

// One whole session of the real window against the agent simulator: connect,
// status, details, a simulated loss with the automatic reconnection, and the
// user's disconnect.
class TestSessionEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    // Passwords left by other suites in the shared store would be restored
    // into this suite's profiles.
    void init() { secretStoreClearService(); }

    void sessionAgainstSimulator()
    {
        QProcess simulator;
        const quint16 port = startSimulator(simulator, {QStringLiteral("--lose-after"), QStringLiteral("3")});
        QVERIFY2(port, "simulator printed its port");

        TestEnv env;
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.com")},
                                                   {QStringLiteral("username"), QStringLiteral("zhang.san")},
                                                   {QStringLiteral("group"), QStringLiteral("staff")},
                                                   {QStringLiteral("secret"), QString()}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), false);

        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        // Before anything waits: the loss comes 3 s after the session, however
        // slow the steps in between are.
        QSignalSpy closed(&window, &Orvalin::vpnClosed);
        QSignalSpy connected(&window, &Orvalin::vpnConnected);
        window.show();
        auto *session = window.findChild<SessionController *>();
        auto *card = window.findChild<ConnectionStatusCard *>();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
        auto *detailsButton = window.findChild<QPushButton *>(QStringLiteral("buttonDetails"));
        auto *otp = window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"));
        // "config" answered: the agent's text replaces the start notice.
        const QString notice = statusBar->text();
        QTRY_VERIFY_WITH_TIMEOUT(statusBar->text() != notice && !statusBar->text().isEmpty(), 5000);
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("comboBoxHost"))->currentText(),
                 QStringLiteral("office"));

        // Connect with a one-time password (the profile has no stored one).
        QTest::keyClicks(otp, QStringLiteral("123456"));
        QTest::keyClick(otp, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 1, 5000);
        QTRY_VERIFY(detailsButton->isEnabled() || closed.size() > 0);
        QVERIFY2(closed.isEmpty(), "the session lasted until its details were shown");
        QCOMPARE(card->status(), ConnectionStatusCard::Connected);
        QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
        for (const char *name :
             {"labelChannelType", "labelServerAddress", "labelLocalAddress", "labelVPNAddress", "labelMTU", "labelDNS"})
            QVERIFY2(!window.findChild<QLabel *>(QLatin1String(name))->text().isEmpty(), name);
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("labelMTU"))->text().toInt() > 0);
        const QString vpnAddress = window.findChild<QLabel *>(QStringLiteral("labelVPNAddress"))->text();
        QCOMPARE(card->findChild<QLabel *>(QStringLiteral("vpnLabel"))->text(),
                 QStringLiteral("VPN地址: ") + vpnAddress);

        // Details: routes from the first status, counters while the dialog is open.
        auto *details = window.details();
        auto *secured = details->findChild<QTableWidget *>(QStringLiteral("tableSecured"));
        QVERIFY(secured->rowCount() > 0);
        for (int row = 0; row < secured->rowCount(); ++row)
            QVERIFY(secured->item(row, 1)->text().toInt() >= 0);
        details->show();
        auto *sent = details->findChild<QLabel *>(QStringLiteral("labelBytesSent"));
        QTRY_VERIFY_WITH_TIMEOUT(
            sent->text().contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d (B|KB|MB|GB)$"))), 2500);
        details->close();

        // The simulated loss: idle look, then the reconnection 1.5 s later.
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, 4000);
        QVERIFY(session->isSessionConnected());
        QCOMPARE(session->sessionParameters().value(QLatin1String("password")).toString(), QStringLiteral("123456"));
        QTRY_VERIFY(detailsButton->isEnabled());

        // The user disconnects before the next loss: idle, and nothing reconnects.
        QTest::mouseClick(connectButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 2, 3000);
        QCOMPARE(card->status(), ConnectionStatusCard::Disconnected);
        QCOMPARE(connectButton->text(), QStringLiteral("Connect"));
        QVERIFY(!detailsButton->isEnabled());
        QCOMPARE(secured->rowCount(), 0);
        QVERIFY(otp->text().isEmpty());
        QTest::qWait(2500);
        QCOMPARE(connected.size(), 2);
        QVERIFY(!session->isSessionConnected());

        simulator.terminate();
        if (!simulator.waitForFinished(3000))
            simulator.kill();
    }

    // The agent goes away during a session, either stopping as a service does
    // (a close frame) or killed: the window says so, disables Connect while
    // it keeps trying, ends the session and comes back from the tray.
    void agentGoesAway_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("agent stops") << false;
        QTest::newRow("agent killed") << true;
    }
    void agentGoesAway()
    {
        QFETCH(bool, killed);
        QProcess simulator;
        const quint16 port = startSimulator(simulator, {});
        QVERIFY2(port, "simulator printed its port");
        TestEnv env;
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.com")},
                                                   {QStringLiteral("username"), QStringLiteral("zhang.san")}}}})
                .toJson());
        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        QSignalSpy closed(&window, &Orvalin::vpnClosed);
        const QString notice = window.findChild<QLabel *>(QStringLiteral("statusBar"))->text();
        window.show();
        auto *tray = window.findChild<TrayController *>();
        tray->setTrayAvailableQuery([] { return true; });
        auto *session = window.findChild<SessionController *>();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("buttonConnect"));
        QTRY_VERIFY_WITH_TIMEOUT(statusBar->text() != notice && !statusBar->text().isEmpty(),
                                 5000); // "config" answered
        auto *otp = window.findChild<QLineEdit *>(QStringLiteral("lineEditOTP"));
        QTest::keyClicks(otp, QStringLiteral("123456"));
        QTest::keyClick(otp, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(session->isSessionConnected(), 5000);
        window.close(); // into the tray
        QVERIFY(window.isHidden());

        if (killed)
            simulator.kill();
        else
            simulator.terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!connectButton->isEnabled(), 5000);
        QVERIFY(statusBar->text().startsWith(QStringLiteral("无法连接到 tunwarden，请重新安装软件！")));
        QVERIFY(!session->isSessionConnected());
        QVERIFY(window.isVisible());
        QCOMPARE(closed.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(simulator.state(), QProcess::NotRunning, 5000);
        QCOMPARE(simulator.exitStatus(), killed ? QProcess::CrashExit : QProcess::NormalExit);
    }
};

QTEST_MAIN(TestSessionEndToEnd)
#include "tst_session_e2e.moc"
