#include "appglobals.h"
#include "commandchannel.h"
#include "commandhandler.h"
#include "configmanager.h"
#include "detaildialog.h"
#include "fakeagent.h"
#include "instancecommand.h"
#include "instanceprotocol.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <memory>

using InstanceCommand::Action;
using InstanceCommand::Command;
using InstanceCommand::Outcome;
using InstanceCommand::Reply;
namespace Reason = InstanceCommand::Reason;

// The commands of other starts as the running window carries them out: on
// the real window and its session, against an in-process agent.
namespace {

QJsonObject noSession()
{
    return QJsonObject{{QStringLiteral("code"), 1}, {QStringLiteral("message"), QStringLiteral("no session")}};
}

QJsonObject sessionStatus()
{
    return QJsonObject{{QStringLiteral("ServerAddress"), QStringLiteral("203.0.113.7")},
                       {QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.6")}};
}

Command connectTo(const QString &profile, const QString &otp = QString(), bool wait = false)
{
    Command command;
    command.action = Action::Connect;
    command.profile = profile;
    command.oneTimePassword = otp;
    command.wait = wait;
    return command;
}

Command plain(Action action, bool wait = false)
{
    Command command;
    command.action = action;
    command.wait = wait;
    return command;
}

// The window with the profiles "office" and "home", its agent, and what the
// commands it runs answer.
struct Rig
{
    Rig()
    {
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.net")},
                                                   {QStringLiteral("username"), QStringLiteral("alice")}}},
                                      {QStringLiteral("home"),
                                       QJsonObject{{QStringLiteral("host"), QStringLiteral("home.example.org")}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), false);
        agent.answer(QStringLiteral("config"), QStringLiteral("agent ready"));
        agent.answer(QStringLiteral("status"), noSession());
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        window->findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
    }
    bool start()
    {
        window->show();
        return QTest::qWaitFor([this] { return session()->isAgentSessionKnown(); }, 5000);
    }
    // Runs a command; its replies land in `replies`.
    void run(const Command &command, QObject *requester = nullptr)
    {
        handler()->run(command, requester ? requester : &owner, [this](const Reply &reply) { replies << reply; });
    }
    // The final reply, once it came.
    std::optional<Reply> final(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([this] { return !replies.isEmpty(); }, timeoutMs))
            return std::nullopt;
        return replies.takeFirst();
    }
    bool connectSession()
    {
        agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        agent.answer(QStringLiteral("status"), sessionStatus());
        run(connectTo(QStringLiteral("office"), QString(), true));
        const std::optional<Reply> reply = final();
        return reply && reply->outcome == Outcome::Done;
    }
    int count(const QString &method) const { return int(agent.requestsFor(method).size()); }
    CommandHandler *handler() const { return window->commandHandler(); }
    SessionController *session() const { return window->findChild<SessionController *>(); }
    QComboBox *hostBox() const { return window->findChild<QComboBox *>(QStringLiteral("comboBoxHost")); }

    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<Orvalin> window;
    QObject owner;
    QList<Reply> replies;
};

} // namespace

