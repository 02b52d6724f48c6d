#include "agentlink.h"
#include "appglobals.h"
#include "configmanager.h"
#include "desktopnotice.h"
#include "fakeagent.h"
#include "noticethrottle.h"
#include "notificationdaemon.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "privatebus.h"
#include "sessioncontroller.h"
#include "sessionnotifier.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QApplication>
#include <QDBusConnection>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QWidget>

#include <memory>

// Desktop notices: when the throttle lets one through, what each says in
// both languages, and what a real notification service (dunst on a private
// session bus) receives from the client.
namespace {

using Kind = SessionNotifier::Kind;

QJsonObject sessionEvent(const QString &name, const QString &message = QString())
{
    QJsonObject fields{{QStringLiteral("event"), name},
                       {QStringLiteral("profile"), QStringLiteral("office")},
                       {QStringLiteral("host"), QStringLiteral("vpn.example.net")}};
    if (name == QLatin1String("connected") || name == QLatin1String("reconnected"))
        fields.insert(QStringLiteral("address"), QStringLiteral("10.8.0.6"));
    if (!message.isEmpty())
        fields.insert(QStringLiteral("message"), message);
    return fields;
}

// A window against its own agent, with the profile "office" and its
// password in memory, that closes into the tray when the session comes up.
struct WindowRig
{
    WindowRig()
    {
        env.writeConfigFile(QStringLiteral("profile.json"),
                            R"({"office": {"host": "vpn.example.net", "username": "alice"}})");
        configManager->config.insert(QStringLiteral("minimize"), true);
        agent.answer(QStringLiteral("config"), QStringLiteral("ready"));
        agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
        // No session until one is connected: the window's first "status" asks
        // whether the agent already runs one.
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        // The offscreen platform has no notification area; the window hides as into one.
        window->findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
    }

    bool connectHidden(const QString &otp)
    {
        window->show();
        auto *session = window->findChild<SessionController *>();
        if (!QTest::qWaitFor([session] { return session->isAgentSessionKnown(); }, 5000))
            return false;
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.6")}});
        ProfileManager *profiles = session->profiles();
        QJsonObject office = profiles->profiles.value(QStringLiteral("office")).toObject();
        office.insert(QStringLiteral("password"), QStringLiteral("Tr0ub4dor&3"));
        profiles->profiles.insert(QStringLiteral("office"), office);
        window->findChild<QLineEdit *>(QStringLiteral("lineEditOTP"))->setText(otp);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("buttonConnect")), Qt::LeftButton);
        // Hidden, and the first status (which the "connected" event waits for) is in.
        return QTest::qWaitFor(
            [this, session] { return !window->isVisible() && session->lastStatusReply().contains("VPNAddress"); },
            5000);
    }

    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<Orvalin> window;
};

} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void throttle_data();
    void throttle();
    void texts_data();
    void texts();
    void agentTextBounded_data();
    void agentTextBounded();
    void serviceReceivesNotice();
    void noticesOnlyWhileHiddenAndWanted();
    void flappingGivesOneNotice();
    void agentTextNeverCarriesSecrets();
    void windowTellsSessionWhileHidden();
    void clickOnNoticeBringsWindowBack();
    void agentGoesAndComesBack();

private:
    // Notices received since the test began.
    QList<NotificationDaemon::Notice> receivedSince(int before) const;

    std::unique_ptr<PrivateSessionBus> bus;
    std::unique_ptr<NotificationDaemon> daemon;
};

