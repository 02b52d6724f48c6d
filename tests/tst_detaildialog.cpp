#include "detaildialog.h"
#include "fakeagent.h"
#include "jsonrpcwebsocketclient.h"
#include "sessionformat.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QTranslator>

namespace {
// A detail dialog on the agent link, as the window sets it up.
struct LinkedDialog
{
    FakeAgent agent;
    QWidget window;
    JsonRpcWebSocketClient client{&window};
    TrafficStatistics statistics;
    DetailDialog dialog{&window, &statistics};
    QLabel *sentLabel = dialog.findChild<QLabel *>(QStringLiteral("labelBytesSent"));
    QLabel *receivedLabel = dialog.findChild<QLabel *>(QStringLiteral("labelBytesReceived"));

    LinkedDialog() { statistics.setClient(&client); }
    bool connectLink()
    {
        client.connectToServer(agent.url());
        return QTest::qWaitFor([this] { return client.isConnected(); });
    }
};
} // namespace

// The detail dialog: byte formatting, route parsing into the two tables, and
// "stat" polling against an in-process agent only while the dialog is open.
class TestDetailDialog : public QObject
{
    Q_OBJECT

private:
    static QStringList rows(QTableWidget *table)
    {
        QStringList out;
        for (int row = 0; row < table->rowCount(); ++row)
            out << table->item(row, 0)->text() + QLatin1Char('|') + table->item(row, 1)->text();
        return out;
    }

private slots:
    void formatBytes_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0.00 B");
        QTest::newRow("512") << 512.0 << QStringLiteral("512.00 B");
        QTest::newRow("999") << 999.0 << QStringLiteral("999.00 B");
        QTest::newRow("1000") << 1000.0 << QStringLiteral("1.00 KB");
        QTest::newRow("999999") << 999999.0 << QStringLiteral("1000.00 KB");
        QTest::newRow("1000000") << 1000000.0 << QStringLiteral("1.00 MB");
        QTest::newRow("1536000") << 1536000.0 << QStringLiteral("1.54 MB");
        QTest::newRow("1000000000") << 1000000000.0 << QStringLiteral("1.00 GB");
        QTest::newRow("5e12") << 5e12 << QStringLiteral("5000.00 GB");
    }
    void formatBytes()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(SessionFormat::formatBytes(bytes), text);
    }

    void parseRoute_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("prefix");
        QTest::newRow("host bits cleared") << QStringLiteral("10.1.2.3/8") << QStringLiteral("10.0.0.0") << 8;
        QTest::newRow("netmask") << QStringLiteral("192.168.1.0/255.255.255.0") << QStringLiteral("192.168.1.0") << 24;
        QTest::newRow("ipv6") << QStringLiteral("fd00:1::5/64") << QStringLiteral("fd00:1::") << 64;
        QTest::newRow("garbage") << QStringLiteral("not a route") << QString() << -1;
        QTest::newRow("empty") << QString() << QString() << -1;
        QTest::newRow("prefix too long") << QStringLiteral("10.0.0.0/33") << QString() << -1;
    }
    void parseRoute()
    {
        QFETCH(QString, entry);
        QFETCH(QString, address);
        QFETCH(int, prefix);
        const SessionFormat::Route route = SessionFormat::parseRoute(entry);
        QCOMPARE(route.address, address);
        QCOMPARE(route.prefix, prefix);
    }

    void formAndTables()
    {
        QWidget window;
        DetailDialog dialog(&window, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Statistics and Route Details"));
        QCOMPARE(dialog.size(), QSize(545, 413));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        for (const char *name : {"tableExcluded", "tableSecured"}) {
            auto *table = dialog.findChild<QTableWidget *>(QLatin1String(name));
            QVERIFY(table);
            QCOMPARE(table->columnCount(), 2);
            QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("Destination"));
            QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Prefix"));
            QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
            QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
            QCOMPARE(table->frameShape(), QFrame::NoFrame);
            QVERIFY(table->alternatingRowColors());
            QVERIFY(!table->showGrid());
            QVERIFY(table->verticalHeader()->isHidden());
            QVERIFY(!table->horizontalHeader()->isHidden());
            QVERIFY(table->horizontalHeader()->stretchLastSection());
            QVERIFY(!table->horizontalHeader()->cascadingSectionResizes());
            QVERIFY(!table->horizontalHeader()->highlightSections());
            QCOMPARE(table->horizontalHeader()->minimumSectionSize(), 110);
            QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 110);
        }
    }

    // The form's texts are looked up under "DetailDialog" in the catalogue.
    void chineseTexts()
    {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(&translator);
        QWidget window;
        DetailDialog dialog(&window, nullptr);
        QCoreApplication::removeTranslator(&translator);

        QCOMPARE(dialog.windowTitle(), QStringLiteral("流量统计和路由详情"));
        QStringList titles;
        for (QGroupBox *box : dialog.findChildren<QGroupBox *>())
            titles << box->title();
        titles.sort();
        QStringList expected{QStringLiteral("统计"), QStringLiteral("排除路由"), QStringLiteral("安全路由")};
        expected.sort();
        QCOMPARE(titles, expected);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("发送字节："));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("接收字节："));
        for (const char *name : {"tableExcluded", "tableSecured"}) {
            auto *table = dialog.findChild<QTableWidget *>(QLatin1String(name));
            QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("地址"));
            QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("前缀"));
        }
    }

    void routesReplaceEarlierConnection()
    {
        QWidget window;
        DetailDialog dialog(&window, nullptr);
        auto *excluded = dialog.findChild<QTableWidget *>(QStringLiteral("tableExcluded"));
        auto *secured = dialog.findChild<QTableWidget *>(QStringLiteral("tableSecured"));

        dialog.setRoutes(QJsonArray{QStringLiteral("10.1.2.3/8"), QStringLiteral("bogus")},
                         QJsonArray{QStringLiteral("192.168.1.0/255.255.255.0"), QStringLiteral("172.16.0.0/12"),
                                    QStringLiteral("0.0.0.0/0")});
        QCOMPARE(rows(excluded), (QStringList{QStringLiteral("10.0.0.0|8"), QStringLiteral("|-1")}));
        QCOMPARE(rows(secured), (QStringList{QStringLiteral("192.168.1.0|24"), QStringLiteral("172.16.0.0|12"),
                                             QStringLiteral("0.0.0.0|0")}));
        QVERIFY(!excluded->currentIndex().isValid());

        // Session ends, the next one brings fewer routes: no rows of the first remain.
        dialog.clearDetails();
        QCOMPARE(excluded->rowCount(), 0);
        QCOMPARE(secured->rowCount(), 0);
        dialog.setRoutes(QJsonArray(), QJsonArray{QStringLiteral("10.9.0.0/16")});
        QCOMPARE(rows(excluded), QStringList());
        QCOMPARE(rows(secured), QStringList{QStringLiteral("10.9.0.0|16")});
        // Even without a clear in between, a second call replaces the rows.
        dialog.setRoutes(QJsonArray{QStringLiteral("1.2.3.4/32")}, QJsonArray());
        QCOMPARE(rows(excluded), QStringList{QStringLiteral("1.2.3.4|32")});
        QCOMPARE(secured->rowCount(), 0);
    }

    void statPolledOnlyWhileOpen()
    {
        LinkedDialog linked;
        FakeAgent &agent = linked.agent;
        DetailDialog &dialog = linked.dialog;
        int sent = 0;
        agent.setResponder(QStringLiteral("stat"), [&sent](const FakeAgent::Request &) {
            ++sent;
            return std::optional<QJsonValue>(
                QJsonObject{{QStringLiteral("bytesSent"), 1536000 * sent}, {QStringLiteral("bytesReceived"), 999}});
        });
        QVERIFY(linked.connectLink());

        // Opened three times in one connection: still one request a second.
        for (int round = 0; round < 3; ++round) {
            const int before = agent.requestsFor(QStringLiteral("stat")).size();
            dialog.show();
            QTest::qWait(400);
            QCOMPARE(agent.requestsFor(QStringLiteral("stat")).size(), before); // first tick after a second
            QTest::qWait(1800);
            const int during = agent.requestsFor(QStringLiteral("stat")).size() - before;
            QVERIFY2(during >= 1 && during <= 2, qPrintable(QString::number(during)));
            if (round == 1)
                QTest::keyClick(&dialog, Qt::Key_Escape); // Escape hides without a close event
            else
                dialog.close();
            QVERIFY(dialog.isHidden());
            const int afterClose = agent.requestsFor(QStringLiteral("stat")).size();
            QTest::qWait(1300);
            QCOMPARE(agent.requestsFor(QStringLiteral("stat")).size(), afterClose);
        }
        QCOMPARE(agent.requestsFor(QStringLiteral("stat")).constFirst().id, 7);
        QCOMPARE(agent.requestsFor(QStringLiteral("stat")).constFirst().params, QJsonObject());
        QTRY_VERIFY(linked.sentLabel->text().endsWith(QLatin1String(" MB")));
        QCOMPARE(linked.receivedLabel->text(), QStringLiteral("999.00 B"));
    }

    void statRepliesRead_data()
    {
        QTest::addColumn<QJsonObject>("reply");
        QTest::addColumn<QString>("sentText");
        QTest::addColumn<QString>("receivedText");
        QTest::newRow("counters") << QJsonObject{{QStringLiteral("bytesSent"), 2048},
                                                 {QStringLiteral("bytesReceived"), 1000000000.0}}
                                  << QStringLiteral("2.05 KB") << QStringLiteral("1.00 GB");
        QTest::newRow("missing sent") << QJsonObject{{QStringLiteral("bytesReceived"), 12}} << QStringLiteral("0.00 B")
                                      << QStringLiteral("12.00 B");
        QTest::newRow("error reply ignored")
            << QJsonObject{{QStringLiteral("code"), 1}, {QStringLiteral("bytesSent"), 5}} << QStringLiteral("kept")
            << QStringLiteral("kept");
    }
    void statRepliesRead()
    {
        QFETCH(QJsonObject, reply);
        QFETCH(QString, sentText);
        QFETCH(QString, receivedText);
        LinkedDialog linked;
        FakeAgent &agent = linked.agent;
        DetailDialog &dialog = linked.dialog;
        QLabel *sentLabel = linked.sentLabel;
        QLabel *receivedLabel = linked.receivedLabel;
        agent.answer(QStringLiteral("stat"), reply);
        QVERIFY(linked.connectLink());
        sentLabel->setText(QStringLiteral("kept"));
        receivedLabel->setText(QStringLiteral("kept"));

        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(!agent.requestsFor(QStringLiteral("stat")).isEmpty(), 3000);
        QTest::qWait(200);
        QCOMPARE(sentLabel->text(), sentText);
        QCOMPARE(receivedLabel->text(), receivedText);
        dialog.close();

        dialog.clearDetails();
        QVERIFY(sentLabel->text().isEmpty());
        QVERIFY(receivedLabel->text().isEmpty());
    }

    void noLinkNoRequest()
    {
        // The link was up (the dialog polls), then the agent dropped it while
        // still listening: nothing reaches it any more, not even by a new link.
        LinkedDialog linked;
        linked.agent.answer(QStringLiteral("stat"), QJsonObject{{QStringLiteral("bytesSent"), 1}});
        QVERIFY(linked.connectLink());
        linked.dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(!linked.agent.requestsFor(QStringLiteral("stat")).isEmpty(), 3000);
        linked.agent.dropClients();
        QTRY_VERIFY(!linked.client.isConnected());
        const qsizetype before = linked.agent.requests.size();
        QTest::qWait(2300); // two poll intervals
        QCOMPARE(linked.agent.requests.size(), before);
        QCOMPARE(linked.agent.clientCount(), 0);
    }
};

QTEST_MAIN(TestDetailDialog)
#include "tst_detaildialog.moc"
