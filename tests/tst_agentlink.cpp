#include "agentlink.h"
#include "agentlinknotice.h"
#include "fakeagent.h"
#include "jsonrpcwebsocketclient.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTranslator>

// The link's own life against real sockets: the schedule of its tries, a try
// that hangs, and a link that comes back through the same client.
namespace {

// Accepts every connection and, unless told to stay silent, closes it at
// once, so each try of the link fails in its handshake; keeps when each came.
class Listener : public QTcpServer
{
public:
    explicit Listener(bool silentListener = false)
        : silent(silentListener)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                arrivals.append(clock.elapsed());
                if (silent)
                    held.append(socket);
                else
                    socket->abort();
            }
        });
        clock.start();
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(serverPort())); }

    QList<qint64> arrivals;
    QElapsedTimer clock;

private:
    bool silent;
    QList<QTcpSocket *> held;
};

} // namespace

class TestAgentLink : public QObject
{
    Q_OBJECT

private slots:
    void retryDelays_data()
    {
        QTest::addColumn<int>("failedRetries");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("after the loss") << 0 << 500;
        QTest::newRow("first retry failed") << 1 << 1000;
        QTest::newRow("second failed") << 2 << 2000;
        QTest::newRow("third failed") << 3 << 4000;
        QTest::newRow("fourth failed") << 4 << 5000;
        QTest::newRow("long after") << 500 << 5000;
    }
    void retryDelays()
    {
        QFETCH(int, failedRetries);
        QFETCH(int, delayMs);
        QCOMPARE(AgentLink::retryDelayMs(failedRetries), delayMs);
    }

