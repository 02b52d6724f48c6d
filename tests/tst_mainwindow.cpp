#include "agentconfig.h"
#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "testenv.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {
const QString linkFailedText = QStringLiteral("无法连接到 tunwarden，请重新安装软件！");

QUrl closedPortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port));
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void titleCarriesVersion();
    void agentAbsent();
    void agentPresentSendsConfig();
    void refusedConfigClearsStatusLine();
    void linkDropLater();
    void productTalksToFixedAddress();
    void debugToggleFollowsLink();
};

void TestMainWindow::titleCarriesVersion()
{
    TestEnv env;
    Orvalin window;
    QCOMPARE(window.windowTitle(), QString("Kestrum SSLVPN Client v1.6.0"));
}

void TestMainWindow::agentAbsent()
{
    TestEnv env;
    Orvalin window;
    window.setAgentUrl(closedPortUrl());
    QSignalSpy closed(&window, &Orvalin::vpnClosed);
    window.show();
    // Hidden again before the link is tried: the failure must bring it back.
    window.hide();

    auto *statusBar = window.findChild<QLabel *>("statusBar");
    auto *connectButton = window.findChild<QPushButton *>("buttonConnect");
    QTRY_VERIFY(statusBar->text().startsWith(linkFailedText));
    QVERIFY(!connectButton->isEnabled());
    QCOMPARE(closed.size(), 1);
    QVERIFY(window.isVisible());
    // The link keeps trying and says when: one failure told, not one per try.
    QTRY_VERIFY_WITH_TIMEOUT(statusBar->text().contains(QStringLiteral("(retry in 2 s)")), 4000);
    QCOMPARE(closed.size(), 1);
}

void TestMainWindow::agentPresentSendsConfig()
{
    TestEnv env;
    configManager->config["debug"] = true;
    configManager->config["block"] = false;
    configManager->config["cisco_compat"] = true;
    configManager->config["no_dtls"] = false;

    FakeAgent agent;
    agent.answer("config", "tunwarden 3.2 ready");
    Orvalin window;
    // The Setting tab shows the same states the settings hold.
    window.findChild<QCheckBox *>("checkBoxDebug")->setChecked(true);
    window.findChild<QCheckBox *>("checkBoxBlock")->setChecked(false);
    window.findChild<QCheckBox *>("checkBoxCiscoCompat")->setChecked(true);
    window.findChild<QCheckBox *>("checkBoxDtls")->setChecked(false);
    window.setAgentUrl(agent.url());
    window.show();

    auto *statusBar = window.findChild<QLabel *>("statusBar");
    QTRY_COMPARE(statusBar->text(), QString("tunwarden 3.2 ready"));
    // "config" first, then the one "status" that asks whether a session runs.
    QTRY_COMPARE(agent.methodsOnLink(1), (QStringList{"config", "status"}));
    QCOMPARE(agent.requests.at(1).raw, QByteArray(R"({"id":0,"jsonrpc":"2.0","method":"status","params":{}})"));
    const FakeAgent::Request config = agent.requests.first();
    QVERIFY(config.binary);
    const QByteArray expected
        = QByteArray(R"({"id":1,"jsonrpc":"2.0","method":"config","params":{)")
          + R"("agent_name":"kestrum-sslvpn Secure Client","agent_version":"1.6.0","cisco_compat":true,)"
          + R"("log_level":"Debug","log_path":")" + env.tempDir().toUtf8()
          + R"(","no_dtls":false,"skip_verify":true}})";
    QCOMPARE(config.raw, expected);
    QVERIFY(window.findChild<QPushButton *>("buttonConnect")->isEnabled());
}

void TestMainWindow::refusedConfigClearsStatusLine()
{
    TestEnv env;
    FakeAgent agent;
    agent.answerError("config", QJsonObject{{"code", -32000}, {"message", "bad log path"}});
    Orvalin window;
    auto *statusBar = window.findChild<QLabel *>("statusBar");
    statusBar->setText("previous text");
    window.setAgentUrl(agent.url());
    window.show();
    QTRY_COMPARE(agent.requestsFor("config").size(), 1);
    QTRY_VERIFY(statusBar->text().isEmpty());
}

void TestMainWindow::linkDropLater()
{
    TestEnv env;
    FakeAgent agent;
    agent.answer("config", "ready");
    Orvalin window;
    QSignalSpy closed(&window, &Orvalin::vpnClosed);
    window.setAgentUrl(agent.url());
    window.show();
    auto *statusBar = window.findChild<QLabel *>("statusBar");
    QTRY_COMPARE(statusBar->text(), QString("ready"));

    auto *connectButton = window.findChild<QPushButton *>("buttonConnect");
    bool enabledWhenClosed = true;
    connect(&window, &Orvalin::vpnClosed, &window, [&] { enabledWhenClosed = connectButton->isEnabled(); });
    agent.dropClients();
    QTRY_VERIFY(statusBar->text().startsWith(linkFailedText));
    QCOMPARE(closed.size(), 1);
    QVERIFY(!enabledWhenClosed);
    // The agent still listens: the link is back, configured again, Connect enabled.
    QTRY_COMPARE_WITH_TIMEOUT(agent.methodsOnLink(2), (QStringList{"config", "status"}), 3000);
    QTRY_COMPARE(statusBar->text(), QString("ready"));
    QVERIFY(connectButton->isEnabled());
    QCOMPARE(closed.size(), 1);
}

void TestMainWindow::productTalksToFixedAddress()
{
    TestEnv env;
    const QUrl product(QStringLiteral("ws://127.0.0.1:6210/rpc"));
    QCOMPARE(Orvalin::defaultAgentUrl(), product);
    // A window nobody points elsewhere (as start-up makes it) uses it.
    Orvalin window;
    QCOMPARE(window.agentAddress(), product);
}

void TestMainWindow::debugToggleFollowsLink()
{
    TestEnv env;
    FakeAgent agent;
    agent.answer("config", "ready");
    Orvalin window;
    window.setAgentUrl(agent.url());
    window.show();
    auto *statusBar = window.findChild<QLabel *>("statusBar");
    auto *debug = window.findChild<QCheckBox *>("checkBoxDebug");
    QTRY_COMPARE(statusBar->text(), QString("ready"));
    debug->toggle();
    QTRY_COMPARE(agent.requestsFor("config").size(), 2); // the toggle itself sends while the link is up

    // The agent drops the link but keeps listening: a toggle while it is down
    // sends nothing; the next link's "config" carries the state the toggle left.
    agent.dropClients();
    QTRY_VERIFY(statusBar->text().startsWith(linkFailedText));
    const qsizetype before = agent.requests.size();
    debug->toggle();
    QCOMPARE(agent.requests.size(), before);
    QTRY_COMPARE_WITH_TIMEOUT(agent.methodsOnLink(2), (QStringList{"config", "status"}), 3000);
    QCOMPARE(agent.requests.size(), before + 2);
    QCOMPARE(agent.requestsFor("config").constLast().params.value("log_level").toString(), QString("Info"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