void TestNotifier::initTestCase()
{
    // The service runs on a bus of its own, so that notices of other tests
    // (and of the desktop the tests run on) never mix with these. This
    // process has not used its session bus yet; from here on it is this one.
    bus = std::make_unique<PrivateSessionBus>();
    QVERIFY2(bus->isValid(), "dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
    daemon = std::make_unique<NotificationDaemon>(bus->environment());
    const QString failure = daemon->start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QList<NotificationDaemon::Notice> TestNotifier::receivedSince(int before) const
{
    return daemon->received().mid(before);
}

void TestNotifier::throttle_data()
{
    // Each step: "time kind" offers a notice, "time kind seen" is seen in the
    // window, "time due" asks for held notices. Kinds 0 to 2 share group 0,
    // kind 9 is alone in group 1.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("first of each kind at once")
        << QStringList{"0 0", "100 1", "200 9"} << QStringList{"0 0", "100 1", "200 9"};
    QTest::newRow("the same kind again within 30 s is held")
        << QStringList{"0 0", "10000 0", "29999 due"} << QStringList{"0 0"};
    QTest::newRow("after 30 s it is shown again") << QStringList{"0 0", "30000 0"} << QStringList{"0 0", "30000 0"};
    QTest::newRow("flapping: one notice of each, none later when it ends well")
        << QStringList{"0 0", "2000 1", "5000 0", "7000 1", "10000 0", "12000 1", "30000 due", "32000 due"}
        << QStringList{"0 0", "2000 1"};
    QTest::newRow("a loss that lasts is told when its time is over")
        << QStringList{"0 0", "2000 1", "10000 0", "30000 due"} << QStringList{"0 0", "2000 1", "30000 0"};
    QTest::newRow("what the window showed makes a held notice stale")
        << QStringList{"0 0", "2000 1", "10000 0", "12000 1 seen", "30000 due"} << QStringList{"0 0", "2000 1"};
    QTest::newRow("another group does not make it stale")
        << QStringList{"0 0", "2000 1", "10000 0", "12000 9", "30000 due"}
        << QStringList{"0 0", "2000 1", "12000 9", "30000 0"};
}

void TestNotifier::throttle()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);

    NoticeThrottle throttle;
    QStringList out;
    for (const QString &step : steps) {
        const QStringList parts = step.split(QLatin1Char(' '));
        const qint64 now = parts.at(0).toLongLong();
        if (parts.at(1) == QLatin1String("due")) {
            for (int kind : throttle.due(now))
                out << QStringLiteral("%1 %2").arg(now).arg(kind);
            continue;
        }
        const int kind = parts.at(1).toInt();
        const int group = kind == 9 ? 1 : 0;
        if (parts.size() > 2)
            throttle.observe(kind, group);
        else if (throttle.offer(kind, group, now))
            out << step;
    }
    QCOMPARE(out, shown);
}

void TestNotifier::texts_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QJsonObject>("event");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");

    const QString bad = QStringLiteral("Bad OTP");
    for (bool chinese : {false, true}) {
        const char *language = chinese ? "zh" : "en";
        auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s %s", language, name); };
        row("connected") << chinese << sessionEvent("connected") << Kind::Connected
                         << (chinese ? QStringLiteral("VPN 已连接") : QStringLiteral("VPN connected"))
                         << (chinese ? QStringLiteral("office（VPN 地址 10.8.0.6）")
                                     : QStringLiteral("office (VPN address 10.8.0.6)"));
        row("lost") << chinese << sessionEvent("lost", QStringLiteral("link lost")) << Kind::Lost
                    << (chinese ? QStringLiteral("VPN 会话已断开") : QStringLiteral("VPN session lost"))
                    << (chinese ? QStringLiteral("正在重新连接 office…") : QStringLiteral("Reconnecting to office…"));
        row("reconnected") << chinese << sessionEvent("reconnected") << Kind::Reconnected
                           << (chinese ? QStringLiteral("VPN 已重新连接") : QStringLiteral("VPN reconnected"))
                           << (chinese ? QStringLiteral("office（VPN 地址 10.8.0.6）")
                                       : QStringLiteral("office (VPN address 10.8.0.6)"));
        row("reconnection refused") << chinese << sessionEvent("reconnect-refused") << Kind::ReconnectRefused
                                    << (chinese ? QStringLiteral("重新连接被拒绝")
                                                : QStringLiteral("Reconnection refused"))
                                    << (chinese ? QStringLiteral("正在重新发起到 office 的连接…")
                                                : QStringLiteral("Starting a new connection to office…"));
        row("refused") << chinese << sessionEvent("refused", bad) << Kind::Refused
                       << (chinese ? QStringLiteral("VPN 连接被拒绝") : QStringLiteral("VPN connection refused"))
                       << bad;
        row("ended by the server") << chinese
                                   << sessionEvent("closed", QStringLiteral("Session ended by administrator"))
                                   << Kind::ClosedByServer
                                   << (chinese ? QStringLiteral("服务器已结束 VPN 会话")
                                               : QStringLiteral("VPN session ended by the server"))
                                   << QStringLiteral("Session ended by administrator");
        row("agent unreachable") << chinese << QJsonObject() << Kind::AgentUnreachable
                                 << (chinese ? QStringLiteral("无法连接到 tunwarden")
                                             : QStringLiteral("tunwarden unreachable"))
                                 << (chinese ? QStringLiteral("VPN 服务无响应，正在重试。")
                                             : QStringLiteral("The VPN service does not answer; trying again."));
        row("agent back") << chinese << QJsonObject() << Kind::AgentBack
                          << (chinese ? QStringLiteral("tunwarden 已恢复") : QStringLiteral("tunwarden is back"))
                          << (chinese ? QStringLiteral("VPN 服务已恢复响应。")
                                      : QStringLiteral("The VPN service answers again."));
    }
}