    // The status line while the link is down: the fixed text, or the
    // identity refusal, and when the next try comes, in both languages.
    void noticeText_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        const QString failed = QStringLiteral("无法连接到 tunwarden，请重新安装软件！");
        QTest::newRow("not reached, English") << false << false << 4 << failed + QStringLiteral(" (retry in 4 s)");
        QTest::newRow("trying, English") << false << false << 0 << failed + QStringLiteral(" (retrying…)");
        QTest::newRow("refused, English")
            << false << true << 5
            << QStringLiteral("tunwarden identity check failed, please contact your administrator (retry in 5 s)");
        QTest::newRow("not reached, Chinese") << true << false << 4 << failed + QStringLiteral("（4 秒后重试）");
        QTest::newRow("trying, Chinese") << true << false << 0 << failed + QStringLiteral("（正在重试…）");
        QTest::newRow("refused, Chinese")
            << true << true << 1 << QStringLiteral("tunwarden 身份校验失败，请联系管理员（1 秒后重试）");
    }
    void noticeText()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, refused);
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QTranslator translator;
        if (chinese) {
            QVERIFY(translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("orvalin"),
                                    QStringLiteral("_"), QStringLiteral(":/i18n"), QString()));
            QVERIFY(QCoreApplication::installTranslator(&translator));
        }
        const QString shown = AgentLinkNotice::text(refused, seconds);
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(shown, text);
    }

    // One try per interval and no more: the gaps between the tries that
    // reach a listener follow 0.5 s, 1 s, 2 s, 4 s, 5 s. The loss is told
    // once; every later failure is only a failed retry.
    void scheduleOfTries()
    {
        Listener listener;
        JsonRpcWebSocketClient client;
        AgentLink link(&client);
        QSignalSpy down(&link, &AgentLink::linkDown);
        QSignalSpy retryFailed(&link, &AgentLink::retryFailed);
        QSignalSpy up(&link, &AgentLink::linkUp);
        link.open(listener.url());
        QTRY_VERIFY_WITH_TIMEOUT(listener.arrivals.size() >= 6, 15000);
        // A moment after the sixth: nothing more comes early.
        QTest::qWait(1000);
        QCOMPARE(listener.arrivals.size(), 6);
        const int expected[] = {500, 1000, 2000, 4000, 5000};
        for (int i = 0; i < 5; ++i) {
            const qint64 gap = listener.arrivals.at(i + 1) - listener.arrivals.at(i);
            // Coarse timers may fire up to 5 % early, which lets the machine
            // bundle its wake-ups; a busy loop would show gaps near zero.
            QVERIFY2(gap >= expected[i] * 95 / 100 - 50 && gap <= expected[i] + 600,
                     qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
        }
        QCOMPARE(down.size(), 1);
        QCOMPARE(down.first().first().toBool(), false); // never up
        QCOMPARE(retryFailed.size(), 5);
        QVERIFY(up.isEmpty());
        QCOMPARE(link.retryCount(), 5);
        QCOMPARE(link.state(), AgentLink::State::Waiting);
        QVERIFY(link.msUntilNextAttempt() > 0 && link.msUntilNextAttempt() <= 5000);
        QCOMPARE(link.epoch(), quint64(0));
    }

    // A listener that takes the connection and never answers the handshake
    // would hold the link in its try for good.
    void hangingTryGivesWay()
    {
        Listener listener(true);
        JsonRpcWebSocketClient client;
        AgentLink link(&client);
        link.setAttemptTimeout(700);
        QSignalSpy down(&link, &AgentLink::linkDown);
        link.open(listener.url());
        QTRY_COMPARE(listener.arrivals.size(), 1);
        QCOMPARE(link.state(), AgentLink::State::Connecting);
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, 3000);
        QCOMPARE(link.state(), AgentLink::State::Waiting);
        // The given-up try does not come up late; the next try is made.
        QTRY_COMPARE_WITH_TIMEOUT(listener.arrivals.size(), 2, 3000);
        QVERIFY(listener.arrivals.at(1) >= (700 + 500) * 95 / 100 - 50);
    }

    // The agent drops the link, or closes it as a stopping service does: the
    // same client links again half a second later; the epoch tells the links
    // apart, and a request of the new link carries the handler registered once.
    void linkComesBack_data()
    {
        QTest::addColumn<bool>("clean");
        QTest::newRow("dropped") << false;
        QTest::newRow("closed") << true;
    }
    void linkComesBack()
    {
        QFETCH(bool, clean);
        FakeAgent agent;
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        JsonRpcWebSocketClient client;
        QList<QJsonValue> pushes;
        client.registerCallback(6, [&pushes](const QJsonValue &value) { pushes.append(value); });
        AgentLink link(&client);
        QSignalSpy up(&link, &AgentLink::linkUp);
        QSignalSpy down(&link, &AgentLink::linkDown);
        link.open(agent.url());
        QTRY_COMPARE(up.size(), 1);
        const quint64 firstEpoch = link.epoch();

        QElapsedTimer clock;
        clock.start();
        if (clean)
            agent.closeClients();
        else
            agent.dropClients();
        QTRY_COMPARE(down.size(), 1);
        QCOMPARE(down.first().first().toBool(), true);
        QVERIFY(!client.isConnected());
        QVERIFY(link.epoch() > firstEpoch);
        const quint64 downEpoch = link.epoch();

        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 2, 3000);
        QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(link.epoch() > downEpoch);
        QCOMPARE(link.restoredCount(), 1);
        QCOMPARE(link.retryCount(), 0);
        QCOMPARE(agent.linkCount(), 2);
        QCOMPARE(down.size(), 1);

        QList<QJsonValue> replies;
        client.sendRequest(QStringLiteral("status"), 0, [&replies](const QJsonValue &value) { replies.append(value); });
        QTRY_COMPARE(replies.size(), 1);
        QCOMPARE(agent.methodsOnLink(2), QStringList{QStringLiteral("status")});
        agent.push(6, QStringLiteral("lost"));
        QTRY_COMPARE(pushes.size(), 1);
    }
};

QTEST_MAIN(TestAgentLink)
#include "tst_agentlink.moc"
