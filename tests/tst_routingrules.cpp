#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "jsonrpcwebsocketclient.h"
#include "orvalin.h"
#include "sessioncontroller.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

QJsonObject rule(const QString &name, const QString &process, const QString &signer)
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("process_name"), process},
                       {QStringLiteral("digital_signer"), signer},
                       {QStringLiteral("action"), QStringLiteral("tunnel")}};
}

// Each row as "name|process|signer|state", top to bottom as shown.
QStringList shownRows(const QTableWidget *table)
{
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem *item = table->item(row, column);
            cells << (item ? item->text() : QStringLiteral("<none>"));
        }
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

} // namespace

class TestRoutingRules : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // First, so the ids are the process's first ones.
    void everyConnectionFetchesTheRules();
    void answers_data();
    void answers();
    void sortedTableKeepsEachRuleInOneRow();
    void refreshSendsARequest();
    void refreshWithTheLinkDown();

private:
    // With `withTab`, the software tab's content is built at once, as when
    // the user has opened it.
    void startWindow(bool withTab = true);
    // Answers "app.split.enabled" with these values in turn.
    void answerInTurn(const QList<QJsonValue> &values);
    void refresh();
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QTableWidget *table() const { return child<QTableWidget>("tableWidgetRoutingRules"); }
    QString statusText() const { return child<QLabel>("statusBar")->text(); }
    int requestCount() const { return int(agent->requestsFor(QStringLiteral("app.split.enabled")).size()); }

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<Orvalin> window;
};

void TestRoutingRules::init()
{
    env = std::make_unique<TestEnv>();
    agent = std::make_unique<FakeAgent>();
    agent->answer(QStringLiteral("config"), QStringLiteral("agent ready"));
}

void TestRoutingRules::cleanup()
{
    window.reset();
    agent.reset();
    env.reset();
}

void TestRoutingRules::startWindow(bool withTab)
{
    window = std::make_unique<Orvalin>();
    window->setAgentUrl(agent->url());
    window->show();
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("config")).size(), 1);
    if (withTab)
        window->software();
}

void TestRoutingRules::answerInTurn(const QList<QJsonValue> &values)
{
    auto next = std::make_shared<int>(0);
    agent->setResponder(QStringLiteral("app.split.enabled"), [values, next](const FakeAgent::Request &) {
        return std::optional<QJsonValue>(values.value((*next)++, QJsonValue(QJsonArray())));
    });
}

void TestRoutingRules::refresh()
{
    const int before = requestCount();
    QTest::mouseClick(child<QPushButton>("btnRefreshRules"), Qt::LeftButton);
    QTRY_COMPARE(requestCount(), before + 1);
}

void TestRoutingRules::everyConnectionFetchesTheRules()
{
    env->writeConfigFile(
        QStringLiteral("profile.json"),
        QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                   QJsonObject{{QStringLiteral("host"), QStringLiteral("vpn.example.net")}}}})
            .toJson());
    configManager->config.insert(QStringLiteral("minimize"), false);
    agent->answer(QStringLiteral("connect"), QStringLiteral("connected to vpn.example.net"));
    agent->answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("code"), 1}});
    answerInTurn({QJsonArray{rule("web", "chrome.exe", "Google LLC"), rule("mail", "outlook.exe", "Microsoft")},
                  QJsonObject{{QStringLiteral("rules"), QJsonArray{rule("chat", "teams.exe", "Microsoft")}}}});
    startWindow(false);
    auto *session = window->findChild<SessionController *>();
    QVERIFY(session);
    // The tab's content is built once it is needed: here, when the rules come.
    QVERIFY(!table());

    QTest::mouseClick(child<QPushButton>("buttonConnect"), Qt::LeftButton);
    QTRY_COMPARE(requestCount(), 1);
    QCOMPARE(agent->requestsFor(QStringLiteral("app.split.enabled")).at(0).id, 3000);
    QCOMPARE(agent->requestsFor(QStringLiteral("app.split.enabled")).at(0).params, QJsonObject());
    // The count replaces what the connection showed before the answer came.
    QTRY_COMPARE(statusText(), QStringLiteral("收到 2 条分流规则"));
    QTRY_COMPARE(table()->rowCount(), 2);
    QStringList first = shownRows(table());
    first.sort();
    QCOMPARE(first, (QStringList{"mail|outlook.exe|Microsoft|已启用", "web|chrome.exe|Google LLC|已启用"}));

    // The session ends; the table keeps the rules until the next answer.
    agent->push(3, QStringLiteral("session closed"));
    QTRY_VERIFY(!session->isSessionConnected());
    QCOMPARE(table()->rowCount(), 2);

    QTest::mouseClick(child<QPushButton>("buttonConnect"), Qt::LeftButton);
    QTRY_COMPARE(requestCount(), 2);
    QCOMPARE(agent->requestsFor(QStringLiteral("app.split.enabled")).at(1).id, 3001);
    QTRY_COMPARE(statusText(), QStringLiteral("收到 1 条分流规则"));
    QCOMPARE(shownRows(table()), QStringList{"chat|teams.exe|Microsoft|已启用"});
}

