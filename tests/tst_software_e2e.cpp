#include "orvalin.h"
#include "simulatorprocess.h"
#include "softwaretab.h"
#include "testenv.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

// The software tab of the real window against the agent simulator: a folder's
// program is added, reported, counted among the user's reports, and the split
// rules are fetched on "刷新".
class TestSoftwareEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void reportAgainstSimulator()
    {
        QProcess simulator;
        const quint16 port = startSimulator(simulator);
        QVERIFY2(port, "simulator printed its port");

        TestEnv env;
        QTemporaryDir folder;
        {
            QFile program(folder.filePath(QStringLiteral("tool")));
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write("#!/bin/sh\nexit 0\n");
            program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
        }

        Orvalin window;
        window.setAgentUrl(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
        window.show();
        auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
        const QString notice = statusBar->text();
        QTRY_VERIFY_WITH_TIMEOUT(statusBar->text() != notice && !statusBar->text().isEmpty(), 5000);
        window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))
            ->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("tabSoftwareManagement")));
        auto button = [&](const char *name) { return window.findChild<QPushButton *>(QLatin1String(name)); };

        window.findChild<SoftwareTab *>()->setDirectoryChooser([&] { return folder.path(); });
        QTest::mouseClick(button("btnSelectDirectory"), Qt::LeftButton);
        QTRY_COMPARE(statusBar->text(), QStringLiteral("已添加 1 个软件"));
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("tableWidgetSoftware"));
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("tool"));

        table->selectRow(0);
        QTest::mouseClick(button("btnReportSoftware"), Qt::LeftButton);
        QTRY_COMPARE(statusBar->text(), QStringLiteral("软件上报成功: 已收到 1 个软件"));

        QTest::mouseClick(button("btnMyReports"), Qt::LeftButton);
        QTRY_COMPARE(statusBar->text(), QStringLiteral("收到 1 条上报记录"));

        window.findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"))->setCurrentIndex(1);
        QTest::mouseClick(button("btnRefreshRules"), Qt::LeftButton);
        QTRY_COMPARE(statusBar->text(), QStringLiteral("收到 3 条分流规则"));
        auto *rules = window.findChild<QTableWidget *>(QStringLiteral("tableWidgetRoutingRules"));
        QCOMPARE(rules->rowCount(), 3);
        for (int row = 0; row < rules->rowCount(); ++row) {
            QVERIFY(!rules->item(row, 0)->text().isEmpty());
            QCOMPARE(rules->item(row, 3)->text(), QStringLiteral("已启用"));
        }

        simulator.terminate();
        simulator.waitForFinished(3000);
    }
};

QTEST_MAIN(TestSoftwareEndToEnd)
#include "tst_software_e2e.moc"
