#include "appglobals.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "fakeagent.h"
#include "historydialog.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The connection history: the file (appending, the bound, damaged lines),
// what a session through the agent writes into it, and the dialog that shows it.
namespace {

const QString hostName = QStringLiteral("vpn.example.net");
const QString storedPassword = QStringLiteral("pw-office-1");
const QString oneTimePassword = QStringLiteral("918273");

QStringList eventNames(const QList<QJsonObject> &events)
{
    QStringList names;
    for (const QJsonObject &event : events)
        names << event.value(QLatin1String("event")).toString();
    return names;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

// A window on its own fake agent with the profile "office", and a clock the
// test moves by hand.
struct Rig
{
    Rig()
    {
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), hostName},
                                                   {QStringLiteral("username"), QStringLiteral("alice")}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), false);
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("office"));
        agent.answer(QStringLiteral("config"), QStringLiteral("agent ready"));
        // No session yet when the link comes up.
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        window->findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
        session()->history().setClock([this] { return now; });
    }

    bool start()
    {
        window->show();
        if (!QTest::qWaitFor([this] { return !agent.requestsFor(QStringLiteral("status")).isEmpty(); }, 5000))
            return false;
        QJsonObject profile = profiles()->profiles.value(QStringLiteral("office")).toObject();
        profile.insert(QStringLiteral("password"), storedPassword);
        profiles()->profiles.insert(QStringLiteral("office"), profile);
        return true;
    }

    bool connectSession()
    {
        agent.answer(QStringLiteral("connect"), QStringLiteral("connected to vpn.example.net"));
        agent.answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("VPNAddress"), QStringLiteral("10.8.0.6")}});
        window->findChild<QLineEdit *>(QStringLiteral("lineEditOTP"))->setText(oneTimePassword);
        QTest::mouseClick(button("buttonConnect"), Qt::LeftButton);
        return waitUp();
    }

    bool waitUp()
    {
        return QTest::qWaitFor(
            [this] { return session()->isSessionConnected() && button("buttonDetails")->isEnabled(); }, 8000);
    }

    QPushButton *button(const char *name) const { return window->findChild<QPushButton *>(QLatin1String(name)); }
    SessionController *session() const { return window->findChild<SessionController *>(); }
    ProfileManager *profiles() const { return window->findChild<ProfileManager *>(); }
    int count(const QString &method) const { return int(agent.requestsFor(method).size()); }
    QList<QJsonObject> events() const
    {
        return ConnectionHistory(env.configFile(QStringLiteral("history.jsonl"))).events();
    }

    TestEnv env;
    FakeAgent agent;
    QDateTime now = QDateTime(QDate(2026, 3, 10), QTime(9, 0));
    std::unique_ptr<Orvalin> window;
};

QJsonObject historyEvent(const QString &name, const QDateTime &time, const QJsonObject &fields = QJsonObject())
{
    QJsonObject out = fields;
    out.insert(QStringLiteral("event"), name);
    out.insert(QStringLiteral("time"), time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate));
    return out;
}