void TestNotifier::texts()
{
    QFETCH(bool, chinese);
    QFETCH(QJsonObject, event);
    QFETCH(Kind, kind);
    QFETCH(QString, title);
    QFETCH(QString, body);

    QTranslator translator;
    if (chinese) {
        QVERIFY(translator.load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    const SessionNotifier::Notice notice = SessionNotifier::compose(kind, event);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(notice.title, title);
    QCOMPARE(notice.body, body);
}

void TestNotifier::agentTextBounded_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bounded");

    QTest::newRow("plain") << "Bad OTP"
                           << "Bad OTP";
    QTest::newRow("lines and controls become one line")
        << QStringLiteral("  Bad\r\nOTP\t\u0007again \u202E ") << "Bad OTP again";
    const QString longText = QString(400, QLatin1Char('x'));
    QTest::newRow("cut with an ellipsis")
        << longText << QString(SessionNotifier::maxAgentTextLength - 1, QLatin1Char('x')) + QChar(0x2026);
}

void TestNotifier::agentTextBounded()
{
    QFETCH(QString, text);
    QFETCH(QString, bounded);
    QCOMPARE(SessionNotifier::boundedAgentText(text), bounded);
}

void TestNotifier::serviceReceivesNotice()
{
    TestEnv env;
    QWidget window;
    TrayController tray(&window);
    DesktopNotice notice(&tray);
    const int before = int(daemon->received().size());
    // Markup from the agent must arrive as text, not as a link.
    notice.show(QStringLiteral("VPN connection refused"), QStringLiteral("<a href=\"http://x.example\">Bad</a> & OTP"));
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 1, 5000);
    const NotificationDaemon::Notice received = receivedSince(before).first();
    QCOMPARE(received.appName, DesktopNotice::applicationName());
    QCOMPARE(received.summary, QStringLiteral("VPN connection refused"));
    QVERIFY2(!received.body.contains(QLatin1String("<a ")), qPrintable(received.body));
    QVERIFY2(received.body.contains(QLatin1String("Bad")) && received.body.contains(QLatin1String("OTP")),
             qPrintable(received.body));
}

void TestNotifier::noticesOnlyWhileHiddenAndWanted()
{
    TestEnv env;
    QWidget window;
    TrayController tray(&window);
    DesktopNotice poster(&tray);
    SessionNotifier notifier(&window, &poster);
    const int before = int(daemon->received().size());

    // Shown: the user sees it in the window.
    window.show();
    notifier.onSessionEvent(sessionEvent("lost", QStringLiteral("link lost")));
    // Turned off.
    window.hide();
    configManager->config.insert(QStringLiteral("notifications"), false);
    notifier.onSessionEvent(sessionEvent("closed", QStringLiteral("ended")));
    // Hidden and wanted; an event that needs no notice.
    configManager->config.insert(QStringLiteral("notifications"), true);
    notifier.onSessionEvent(sessionEvent("disconnected"));
    notifier.onSessionEvent(sessionEvent("refused", QStringLiteral("Bad OTP")));
    // Minimised counts as hidden.
    window.showMinimized();
    notifier.onAgentLost();

    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 2, 5000);
    QTest::qWait(300);
    const QList<NotificationDaemon::Notice> received = receivedSince(before);
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.at(0).summary, QStringLiteral("VPN connection refused"));
    QCOMPARE(received.at(0).body, QStringLiteral("Bad OTP"));
    QCOMPARE(received.at(1).summary, QStringLiteral("tunwarden unreachable"));
}

void TestNotifier::flappingGivesOneNotice()
{
    TestEnv env;
    QWidget window;
    TrayController tray(&window);
    DesktopNotice poster(&tray);
    SessionNotifier notifier(&window, &poster);
    const int quietMs = 1000;
    notifier.setQuietInterval(quietMs);
    const int before = int(daemon->received().size());

    for (int round = 0; round < 5; ++round) {
        notifier.onSessionEvent(sessionEvent("lost", QStringLiteral("link lost")));
        notifier.onSessionEvent(sessionEvent("reconnected"));
    }
    // Past the quiet time: the notices held back meanwhile told nothing new.
    QTest::qWait(quietMs + 800);
    QList<NotificationDaemon::Notice> received = receivedSince(before);
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.at(0).summary, QStringLiteral("VPN session lost"));
    QCOMPARE(received.at(1).summary, QStringLiteral("VPN reconnected"));

    // It drops and comes back once more, then drops for good: the last loss
    // is held back, and told once its quiet time is over.
    notifier.onSessionEvent(sessionEvent("lost", QStringLiteral("link lost")));
    notifier.onSessionEvent(sessionEvent("reconnected"));
    notifier.onSessionEvent(sessionEvent("lost", QStringLiteral("link lost")));
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 4, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 5, 10000);
    QCOMPARE(receivedSince(before).at(4).summary, QStringLiteral("VPN session lost"));
}