void TestRoutingRules::answers_data()
{
    QTest::addColumn<QJsonValue>("answer");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("status");

    const QString kept = QStringLiteral("<kept>");
    QTest::newRow("empty array") << QJsonValue(QJsonArray()) << QStringList() << QStringLiteral("收到 0 条分流规则");
    QTest::newRow("rules not an array") << QJsonValue(QJsonObject{{QStringLiteral("rules"), QStringLiteral("none")}})
                                        << QStringList() << QStringLiteral("收到 0 条分流规则");
    QTest::newRow("elements that are no objects")
        << QJsonValue(QJsonArray{5, QStringLiteral("web"), QJsonValue::Null,
                                 QJsonObject{{QStringLiteral("name"), QStringLiteral("only name")}}})
        << QStringList{"|||已启用", "|||已启用", "|||已启用", "only name|||已启用"}
        << QStringLiteral("收到 4 条分流规则");
    QTest::newRow("object without rules")
        << QJsonValue(QJsonObject{{QStringLiteral("code"), 2}}) << QStringList{kept} << kept;
    QTest::newRow("string") << QJsonValue(QStringLiteral("disabled")) << QStringList{kept} << kept;
}

void TestRoutingRules::answers()
{
    QFETCH(QJsonValue, answer);
    QFETCH(QStringList, rows);
    QFETCH(QString, status);

    // The table starts from one rule, so emptying it shows.
    answerInTurn({QJsonArray{rule("old", "old.exe", "Old Corp")}, answer});
    startWindow();
    refresh();
    QTRY_COMPARE(table()->rowCount(), 1);
    const QStringList before = shownRows(table());

    refresh();
    // Let the answer in, whatever it leads to.
    QTest::qWait(100);
    if (status == QLatin1String("<kept>")) {
        // Read as nothing: the table and the refresh's own text stay.
        QCOMPARE(shownRows(table()), before);
        QCOMPARE(statusText(), QStringLiteral("正在获取分流规则..."));
        return;
    }
    QTRY_COMPARE(statusText(), status);
    QStringList shown = shownRows(table());
    shown.sort();
    rows.sort();
    QCOMPARE(shown, rows);
}

void TestRoutingRules::sortedTableKeepsEachRuleInOneRow()
{
    const QJsonArray rules{rule("b-rule", "z.exe", "Signer A"), rule("c-rule", "x.exe", "Signer C"),
                           rule("a-rule", "y.exe", "Signer B"), rule("d-rule", "w.exe", "Signer D")};
    answerInTurn({rules});
    startWindow();
    table()->sortItems(1, Qt::AscendingOrder);
    refresh();
    QTRY_COMPARE(table()->rowCount(), 4);

    // Every row is one rule, and the rows follow the chosen column.
    QCOMPARE(shownRows(table()), (QStringList{"d-rule|w.exe|Signer D|已启用", "c-rule|x.exe|Signer C|已启用",
                                              "a-rule|y.exe|Signer B|已启用", "b-rule|z.exe|Signer A|已启用"}));
    QVERIFY(table()->isSortingEnabled());
}

void TestRoutingRules::refreshSendsARequest()
{
    // No answer yet: the request is out and the user sees it is.
    startWindow();
    refresh();
    QCOMPARE(statusText(), QStringLiteral("正在获取分流规则..."));
    const FakeAgent::Request request = agent->requestsFor(QStringLiteral("app.split.enabled")).last();
    QVERIFY(request.id >= 3000 && request.id < 4000);
    QCOMPARE(request.params, QJsonObject());

    // Later answers to that id are shown by the same handler.
    agent->push(request.id, QJsonArray{rule("late", "late.exe", "Late Ltd")});
    QTRY_COMPARE(statusText(), QStringLiteral("收到 1 条分流规则"));
    QCOMPARE(shownRows(table()), QStringList{"late|late.exe|Late Ltd|已启用"});
}

void TestRoutingRules::refreshWithTheLinkDown()
{
    startWindow();
    auto *client = window->findChild<JsonRpcWebSocketClient *>();
    QVERIFY(client && client->isConnected());
    agent->dropClients();
    QTRY_VERIFY(!client->isConnected());
    const int before = requestCount();

    QTest::mouseClick(child<QPushButton>("btnRefreshRules"), Qt::LeftButton);
    QCOMPARE(statusText(), QStringLiteral("未连接到服务端，无法获取分流规则"));
    QTest::qWait(50);
    QCOMPARE(requestCount(), before);
}

QTEST_MAIN(TestRoutingRules)
#include "tst_routingrules.moc"