// Clicks the button with this text in the next message box.
void answerNextBox(const QString &buttonText)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText) {
                button->click();
                timer->deleteLater();
                return;
            }
        }
    });
    timer->start(20);
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }

    // A full file moves aside whole, in one rename; an event is one append and
    // never a rewrite of the history, however many came before.
    void boundedAtMaxEvents()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.jsonl"));
        const int total = 2 * ConnectionHistory::maxEvents + 3;
        {
            ConnectionHistory history(path);
            QCOMPARE(history.previousPath(), path + QStringLiteral(".1"));
            for (int i = 0; i < total; ++i) {
                const QByteArray before = readAll(path);
                QVERIFY(history.record(ConnectionHistory::connectRequested, QJsonObject{{QStringLiteral("n"), i}}));
                const QByteArray after = readAll(path);
                const bool movedAside = (i + 1) % ConnectionHistory::maxEvents == 0;
                const QByteArray grown = movedAside ? readAll(history.previousPath()) : after;
                QVERIFY2(grown.startsWith(before) && grown.count('\n') == before.count('\n') + 1,
                         qPrintable(QString::number(i)));
                QVERIFY(!movedAside || after.isEmpty());
            }
        }
        QCOMPARE(fileLines(path).size(), 3);
        QCOMPARE(fileLines(path + QStringLiteral(".1")).size(), ConnectionHistory::maxEvents);

        // A later run counts what the file holds before its first append.
        ConnectionHistory later(path);
        QVERIFY(later.record(ConnectionHistory::connected, QJsonObject{{QStringLiteral("n"), total}}));
        QCOMPARE(fileLines(path).size(), 4);
        const QList<QJsonObject> events = later.events();
        QCOMPARE(events.size(), ConnectionHistory::maxEvents);
        QCOMPARE(events.constFirst().value(QLatin1String("n")).toInt(), total + 1 - ConnectionHistory::maxEvents);
        QCOMPARE(events.constLast().value(QLatin1String("n")).toInt(), total);

        QVERIFY(later.clear());
        QVERIFY(!QFile::exists(path) && !QFile::exists(path + QStringLiteral(".1")));
        QVERIFY(later.events().isEmpty());
    }

    // A file written by an earlier version, longer than the bound, moves
    // aside at the first event; the history shows its newest events.
    void longerFileFromBefore()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.jsonl"));
        QByteArray lines;
        for (int i = 0; i < 1500; ++i)
            lines += R"({"time":"2026-03-10T08:00:00+01:00","event":"connect","n":)" + QByteArray::number(i) + "}\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size());
        file.close();

        ConnectionHistory history(path);
        QVERIFY(history.record(ConnectionHistory::connected, QJsonObject{{QStringLiteral("n"), 1500}}));
        QVERIFY(!QFile::exists(path));
        const QList<QJsonObject> events = history.events();
        QCOMPARE(events.size(), ConnectionHistory::maxEvents);
        QCOMPARE(events.constFirst().value(QLatin1String("n")).toInt(), 501);
        QCOMPARE(events.constLast().value(QLatin1String("n")).toInt(), 1500);
    }

    // The agent decides how long its messages are; the history keeps about
    // a kilobyte of each, also of one an earlier version stored whole.
    void agentTextKeptUpToItsBound()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.jsonl"));
        const QString huge = QStringLiteral("连接丢失🇨🇳").repeated(30000);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("time"), QStringLiteral("2026-03-10T08:00:00+01:00")},
                                             {QStringLiteral("event"), ConnectionHistory::lost},
                                             {QStringLiteral("message"), huge}})
                       .toJson(QJsonDocument::Compact)
                   + '\n');
        file.close();

        ConnectionHistory history(path);
        QVERIFY(history.record(ConnectionHistory::refused, QJsonObject{{QStringLiteral("message"), huge}}));
        const QList<QByteArray> lines = fileLines(path);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.constLast().size() < 1200, qPrintable(QString::number(lines.constLast().size())));
        for (const QJsonObject &event : history.events()) {
            const QString kept = event.value(QLatin1String("message")).toString();
            QVERIFY(kept.toUtf8().size() <= 1024 && kept.size() > 300);
            QVERIFY(kept.endsWith(QChar(0x2026)) && kept.isValidUtf16());
            QVERIFY(huge.startsWith(kept.chopped(1)));
        }
    }

    void damagedLinesSkipped_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray good1 = R"({"time":"2026-03-10T08:00:00+01:00","event":"connect","profile":"a"})";
        const QByteArray good2 = R"({"time":"2026-03-10T08:00:05+01:00","event":"connected","profile":"a"})";
        QTest::newRow("garbage between") << good1 + "\n\x01{not json\n" + good2 + "\n";
        QTest::newRow("not an object") << good1 + "\n[1,2]\n" + good2 + "\n";
        QTest::newRow("no event or time")
            << good1 + "\n{\"profile\":\"a\"}\n{\"event\":\"lost\",\"time\":\"yesterday\"}\n" + good2 + "\n";
        QTest::newRow("cut-off last line") << good1 + "\n" + good2 + "\n{\"time\":\"2026-03-10T08:01";
    }
    void damagedLinesSkipped()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.jsonl"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        ConnectionHistory history(path);
        QCOMPARE(eventNames(history.events()), (QStringList{QStringLiteral("connect"), QStringLiteral("connected")}));
        // An append after a damaged end starts a line of its own and is read back.
        QVERIFY(
            history.record(ConnectionHistory::lost, QJsonObject{{QStringLiteral("message"), QStringLiteral("gone")}}));
        const QList<QJsonObject> events = history.events();
        QCOMPARE(eventNames(events),
                 (QStringList{QStringLiteral("connect"), QStringLiteral("connected"), QStringLiteral("lost")}));
        QCOMPARE(events.constLast().value(QLatin1String("message")).toString(), QStringLiteral("gone"));
    }

    // A session through the agent: connected, lost, resumed, ended by the user.
    void sessionWithLossAndReconnect()
    {
        Rig rig;
        QVERIFY(rig.start());
        const QDateTime start = rig.now;
        QVERIFY(rig.connectSession());

        rig.now = start.addSecs(90);
        rig.agent.answer(QStringLiteral("reconnect"), QStringLiteral("reconnected"));
        rig.agent.push(6, QStringLiteral("connection lost"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("reconnect")), 1, 5000);
        QVERIFY(rig.waitUp());

        rig.now = start.addSecs(90 + 30);
        rig.agent.answer(QStringLiteral("disconnect"), QStringLiteral("disconnected"));
        QTest::mouseClick(rig.button("buttonConnect"), Qt::LeftButton);
        QTRY_VERIFY(!rig.session()->isSessionConnected());

        const QList<QJsonObject> events = rig.events();
        QCOMPARE(eventNames(events), (QStringList{QStringLiteral("connect"), QStringLiteral("connected"),
                                                  QStringLiteral("lost"), QStringLiteral("reconnect"),
                                                  QStringLiteral("reconnected"), QStringLiteral("disconnected")}));
        for (const QJsonObject &event : events) {
            QCOMPARE(event.value(QLatin1String("profile")).toString(), QStringLiteral("office"));
            QCOMPARE(event.value(QLatin1String("host")).toString(), hostName);
        }
        QCOMPARE(events.at(1).value(QLatin1String("address")).toString(), QStringLiteral("10.8.0.6"));
        QCOMPARE(ConnectionHistory::eventTime(events.at(1)), start);
        QCOMPARE(events.at(2).value(QLatin1String("message")).toString(), QStringLiteral("connection lost"));
        QCOMPARE(events.at(2).value(QLatin1String("duration")).toInteger(), 90);
        QCOMPARE(ConnectionHistory::eventTime(events.at(4)), start.addSecs(90));
        QCOMPARE(events.at(5).value(QLatin1String("duration")).toInteger(), 30);
        QVERIFY(!events.at(3).contains(QLatin1String("duration")));

        // Neither the password nor the one-time password is recorded.
        const QByteArray raw = rig.env.readConfigFile(QStringLiteral("history.jsonl"));
        QVERIFY(!raw.contains(storedPassword.toUtf8()));
        QVERIFY(!raw.contains(oneTimePassword.toUtf8()));
        QVERIFY(!raw.contains("password"));
    }

    void sessionEndings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("refused") << "refused" << QStringList{"connect", "refused"};
        QTest::newRow("closed by the server") << "closed" << QStringList{"connect", "connected", "closed"};
        // The agent closes the link and opens again, its session still up.
        QTest::newRow("agent link lost") << "link"
                                         << QStringList{"connect", "connected", "link-lost", "link-restored",
                                                        "taken-over"};
        QTest::newRow("reconnect refused")
            << "reconnect-refused"
            << QStringList{"connect", "connected", "lost", "reconnect", "reconnect-refused", "connect", "connected"};
    }
    void sessionEndings()
    {
        QFETCH(QString, ending);
        QFETCH(QStringList, expected);
        Rig rig;
        QVERIFY(rig.start());
        const QJsonObject refusal{{QStringLiteral("message"), QStringLiteral("Bad OTP")}};
        if (ending == QLatin1String("refused")) {
            rig.agent.answerError(QStringLiteral("connect"), refusal);
            QString boxText;
            closeNextModalBox(&boxText);
            QTest::mouseClick(rig.button("buttonConnect"), Qt::LeftButton);
            QTRY_COMPARE(boxText, QStringLiteral("Bad OTP"));
        } else {
            QVERIFY(rig.connectSession());
            rig.now = rig.now.addSecs(600);
            if (ending == QLatin1String("closed")) {
                rig.agent.push(3, QStringLiteral("session ended by the administrator"));
            } else if (ending == QLatin1String("link")) {
                rig.agent.closeClients();
            } else {
                rig.agent.answerError(QStringLiteral("reconnect"), refusal);
                rig.agent.push(6, QStringLiteral("connection lost"));
                QTRY_COMPARE_WITH_TIMEOUT(rig.count(QStringLiteral("connect")), 2, 8000);
                QVERIFY(rig.waitUp());
            }
        }
        QTRY_COMPARE(eventNames(rig.events()), expected);
        const QList<QJsonObject> events = rig.events();
        if (ending == QLatin1String("refused") || ending == QLatin1String("reconnect-refused"))
            QCOMPARE(events.at(expected.indexOf(ending)).value(QLatin1String("message")).toString(),
                     QStringLiteral("Bad OTP"));
        else
            QCOMPARE(events
                         .at(expected.indexOf(ending == QLatin1String("link") ? QStringLiteral("link-lost")
                                                                              : expected.constLast()))
                         .value(QLatin1String("duration"))
                         .toInteger(),
                     600);
    }

    void dialogNewestFirstWithSummary()
    {
        QTemporaryDir dir;
        ConnectionHistory history(dir.filePath(QStringLiteral("history.jsonl")));
        const QDateTime now(QDate(2026, 3, 10), QTime(12, 0));
        history.setClock([now] { return now; });
        const QJsonObject office{{QStringLiteral("profile"), QStringLiteral("office")},
                                 {QStringLiteral("host"), hostName}};
        auto with = [&](QJsonObject fields) {
            for (auto it = office.begin(); it != office.end(); ++it)
                fields.insert(it.key(), it.value());
            return fields;
        };
        const QList<QJsonObject> written{
            // Began 25 hours ago, lost 23 hours ago: one hour of it falls in the last day.
            historyEvent("connected", now.addSecs(-25 * 3600), office),
            historyEvent("lost", now.addSecs(-23 * 3600), with({{"duration", 7200}, {"message", "link down"}})),
            historyEvent("connect", now.addSecs(-3 * 3600 - 5), office),
            historyEvent("connected", now.addSecs(-3 * 3600), with({{"address", "10.8.0.6"}})),
            historyEvent("disconnected", now.addSecs(-2 * 3600), with({{"duration", 3600}})),
            // Still up: counts until now.
            historyEvent("connected", now.addSecs(-1800), office),
        };
        QFile file(history.path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QJsonObject &entry : written)
            file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
        file.close();

        HistoryDialog dialog(&history, nullptr);
        dialog.show();
        auto *summary = dialog.findChild<QLabel *>(QStringLiteral("labelHistorySummary"));
        QCOMPARE(summary->text(), QStringLiteral("Last 24 hours: sessions 2, connected 2:30:00, losses 1"));

        auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("tableWidgetHistory"));
        QCOMPARE(table->rowCount(), written.size());
        auto cell = [table](int row, int column) { return table->item(row, column)->text(); };
        QCOMPARE(cell(0, 0), now.addSecs(-1800).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        QCOMPARE(cell(0, 1), QStringLiteral("Connected"));
        QCOMPARE(cell(0, 3), QString());
        QCOMPARE(cell(1, 1), QStringLiteral("Disconnected"));
        QCOMPARE(cell(1, 2), QStringLiteral("office (vpn.example.net)"));
        QCOMPARE(cell(1, 3), QStringLiteral("1:00:00"));
        QCOMPARE(cell(2, 1), QStringLiteral("Connected (10.8.0.6)"));
        QCOMPARE(cell(4, 1), QStringLiteral("Connection lost (link down)"));
        QCOMPARE(cell(4, 3), QStringLiteral("2:00:00"));
        QCOMPARE(cell(5, 0), now.addSecs(-25 * 3600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }

    void clearAsksFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("confirmed") << "Clear" << true;
        QTest::newRow("cancelled") << "Cancel" << false;
    }
    void clearAsksFirst()
    {
        QFETCH(QString, answer);
        QFETCH(bool, emptied);
        QTemporaryDir dir;
        ConnectionHistory history(dir.filePath(QStringLiteral("history.jsonl")));
        QVERIFY(
            history.record(ConnectionHistory::connectRequested, QJsonObject{{QStringLiteral("profile"), "office"}}));
        HistoryDialog dialog(&history, nullptr);
        dialog.show();
        auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("tableWidgetHistory"));
        QCOMPARE(table->rowCount(), 1);

        answerNextBox(answer);
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("buttonClearHistory")), Qt::LeftButton);
        QCOMPARE(history.events().isEmpty(), emptied);
        QCOMPARE(table->rowCount(), emptied ? 0 : 1);
        // Recording goes on after a clear.
        QVERIFY(history.record(ConnectionHistory::connected));
        QCOMPARE(history.events().size(), emptied ? 1 : 2);
    }

    // The Status tab's button opens the dialog over the window.
    void buttonOpensDialog()
    {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.connectSession());
        QStringList newest;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<HistoryDialog *>(QApplication::activeModalWidget()));
            auto *shown = qobject_cast<HistoryDialog *>(QApplication::activeModalWidget());
            auto *table = shown->findChild<QTableWidget *>(QStringLiteral("tableWidgetHistory"));
            for (int row = 0; row < table->rowCount(); ++row)
                newest << table->item(row, 1)->text();
            shown->accept();
        });
        QTest::mouseClick(rig.button("buttonHistory"), Qt::LeftButton);
        QCOMPARE(newest, (QStringList{QStringLiteral("Connected (10.8.0.6)"), QStringLiteral("Connect requested")}));
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