void TestNotifier::agentTextNeverCarriesSecrets()
{
    TestEnv env;
    QWidget window;
    TrayController tray(&window);
    DesktopNotice poster(&tray);
    SessionNotifier notifier(&window, &poster);
    notifier.setSecretsSource([] { return QStringList{QStringLiteral("Tr0ub4dor&3"), QStringLiteral("492817")}; });
    const int before = int(daemon->received().size());

    notifier.onSessionEvent(sessionEvent("refused", QStringLiteral("password Tr0ub4dor&3492817 refused (otp=492817)")));
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 1, 5000);
    const QString body = receivedSince(before).first().body;
    QVERIFY2(!body.contains(QLatin1String("Tr0ub4dor")) && !body.contains(QLatin1String("492817")), qPrintable(body));
    QVERIFY2(body.contains(QLatin1String("[redacted]")), qPrintable(body));
}

void TestNotifier::windowTellsSessionWhileHidden()
{
    WindowRig rig;
    const int before = int(daemon->received().size());
    QVERIFY(rig.connectHidden(QStringLiteral("492817")));
    rig.agent.push(6, QStringLiteral("link lost"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.agent.requestsFor(QStringLiteral("reconnect")).size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 3, 5000);
    // The server ends it, naming what the user typed.
    rig.agent.push(3, QStringLiteral("session of alice (Tr0ub4dor&3492817) ended by the administrator"));
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 4, 5000);

    const QList<NotificationDaemon::Notice> received = receivedSince(before);
    QStringList summaries;
    for (const NotificationDaemon::Notice &notice : received)
        summaries << notice.summary;
    QCOMPARE(summaries,
             (QStringList{"VPN connected", "VPN session lost", "VPN reconnected", "VPN session ended by the server"}));
    QCOMPARE(received.at(0).body, QStringLiteral("office (VPN address 10.8.0.6)"));
    QCOMPARE(received.at(1).body, QStringLiteral("Reconnecting to office…"));
    const QString ended = received.at(3).body;
    QVERIFY2(ended.startsWith(QLatin1String("session of alice ([redacted]) ended")), qPrintable(ended));
    for (const NotificationDaemon::Notice &notice : received) {
        for (const char *secret : {"Tr0ub4dor", "492817"})
            QVERIFY2(!QString(notice.summary + notice.body).contains(QLatin1String(secret)), qPrintable(notice.body));
    }
}

void TestNotifier::clickOnNoticeBringsWindowBack()
{
    WindowRig rig;
    const int before = int(daemon->received().size());
    QVERIFY(rig.connectHidden(QString()));
    // A click on the "connected" notice.
    QTest::qWait(300);
    QVERIFY(daemon->clickNewest());
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->isVisible(), 5000);
    QCOMPARE(receivedSince(before).size(), 1);
}

// The link to the agent drops while the window is in the tray: one notice
// that the agent is out of reach, and one when the link is back.
void TestNotifier::agentGoesAndComesBack()
{
    WindowRig rig;
    const int before = int(daemon->received().size());
    QVERIFY(rig.connectHidden(QString()));
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 1, 5000);
    // The window comes forward when the link drops; the user puts it away
    // again before the link is back.
    auto *link = rig.window->findChild<AgentLink *>();
    QVERIFY(link);
    connect(link, &AgentLink::linkDown, rig.window.get(), [&rig] { rig.window->hide(); });
    rig.agent.dropClients();
    QTRY_COMPARE_WITH_TIMEOUT(link->restoredCount(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(receivedSince(before).size(), 3, 5000);
    const QList<NotificationDaemon::Notice> received = receivedSince(before);
    QCOMPARE(received.at(1).summary, QStringLiteral("tunwarden unreachable"));
    QCOMPARE(received.at(2).summary, QStringLiteral("tunwarden is back"));
}

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"
