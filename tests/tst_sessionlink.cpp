#include "configmanager.h"
#include "connectionhistory.h"
#include "secretstore.h"
#include "sessionrig.h"
#include "sessiontakeover.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

// The session across the links to the agent, through the real window against
// an in-process agent: a link that ends under a request, timers of an old link
// that must not act on the next, and the session the agent already runs when
// a link comes up, taken over instead of doubled.
class TestSessionLink : public QObject
{
    Q_OBJECT

private slots:
    // Passwords left by other suites in the shared store would be restored
    // into this suite's profiles.
    void init() { secretStoreClearService(); }

    // The link ends while a request is in flight, by a drop or by a clean
    // close frame: the fixed text, the button disabled, the session down, the
    // ring stopped, the window back. Half a second later the link is up
    // again: Connect enabled, "config" then the probe on the new link, and
    // nothing of the old link's session.
    void linkEndStopsEverything_data()
    {
        QTest::addColumn<bool>("clean");
        QTest::addColumn<bool>("sessionUp");
        QTest::newRow("dropped while connecting") << false << false;
        QTest::newRow("closed while connecting") << true << false;
        QTest::newRow("dropped while disconnecting") << false << true;
        QTest::newRow("closed while disconnecting") << true << true;
    }
    void linkEndStopsEverything()
    {
        QFETCH(bool, clean);
        QFETCH(bool, sessionUp);
        Rig rig;
        QVERIFY(rig.start());
        if (sessionUp) {
            QVERIFY(rig.connectSession());
            rig.window->close(); // into the tray
            rig.tray()->disconnectAction()->trigger();
            QTRY_COMPARE(rig.count(QStringLiteral("disconnect")), 1);
        } else {
            QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
            QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
            rig.window->hide();
        }
        QVERIFY(rig.ring()->isRunning());
        // The agent has no session once the link is back.
        rig.agent.answer(QStringLiteral("status"), noSession());
        QSignalSpy closed(rig.window.get(), &Orvalin::vpnClosed);
        bool enabledWhenClosed = true;
        QString textWhenClosed;
        connect(rig.window.get(), &Orvalin::vpnClosed, rig.window.get(), [&] {
            enabledWhenClosed = rig.connectButton()->isEnabled();
            textWhenClosed = rig.label("statusBar")->text();
        });
        if (clean)
            rig.agent.closeClients();
        else
            rig.agent.dropClients();
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(!enabledWhenClosed);
        QVERIFY2(textWhenClosed.startsWith(QStringLiteral("无法连接到 tunwarden，请重新安装软件！")),
                 qPrintable(textWhenClosed));
        QVERIFY(!rig.ring()->isRunning());
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);