class TestCommandHandler : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }

    // Idle, connected with the counters asked once, and the agent gone.
    void status()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.run(plain(Action::Status));
        std::optional<Reply> reply = rig.final();
        QVERIFY(reply && reply->status);
        QCOMPARE(reply->status->toJson(), (QJsonObject{{QStringLiteral("state"), QStringLiteral("idle")}}));

        rig.agent.answer(QStringLiteral("stat"),
                         QJsonObject{{QStringLiteral("bytesSent"), 1234}, {QStringLiteral("bytesReceived"), 5678}});
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(rig.connectSession());
        rig.run(plain(Action::Status));
        reply = rig.final();
        QVERIFY(reply && reply->status);
        const InstanceCommand::Status status = *reply->status;
        QCOMPARE(status.state, QStringLiteral("connected"));
        QCOMPARE(status.profile, QStringLiteral("office"));
        QCOMPARE(status.host, QStringLiteral("vpn.example.net"));
        QCOMPARE(status.vpnAddress, QStringLiteral("10.8.0.6"));
        QCOMPARE(status.bytesSent, 1234);
        QCOMPARE(status.bytesReceived, 5678);
        const QDateTime since = QDateTime::fromString(status.since, Qt::ISODate);
        QVERIFY2(since >= before && since <= QDateTime::currentDateTime(), qPrintable(status.since));
        QCOMPARE(since.offsetFromUtc(), QDateTime::currentDateTime().offsetFromUtc());
        QCOMPARE(rig.count(QStringLiteral("stat")), 1);
        // The counters have one reader: the detail dialog, opened after the
        // command asked, still shows the agent's figures.
        auto *details = rig.window->details();
        details->show();
        QTRY_COMPARE(details->findChild<QLabel *>(QStringLiteral("labelBytesSent"))->text(), QStringLiteral("1.23 KB"));
        details->hide();

        rig.agent.closeClients();
        QTRY_VERIFY(!rig.session()->isLinkUp());
        rig.run(plain(Action::Status));
        reply = rig.final();
        QVERIFY(reply && reply->status);
        QCOMPARE(reply->status->state, QStringLiteral("agent-unreachable"));
        QVERIFY(reply->status->profile.isEmpty());
    }

    // The window's own checks refuse what its buttons would not do; nothing
    // goes to the agent.
    void connectRefusedByTheWindow_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("named");
        QTest::newRow("no such profile") << "idle"
                                         << "nosuch" << Reason::noSuchProfile << "nosuch";
        QTest::newRow("a session up") << "connected"
                                      << "home" << Reason::sessionUp << "office";
        QTest::newRow("an attempt under way") << "connecting"
                                              << "home" << Reason::busy << QString();
        QTest::newRow("agent not reachable") << "link down"
                                             << "office" << Reason::agentUnreachable << QString();
    }
    void connectRefusedByTheWindow()
    {
        QFETCH(QString, situation);
        QFETCH(QString, profile);
        QFETCH(QString, reason);
        QFETCH(QString, named);
        Rig rig;
        QVERIFY(rig.start());
        if (situation == QLatin1String("connected")) {
            QVERIFY(rig.connectSession());
        } else if (situation == QLatin1String("connecting")) {
            rig.run(connectTo(QStringLiteral("office")));
            QVERIFY(rig.final());
            QCOMPARE(rig.session()->state(), SessionController::State::Connecting);
            QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        } else if (situation == QLatin1String("link down")) {
            rig.agent.closeClients();
            QTRY_VERIFY(!rig.session()->isLinkUp());
        }
        const int connects = rig.count(QStringLiteral("connect"));
        const QString selected = rig.hostBox()->currentText();
        rig.run(connectTo(profile, QStringLiteral("123456"), true));
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(reply->outcome, Outcome::Refused);
        QCOMPARE(reply->reason, reason);
        QCOMPARE(reply->profile, named);
        QTest::qWait(100);
        QCOMPARE(rig.count(QStringLiteral("connect")), connects);
        QCOMPARE(rig.hostBox()->currentText(), selected);
        QCOMPARE(rig.handler()->pendingCount(), 0);
    }

    // --connect --wait: the profile is picked and Connect pressed with the
    // one-time password; the outcome comes from the session.
    void connectWaitsForTheOutcome_data()
    {
        QTest::addColumn<QString>("agentDoes");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("text");
        QTest::newRow("connects") << "connect" << int(Outcome::Done) << "10.8.0.6";
        QTest::newRow("refuses") << "refuse" << int(Outcome::Refused) << "Bad OTP";
        QTest::newRow("never answers") << "nothing" << int(Outcome::TimedOut) << QString();
    }
    void connectWaitsForTheOutcome()
    {
        QFETCH(QString, agentDoes);
        QFETCH(int, outcome);
        QFETCH(QString, text);
        Rig rig;
        QVERIFY(rig.start());
        QCOMPARE(rig.hostBox()->currentText(), QStringLiteral("home"));
        rig.handler()->setWaitLimit(1500);
        if (agentDoes == QLatin1String("connect")) {
            rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
            rig.agent.answer(QStringLiteral("status"), sessionStatus());
        } else if (agentDoes == QLatin1String("refuse")) {
            rig.agent.answerError(QStringLiteral("connect"), QJsonObject{{QStringLiteral("message"), text}});
        }
        QString boxText;
        if (agentDoes == QLatin1String("refuse"))
            closeNextModalBox(&boxText);
        rig.run(connectTo(QStringLiteral("office"), QStringLiteral("654321"), true));
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(int(reply->outcome), outcome);
        QCOMPARE(agentDoes == QLatin1String("connect") ? reply->vpnAddress : reply->message, text);
        // The window shows what was connected, as after a button press.
        QCOMPARE(rig.hostBox()->currentText(), QStringLiteral("office"));
        const QList<FakeAgent::Request> connects = rig.agent.requestsFor(QStringLiteral("connect"));
        QCOMPARE(connects.size(), 1);
        QCOMPARE(connects.constFirst().params.value(QLatin1String("password")).toString(), QStringLiteral("654321"));
        QCOMPARE(connects.constFirst().params.value(QLatin1String("host")).toString(),
                 QStringLiteral("vpn.example.net"));
        if (agentDoes == QLatin1String("refuse"))
            QTRY_COMPARE(boxText, text);
        QCOMPARE(rig.handler()->pendingCount(), 0);
    }

    void disconnect_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("wait");
        QTest::addColumn<int>("outcome");
        QTest::newRow("no session") << false << true << int(Outcome::Refused);
        QTest::newRow("sent") << true << false << int(Outcome::Done);
        QTest::newRow("waited for") << true << true << int(Outcome::Done);
    }
    void disconnect()
    {
        QFETCH(bool, connected);
        QFETCH(bool, wait);
        QFETCH(int, outcome);
        Rig rig;
        QVERIFY(rig.start());
        if (connected)
            QVERIFY(rig.connectSession());
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        rig.run(plain(Action::Disconnect, wait));
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(int(reply->outcome), outcome);
        QTRY_COMPARE(rig.count(QStringLiteral("disconnect")), connected ? 1 : 0);
        if (!connected)
            QCOMPARE(reply->reason, Reason::noSession);
        // Waiting, the reply came once the session was down.
        if (wait && connected)
            QCOMPARE(rig.session()->state(), SessionController::State::Idle);
    }

    // A refusal's box still open when a later command connects is stale: it
    // goes, as the user would not find it over a connected window.
    void refusalBoxGoesWhenConnected()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.agent.answerError(QStringLiteral("connect"),
                              QJsonObject{{QStringLiteral("message"), QStringLiteral("Bad OTP")}});
        rig.run(connectTo(QStringLiteral("office"), QStringLiteral("1"), true));
        std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(reply->reason, Reason::agentRefused);
        // While the box waits for the user, the command of another start.
        bool boxWasOpen = false;
        QTimer::singleShot(300, rig.window.get(), [&] {
            boxWasOpen = QApplication::activeModalWidget() != nullptr;
            rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
            rig.agent.answer(QStringLiteral("status"), sessionStatus());
            rig.run(connectTo(QStringLiteral("office"), QStringLiteral("2"), true));
        });
        // Without the mend the box would stay; this keeps the test from hanging in it.
        bool leftOpen = false;
        QTimer::singleShot(5000, rig.window.get(), [&] {
            if (QWidget *box = QApplication::activeModalWidget()) {
                leftOpen = true;
                box->close();
            }
        });
        QVERIFY(rig.final(8000));
        QVERIFY(boxWasOpen);
        QVERIFY(!leftOpen);
        QVERIFY(rig.session()->isSessionConnected());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // --show brings a window hidden in the tray back, as the tray's entry does.
    void showBringsTheWindowBack()
    {
        Rig rig;
        QVERIFY(rig.start());
        rig.window->hide();
        rig.run(plain(Action::Show));
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(reply->outcome, Outcome::Done);
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.window->isMinimized());
    }

    // A command that comes while the window is still starting waits for its
    // link and the agent's answer whether it runs a session.
    void commandBeforeTheLinkIsUp()
    {
        Rig rig;
        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        rig.agent.answer(QStringLiteral("status"), noSession());
        rig.run(connectTo(QStringLiteral("office")));
        QTest::qWait(100);
        QVERIFY(rig.replies.isEmpty());
        rig.window->show();
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        QCOMPARE(reply->outcome, Outcome::Done);
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        // "connect" went after the probe had found no session.
        QStringList methods;
        for (const FakeAgent::Request &request : std::as_const(rig.agent.requests))
            methods << request.method;
        QVERIFY2(methods.indexOf(QStringLiteral("status")) < methods.indexOf(QStringLiteral("connect")),
                 qPrintable(methods.join(QLatin1Char(' '))));
    }

    // The sender hangs up while its command waits: nothing is answered, and
    // the session goes on.
    // Passwords not kept (the administrator's policy): the window asks for
    // one as for its own Connect button. A cancel sends nothing and is the
    // command's outcome; a requester gone while the prompt is up ends quietly.
    void connectAsksForThePassword_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("types it") << "types";
        QTest::newRow("cancels") << "cancels";
        QTest::newRow("requester goes") << "goes";
    }
    void connectAsksForThePassword()
    {
        QFETCH(QString, user);
        Rig rig;
        QVERIFY(rig.start());
        auto requester = std::make_unique<QObject>();
        QStringList asked;
        rig.session()->setPasswordPrompt([&](const QString &profile) -> std::optional<QString> {
            asked << profile;
            if (user == QLatin1String("goes")) {
                requester.reset();
                QTest::qWait(50);
            }
            if (user == QLatin1String("types"))
                return QStringLiteral("s3cret");
            return std::nullopt;
        });
        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        rig.agent.answer(QStringLiteral("status"), sessionStatus());
        rig.run(connectTo(QStringLiteral("office"), QStringLiteral("654321"), true), requester.get());
        QTRY_COMPARE(asked, QStringList{QStringLiteral("office")});
        if (user == QLatin1String("goes")) {
            QTest::qWait(100);
            QVERIFY(rig.replies.isEmpty());
            QCOMPARE(rig.handler()->pendingCount(), 0);
            QCOMPARE(rig.count(QStringLiteral("connect")), 0);
            return;
        }
        const std::optional<Reply> reply = rig.final();
        QVERIFY(reply);
        if (user == QLatin1String("cancels")) {
            QCOMPARE(int(reply->outcome), int(Outcome::Refused));
            QCOMPARE(reply->reason, Reason::cancelled);
            QTest::qWait(100);
            QCOMPARE(rig.count(QStringLiteral("connect")), 0);
        } else {
            QCOMPARE(int(reply->outcome), int(Outcome::Done));
            const QList<FakeAgent::Request> connects = rig.agent.requestsFor(QStringLiteral("connect"));
            QCOMPARE(connects.size(), 1);
            QCOMPARE(connects.constFirst().params.value(QLatin1String("password")).toString(),
                     QStringLiteral("s3cret654321"));
        }
        QCOMPARE(rig.handler()->pendingCount(), 0);
    }

    void requesterGoneWhileWaiting()
    {
        Rig rig;
        QVERIFY(rig.start());
        auto requester = std::make_unique<QObject>();
        rig.run(connectTo(QStringLiteral("office"), QString(), true), requester.get());
        QTRY_COMPARE(rig.count(QStringLiteral("connect")), 1);
        QCOMPARE(rig.handler()->pendingCount(), 1);
        requester.reset();
        QTRY_COMPARE(rig.handler()->pendingCount(), 0);
        rig.agent.answer(QStringLiteral("status"), sessionStatus());
        rig.agent.push(2, QStringLiteral("connected"));
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QTest::qWait(100);
        QVERIFY(rig.replies.isEmpty());
    }

    // From another process: accepted first, then the outcome; something that
    // is not a command gets a usage reply.
    void overTheChannel_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QList<int>>("outcomes");
        QTest::newRow("profiles") << QByteArray(R"({"command":"profiles"})")
                                  << QList<int>{int(Outcome::Accepted), int(Outcome::Done)};
        QTest::newRow("not a command") << QByteArray(R"({"command":"format","disk":"C:"})")
                                       << QList<int>{int(Outcome::Usage)};
    }
    void overTheChannel()
    {
        QFETCH(QByteArray, command);
        QFETCH(QList<int>, outcomes);
        Rig rig;
        QVERIFY(rig.start());
        QLocalServer server;
        QVERIFY(server.listen(QUuid::createUuid().toString(QUuid::WithoutBraces)));
        QLocalSocket sender;
        sender.connectToServer(server.fullServerName());
        QVERIFY(server.waitForNewConnection(5000));
        QLocalSocket *receiver = server.nextPendingConnection();
        QVERIFY(sender.waitForConnected(5000));
        rig.handler()->takeCommand(command, new CommandChannel(receiver));

        QList<int> received;
        QByteArray bytes;
        std::optional<Reply> last;
        QVERIFY(QTest::qWaitFor(
            [&] {
                bytes += sender.readAll();
                while (bytes.size() >= 8) {
                    const qint64 length = InstanceProtocol::decodeFrameHeader(bytes.constData());
                    if (bytes.size() < 8 + length)
                        break;
                    last = InstanceCommand::decodeReply(bytes.mid(8, length));
                    bytes.remove(0, 8 + length);
                    received << (last ? int(last->outcome) : -1);
                }
                return received.size() >= outcomes.size();
            },
            5000));
        QCOMPARE(received, outcomes);
        if (last->outcome == Outcome::Done)
            QCOMPARE(last->profiles, (QStringList{QStringLiteral("home"), QStringLiteral("office")}));
    }
};

QTEST_MAIN(TestCommandHandler)
#include "tst_commandhandler.moc"