        QTRY_COMPARE_WITH_TIMEOUT(rig.agent.methodsOnLink(2),
                                  (QStringList{QStringLiteral("config"), QStringLiteral("status")}), 3000);
        QTRY_COMPARE(rig.label("statusBar")->text(), QStringLiteral("agent ready"));
        QVERIFY(rig.connectButton()->isEnabled());
        QVERIFY(!rig.session()->isSessionConnected());
        QTest::qWait(200);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(rig.agent.methodsOnLink(2), (QStringList{QStringLiteral("config"), QStringLiteral("status")}));
    }

    // Timers started on one link never act on the next: a "connect" still
    // unanswered when the link went, the 1.5 s wait before "reconnect", and
    // the 3 s wait after a refused one. The new link carries "config" and the
    // probe only.
    void oldLinkTimersStayBehind_data()
    {
        QTest::addColumn<QString>("pending");
        QTest::newRow("connect in flight") << QStringLiteral("connect");
        QTest::newRow("reconnect wait") << QStringLiteral("reconnect wait");
        QTest::newRow("wait after refused reconnect") << QStringLiteral("retry wait");
    }
    void oldLinkTimersStayBehind()
    {
        QFETCH(QString, pending);
        Rig rig;
        QVERIFY(rig.start());
        if (pending == QLatin1String("connect")) {
            QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
            QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        } else {
            QVERIFY(rig.connectSession());
            rig.agent.answer(QStringLiteral("status"), noSession());
            if (pending == QLatin1String("retry wait")) {
                rig.agent.answerError(QStringLiteral("reconnect"),
                                      QJsonObject{{QStringLiteral("message"), QStringLiteral("expired")}});
                rig.agent.push(6, QStringLiteral("connection lost"));
                QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 4000);
                QTRY_VERIFY(!rig.ring()->isRunning()); // refused: the 3 s wait runs
            } else {
                rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
                rig.agent.push(6, QStringLiteral("connection lost"));
                QTRY_VERIFY(!rig.session()->isSessionConnected()); // the 1.5 s wait runs
            }
        }
        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        rig.agent.dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(rig.agent.linkCount(), 2, 3000);
        QTest::qWait(3500); // past every wait of the old link
        QCOMPARE(rig.agent.methodsOnLink(2), (QStringList{QStringLiteral("config"), QStringLiteral("status")}));
        QVERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);
    }

    // The agent already runs a session when the link comes up (the client or
    // the agent restarted): the window shows it as its own session without a
    // "connect" and stays where it is, even with the minimise switch on. The
    // host is the gateway's address unless the last profile is known to be it.
    void takeOverRunningSession_data()
    {
        QTest::addColumn<QString>("profileHost");
        QTest::addColumn<QString>("history"); // the session this client last had up, if any
        QTest::addColumn<QString>("shownHost");
        QTest::addColumn<QString>("profile"); // whose session it is taken to be
        QTest::newRow("gateway unknown") << hostName << QString() << QStringLiteral("203.0.113.7") << QString();
        QTest::newRow("profile host is the gateway address")
            << QStringLiteral("203.0.113.7") << QString() << QStringLiteral("203.0.113.7") << QStringLiteral("office");
        QTest::newRow("history: same VPN address, not ended")
            << hostName << QStringLiteral("10.8.0.6") << hostName << QStringLiteral("office");
        QTest::newRow("history: that session ended")
            << hostName << QStringLiteral("10.8.0.6 ended") << QStringLiteral("203.0.113.7") << QString();
    }
    void takeOverRunningSession()
    {
        QFETCH(QString, profileHost);
        QFETCH(QString, history);
        QFETCH(QString, shownHost);
        QFETCH(QString, profile);
        Rig rig(true); // minimise on connect: must not apply
        QJsonObject office = rig.profiles()->profiles.value(QStringLiteral("office")).toObject();
        office.insert(QStringLiteral("host"), profileHost);
        rig.profiles()->profiles.insert(QStringLiteral("office"), office);
        if (!history.isEmpty()) {
            const QStringList parts = history.split(QLatin1Char(' '));
            QByteArray lines
                = QJsonDocument(QJsonObject{{QStringLiteral("time"), QStringLiteral("2026-01-05T09:00:00Z")},
                                            {QStringLiteral("event"), QStringLiteral("connected")},
                                            {QStringLiteral("profile"), QStringLiteral("office")},
                                            {QStringLiteral("host"), profileHost},
                                            {QStringLiteral("address"), parts.first()}})
                      .toJson(QJsonDocument::Compact)
                  + '\n';
            if (parts.size() > 1)
                lines += R"({"time":"2026-01-05T10:00:00Z","event":"disconnected","profile":"office"})"
                         "\n";
            rig.env.writeConfigFile(QStringLiteral("history.jsonl"), lines);
        }
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        QSignalSpy up(rig.window.get(), &Orvalin::vpnConnected);
        QVERIFY(rig.start());

        QTRY_VERIFY(rig.session()->isSessionConnected());
        QTRY_VERIFY(rig.detailsButton()->isEnabled());
        QCOMPARE(rig.count(QStringLiteral("connect")), 0);
        QCOMPARE(up.size(), 0);
        QTRY_COMPARE(rig.agent.methodsOnLink(1), (QStringList{QStringLiteral("config"), QStringLiteral("status"),
                                                              QStringLiteral("app.split.enabled")}));
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Disconnect"));
        QVERIFY(rig.connectButton()->isEnabled());
        QVERIFY(!rig.hostBox()->isEnabled() && !rig.otpField()->isEnabled());
        QVERIFY(!rig.child<QWidget>("buttonProfile")->isEnabled());
        QVERIFY(!rig.child<QWidget>("tabSetting")->isEnabled());
        QCOMPARE(rig.tray()->look(), TrayController::Look::Connected);
        QVERIFY(!rig.tray()->connectAction()->isEnabled());
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Connected);
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(), shownHost);
        QCOMPARE(rig.label("labelVPNAddress")->text(), QStringLiteral("10.8.0.6"));
        QCOMPARE(rig.label("labelMTU")->text(), QStringLiteral("1400"));
        auto *secured = rig.details()->findChild<QTableWidget *>(QStringLiteral("tableSecured"));
        QCOMPARE(tableRows(secured), (QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("192.168.1.0/24")}));
        QVERIFY(rig.session()->isStatusPolling());
        QTest::qWait(100);
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.window->isMinimized());
        QCOMPARE(rig.session()->sessionParameters().value(QLatin1String("host")).toString(),
                 profile.isEmpty() ? QString() : profileHost);
        const QJsonObject event = rig.session()->history().events().constLast();
        QCOMPARE(event.value(QLatin1String("event")).toString(), ConnectionHistory::takenOver);
        QCOMPARE(event.value(QLatin1String("host")).toString(), shownHost);
        QCOMPARE(event.value(QLatin1String("profile")).toString(), profile);
        QCOMPARE(event.value(QLatin1String("address")).toString(), QStringLiteral("10.8.0.6"));

        // Disconnect works as for any session.
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.count(QStringLiteral("disconnect")), 1);
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);
        QCOMPARE(rig.connectButton()->text(), QStringLiteral("Connect"));
    }

    // Whose session it is, from the status reply, the last profile and the
    // session this client last had up without seeing it end.
    void takeoverOwner_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("vpnAddress");
        QTest::addColumn<QString>("lastProfile");
        QTest::addColumn<QString>("profileHost");
        QTest::addColumn<QJsonObject>("previous");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("sinceKnown");

        const QJsonObject none;
        const auto previous = [](const char *profile, const char *host, const char *address) {
            return QJsonObject{{QStringLiteral("profile"), QLatin1String(profile)},
                               {QStringLiteral("host"), QLatin1String(host)},
                               {QStringLiteral("address"), QLatin1String(address)},
                               {QStringLiteral("time"), QStringLiteral("2026-01-05T09:00:00Z")}};
        };
        QTest::newRow("host name is the server, any case") << "GW.example.net"
                                                           << "10.8.0.6"
                                                           << "office"
                                                           << "gw.example.net" << none << "gw.example.net" << false;
        QTest::newRow("host address is the server") << "203.0.113.7"
                                                    << "10.8.0.6"
                                                    << "office"
                                                    << "203.0.113.7" << none << "203.0.113.7" << false;
        QTest::newRow("mapped address is the same") << "::ffff:203.0.113.7"
                                                    << "10.8.0.6"
                                                    << "office"
                                                    << "203.0.113.7" << none << "203.0.113.7" << false;
        QTest::newRow("name against an address") << "203.0.113.7"
                                                 << "10.8.0.6"
                                                 << "office"
                                                 << "vpn.example.net" << none << "203.0.113.7" << false;
        QTest::newRow("previous session, same VPN address")
            << "203.0.113.7"
            << "10.8.0.6"
            << "office"
            << "vpn.example.net" << previous("office", "vpn.example.net", "10.8.0.6") << "vpn.example.net" << true;
        QTest::newRow("previous session, other VPN address")
            << "203.0.113.7"
            << "10.8.0.6"
            << "office"
            << "vpn.example.net" << previous("office", "vpn.example.net", "10.8.0.9") << "203.0.113.7" << false;
        QTest::newRow("previous session of another profile")
            << "203.0.113.7"
            << "10.8.0.6"
            << "office"
            << "vpn.example.net" << previous("home", "vpn.example.net", "10.8.0.6") << "203.0.113.7" << false;
        QTest::newRow("profile's host edited since")
            << "203.0.113.7"
            << "10.8.0.6"
            << "office"
            << "vpn2.example.net" << previous("office", "vpn.example.net", "10.8.0.6") << "203.0.113.7" << false;
        QTest::newRow("no VPN address on either side")
            << "203.0.113.7"
            << ""
            << "office"
            << "vpn.example.net" << previous("office", "vpn.example.net", "") << "203.0.113.7" << false;
        QTest::newRow("no last profile") << "gw.example.net"
                                         << "10.8.0.6"
                                         << ""
                                         << "gw.example.net" << none << "gw.example.net" << false;
        QTest::newRow("no server address") << ""
                                           << "10.8.0.6"
                                           << "office"
                                           << "vpn.example.net" << none << "" << false;
    }
    void takeoverOwner()
    {
        QFETCH(QString, server);
        QFETCH(QString, vpnAddress);
        QFETCH(QString, lastProfile);
        QFETCH(QString, profileHost);
        QFETCH(QJsonObject, previous);
        QFETCH(QString, host);
        QFETCH(bool, sinceKnown);
        const QJsonObject status{{QStringLiteral("ServerAddress"), server}, {QStringLiteral("VPNAddress"), vpnAddress}};
        const SessionTakeover::Owner owner = SessionTakeover::identify(status, lastProfile, profileHost, previous);
        QCOMPARE(owner.host, host);
        QCOMPARE(owner.known, !lastProfile.isEmpty() && host == profileHost);
        QCOMPARE(owner.since.isValid(), sinceKnown);
        if (sinceKnown)
            QCOMPARE(owner.since, QDateTime(QDate(2026, 1, 5), QTime(9, 0), Qt::UTC));
    }

    // A session taken over without knowing its profile has no parameters of
    // a "connect" to resume: its loss leaves the window idle rather than
    // sending "reconnect" with nothing in it.
    void lostUnknownSessionIsNotResumed()
    {
        Rig rig;
        rig.agent.answer(QStringLiteral("status"), fullStatus());
        QVERIFY(rig.start());
        QTRY_VERIFY(rig.session()->isSessionConnected());
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTest::qWait(2000);
        QCOMPARE(rig.count(QStringLiteral("reconnect")), 0);
        QCOMPARE(rig.label("statusBar")->text(), QStringLiteral("connection lost"));
        QCOMPARE(rig.card()->status(), ConnectionStatusCard::Disconnected);
    }

    // The agent closes the link and opens again with the session still up
    // (a service restart that keeps the tunnel): the window finds its own
    // session, keeps the parameters of its "connect", and a later loss
    // resumes with them.
    void ownSessionBackAfterAgentRestart()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession(QStringLiteral("246810")));
        const QJsonObject parameters = rig.session()->sessionParameters();
        rig.agent.closeClients();
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTRY_VERIFY_WITH_TIMEOUT(rig.session()->isSessionConnected(), 3000);
        QTRY_VERIFY(rig.detailsButton()->isEnabled());
        QCOMPARE(rig.count(QStringLiteral("connect")), 1);
        QCOMPARE(rig.card()->findChild<QLabel *>(QStringLiteral("serverLabel"))->text(), hostName);
        QCOMPARE(rig.session()->sessionParameters(), parameters);
        const QStringList events = [&] {
            QStringList names;
            for (const QJsonObject &event : rig.session()->history().events())
                names << event.value(QLatin1String("event")).toString();
            return names;
        }();
        QCOMPARE(
            events.mid(events.indexOf(ConnectionHistory::linkLost)),
            (QStringList{ConnectionHistory::linkLost, ConnectionHistory::linkRestored, ConnectionHistory::takenOver}));

        rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 4000);
        QCOMPARE(rig.agent.requestsFor(QStringLiteral("reconnect")).constFirst().params, parameters);
    }

    // With "autoLogin" the last profile connects by itself, but only once the
    // agent has said it runs no session: a session it runs is taken over,
    // never doubled. The agent may also come up only after the client.
    void automaticConnectionWaitsForProbe_data()
    {
        QTest::addColumn<bool>("agentLate");
        QTest::addColumn<bool>("sessionRunning");
        QTest::newRow("probe late, no session") << false << false;
        QTest::newRow("probe late, session running") << false << true;
        QTest::newRow("agent late, no session") << true << false;
        QTest::newRow("agent late, session running") << true << true;
    }
    void automaticConnectionWaitsForProbe()
    {
        QFETCH(bool, agentLate);
        QFETCH(bool, sessionRunning);
        TestEnv env;
        env.writeConfigFile(QStringLiteral("profile.json"),
                            QJsonDocument(QJsonObject{{QStringLiteral("office"), officeProfile()}}).toJson());
        configManager->config.insert(QStringLiteral("autoLogin"), true);
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("office"));
        configManager->config.insert(QStringLiteral("minimize"), false);
        quint16 port = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        std::unique_ptr<FakeAgent> agent;
        auto startAgent = [&] {
            agent = std::make_unique<FakeAgent>(nullptr, port);
            agent->answer(QStringLiteral("config"), QStringLiteral("agent ready"));
            agent->answer(QStringLiteral("connect"), QStringLiteral("connected"));
            // The probe stays unanswered until the test answers it.
        };
        if (!agentLate)
            startAgent();
        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        window.findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        auto *session = window.findChild<SessionController *>();
        window.show();
        emit window.findChild<ProfileManager *>()->keyRestored(QStringLiteral("office"));
        QTest::qWait(900); // past the 500 ms
        if (agentLate) {
            QVERIFY(!session->isLinkUp());
            startAgent();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!agent->requestsFor(QStringLiteral("status")).isEmpty(), 4000);
        QTest::qWait(300);
        QCOMPARE(agent->requestsFor(QStringLiteral("connect")).size(), 0);

        agent->answer(QStringLiteral("status"), fullStatus());
        agent->push(0, sessionRunning ? fullStatus() : noSession());
        if (sessionRunning) {
            QTRY_VERIFY(session->isSessionConnected());
            QTest::qWait(700);
            QCOMPARE(agent->requestsFor(QStringLiteral("connect")).size(), 0);
        } else {
            QTRY_COMPARE(agent->requestsFor(QStringLiteral("connect")).size(), 1);
            QTRY_VERIFY(session->isSessionConnected());
        }
    }
};

QTEST_MAIN(TestSessionLink)
#include "tst_sessionlink.moc"
