#include "appscanner.h"
#include "boundedlabel.h"
#include "fakeagent.h"
#include "jsonrpcwebsocketclient.h"
#include "orvalin.h"
#include "softwarepickdialog.h"
#include "softwaretab.h"
#include "testenv.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

SoftwareInfo record(const QString &name, const QString &publisher, const QString &executablePath,
                    const QString &processName, const QString &signer, const QString &ports = QString())
{
    SoftwareInfo info;
    info.name = name;
    info.version = QStringLiteral("1.0");
    info.publisher = publisher;
    info.installPath = executablePath.section(QLatin1Char('/'), 0, -2);
    info.executablePath = executablePath;
    info.uninstallString = QStringLiteral("remove ") + name;
    info.installDate = QStringLiteral("2024-03-05");
    info.fileSize = executablePath.isEmpty() ? 0 : 4096;
    info.digitalSigner = signer;
    info.processName = processName;
    info.portList = ports;
    return info;
}

// Installed software: every record carries the machine's listening ports.
QList<SoftwareInfo> installedFixture()
{
    const QString ports = QStringLiteral("22,631");
    return {record("Notepad Plus", "Notepad Team", "/opt/npp/npp", "npp", "Notepad Team", ports),
            record("archive tool", "Zed Soft", QString(), "arc", QString(), ports),
            record("Browser", "Alpha Inc", "/opt/browser/browser", QString(), "Alpha Inc", ports)};
}

QList<SoftwareInfo> processFixture()
{
    return {record("sshd", QString(), "/usr/sbin/sshd", "sshd", QString()),
            record("bash", QString(), "/usr/bin/bash", "bash", QString())};
}

QStringList names(const QList<SoftwareInfo> &list)
{
    QStringList out;
    for (const SoftwareInfo &info : list)
        out << info.name;
    return out;
}

// Runs `act` on the tick-list dialog once it is open, from the dialog's own loop.
void onNextPickDialog(std::function<void(SoftwarePickDialog *)> act)
{
    auto *timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (auto *dialog = qobject_cast<SoftwarePickDialog *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            act(dialog);
        } else if (++*tries > 250) {
            timer->deleteLater();
        }
    });
    timer->start(20);
}

// Writes a file of `size` bytes (executable when asked); its digests.
QPair<QString, QString> writeFile(const QString &path, int size, bool executable)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + path.size()) & 0xff);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return {};
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return {QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()),
            QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())};
}

// A Debian package database under `root` with `count` packages, each with one
// program on disk.
bool writePackageDatabase(const QString &root, int count)
{
    const QString info = root + QStringLiteral("/var/lib/dpkg/info/");
    if (!QDir().mkpath(info) || !QDir().mkpath(root + QStringLiteral("/usr/bin")))
        return false;
    QByteArray status;
    for (int i = 0; i < count; ++i) {
        const QByteArray name = "pkg" + QByteArray::number(i);
        status += "Package: " + name + "\nStatus: install ok installed\nArchitecture: all\nVersion: 1."
                  + QByteArray::number(i) + "\nMaintainer: Team " + name + " <team@example.org>\n\n";
        QFile list(info + QString::fromLatin1(name) + QStringLiteral(".list"));
        if (!list.open(QIODevice::WriteOnly))
            return false;
        list.write("/.\n/usr\n/usr/bin\n/usr/bin/" + name + "\n");
        if (writeFile(root + QStringLiteral("/usr/bin/") + QString::fromLatin1(name), 64, true).first.isEmpty())
            return false;
    }
    QFile file(root + QStringLiteral("/var/lib/dpkg/status"));
    return file.open(QIODevice::WriteOnly) && file.write(status) == status.size();
}

const QStringList reportKeys{"name",         "version",   "publisher",     "install_path",     "executable_path",
                             "install_date", "file_size", "file_hash_md5", "file_hash_sha256", "digital_signer",
                             "process_name", "port_list", "network_info"};

} // namespace

class TestSoftwareTab : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void matchStatus_data();
    void matchStatus();
    void threeCellsOfOneRowReportOneRecord();
    void sortedRowsLeadToTheirOwnRecords();
    void portListsFollowTheScan();
    void processScansAppendAndInstalledScanReplaces();
    void directoryResults_data();
    void directoryResults();
    void reportPreconditions_data();
    void reportPreconditions();
    void submitResults_data();
    void submitResults();
    void myReports();
    void searchHidesRowsAndHiddenRowsAreNotReported();
    void digestsGoIntoTheRecordTheRowShows();
    void hashProgressShowsTheFileNameAsItIs_data();
    void hashProgressShowsTheFileNameAsItIs();
    void selectionStaysOnItsRecords_data();
    void selectionStaysOnItsRecords();
    void recordsAddedDuringAnInstalledScanStay();
    void directoryScanOfRealFiles();
    void installedScanKeepsTheWindowResponsive();
    void closingWaitsForRunningScans();

private:
    void startWindow();
    void fill(const QList<SoftwareInfo> &installed);
    int rowOf(const QString &name) const;
    void selectCells(int row, const QList<int> &columns);
    void doubleClickRow(int row);
    QList<QJsonObject> reportAndWait();
    template<typename T>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QTableWidget *table() const { return child<QTableWidget>("tableWidgetSoftware"); }
    // The status line's text as set; what it shows may be wrapped to its width.
    BoundedLabel *statusBar() const { return child<BoundedLabel>("statusBar"); }
    SoftwareTab *tab() const { return window->findChild<SoftwareTab *>(); }
    int submitCount() const { return int(agent->requestsFor(QStringLiteral("app.report.submit")).size()); }

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<Orvalin> window;
};

void TestSoftwareTab::init()
{
    env = std::make_unique<TestEnv>();
    agent = std::make_unique<FakeAgent>();
    agent->answer(QStringLiteral("config"), QStringLiteral("agent ready"));
    startWindow();
}

void TestSoftwareTab::cleanup()
{
    window.reset();
    agent.reset();
    env.reset();
}

void TestSoftwareTab::startWindow()
{
    window = std::make_unique<Orvalin>();
    window->setAgentUrl(agent->url());
    window->show();
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("config")).size(), 1);
    // The reply to "config" writes the status line too; a later one would
    // overwrite what a test reads there.
    QTRY_COMPARE(statusBar()->text(), QStringLiteral("agent ready"));
    // On screen, so clicks reach the table and its buttons; showing the tab
    // builds its content.
    QVERIFY(!tab());
    child<QTabWidget>("tabWidget")->setCurrentWidget(child<QWidget>("tabSoftwareManagement"));
    QVERIFY(tab());
}

// The installed-software result as the scanner delivers it.
void TestSoftwareTab::fill(const QList<SoftwareInfo> &installed)
{
    emit tab()->scanner()->scanFinished(installed);
    QCOMPARE(table()->rowCount(), int(installed.size()));
}

int TestSoftwareTab::rowOf(const QString &name) const
{
    for (int row = 0; row < table()->rowCount(); ++row) {
        if (table()->item(row, 0) && table()->item(row, 0)->text() == name)
            return row;
    }
    return -1;
}

void TestSoftwareTab::selectCells(int row, const QList<int> &columns)
{
    table()->clearSelection();
    for (int column : columns)
        table()->selectionModel()->select(table()->model()->index(row, column), QItemSelectionModel::Select);
}

void TestSoftwareTab::doubleClickRow(int row)
{
    table()->scrollToItem(table()->item(row, 1));
    const QPoint where = table()->visualItemRect(table()->item(row, 1)).center();
    // The first click of a double-click presses the cell; the view wants that.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, where);
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, where);
}

// Presses "上报选中" and returns the "software_list" of the request it sends.
QList<QJsonObject> TestSoftwareTab::reportAndWait()
{
    const int before = submitCount();
    QTest::mouseClick(child<QPushButton>("btnReportSoftware"), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return submitCount() == before + 1; }, 5000))
        return {};
    const FakeAgent::Request request = agent->requestsFor(QStringLiteral("app.report.submit")).last();
    QList<QJsonObject> list;
    for (const QJsonValue &value : request.params.value(QLatin1String("software_list")).toArray())
        list << value.toObject();
    return list;
}

void TestSoftwareTab::matchStatus_data()
{
    QTest::addColumn<QString>("process");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("complete") << "a"
                              << "Signer"
                              << "/bin/a" << QStringLiteral("完整") << QColor(Qt::darkGreen);
    QTest::newRow("process that failed to open")
        << "a.exe"
        << ""
        << "" << QStringLiteral("缺失(数字签名、可执行路径)") << QColor(Qt::red);
    QTest::newRow("nothing known") << ""
                                   << ""
                                   << "" << QStringLiteral("缺失(进程名、数字签名、可执行路径)") << QColor(Qt::red);
    QTest::newRow("no process name") << ""
                                     << "Signer"
                                     << "/bin/a" << QStringLiteral("缺失(进程名)") << QColor(Qt::red);
}

void TestSoftwareTab::matchStatus()
{
    QFETCH(QString, process);
    QFETCH(QString, signer);
    QFETCH(QString, path);
    QFETCH(QString, status);
    QFETCH(QColor, colour);

    SoftwareInfo info = record("Tool", "Maker", path, process, signer);
    info.version = QStringLiteral("2.5");
    fill({info});
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("Tool"));
    QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("2.5"));
    QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("Maker"));
    QCOMPARE(table()->item(0, 3)->text(), info.installPath);
    QCOMPARE(table()->item(0, 4)->text(), QStringLiteral("2024-03-05"));
    QCOMPARE(table()->item(0, 5)->text(), status);
    QCOMPARE(table()->item(0, 5)->foreground().color(), colour);
    QCOMPARE(statusBar()->text(), QStringLiteral("扫描完成，共发现 1 个软件"));
}

void TestSoftwareTab::threeCellsOfOneRowReportOneRecord()
{
    fill(installedFixture());
    const int row = rowOf(QStringLiteral("Notepad Plus"));
    selectCells(row, {0, 3, 5});
    QCOMPARE(table()->selectedItems().size(), 3);

    const QList<QJsonObject> sent = reportAndWait();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(statusBar()->text(), QStringLiteral("正在上报 1 个软件..."));
    QCOMPARE(sent.first(), installedFixture().first().toReportJson());
    QStringList keys = sent.first().keys();
    QStringList expected = reportKeys;
    keys.sort();
    expected.sort();
    QCOMPARE(keys, expected);
    QVERIFY(sent.first().value(QLatin1String("file_size")).isDouble());
    const QJsonObject params = agent->requestsFor(QStringLiteral("app.report.submit")).last().params;
    QCOMPARE(params.value(QLatin1String("reason")).toString(), QStringLiteral("用户主动上报"));
    QCOMPARE(params.value(QLatin1String("category")).toString(), QStringLiteral("user_report"));
}

void TestSoftwareTab::sortedRowsLeadToTheirOwnRecords()
{
    fill(installedFixture());
    // By publisher, descending: Zed Soft, Notepad Team, Alpha Inc. The record
    // without an executable (list index 1) moves to row 0.
    table()->sortItems(2, Qt::DescendingOrder);
    QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("archive tool"));
    QCOMPARE(table()->item(1, 0)->text(), QStringLiteral("Notepad Plus"));

    statusBar()->clear();
    doubleClickRow(0);
    QCOMPARE(statusBar()->text(), QStringLiteral("该软件没有可执行文件路径"));

    selectCells(1, {1});
    const QList<QJsonObject> sent = reportAndWait();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().value(QLatin1String("name")).toString(), QStringLiteral("Notepad Plus"));

    // Every row shows one record's cells together.
    const QList<SoftwareInfo> fixture = installedFixture();
    for (int row = 0; row < table()->rowCount(); ++row) {
        const QString name = table()->item(row, 0)->text();
        const auto it = std::find_if(fixture.cbegin(), fixture.cend(),
                                     [&](const SoftwareInfo &info) { return info.name == name; });
        QVERIFY(it != fixture.cend());
        QCOMPARE(table()->item(row, 2)->text(), it->publisher);
        QCOMPARE(table()->item(row, 5)->text(), SoftwareTab::matchStatus(*it));
    }
}

void TestSoftwareTab::portListsFollowTheScan()
{
    fill(installedFixture());
    emit tab()->scanner()->processScanFinished(processFixture());
    table()->selectAll();
    const QList<QJsonObject> sent = reportAndWait();
    QCOMPARE(sent.size(), 5);
    QStringList installedPorts, processPorts;
    for (const QJsonObject &object : sent) {
        const bool installed = names(installedFixture()).contains(object.value(QLatin1String("name")).toString());
        (installed ? installedPorts : processPorts) << object.value(QLatin1String("port_list")).toString();
    }
    QCOMPARE(installedPorts, QStringList(3, QStringLiteral("22,631")));
    QCOMPARE(processPorts, QStringList(2, QString()));
}

void TestSoftwareTab::processScansAppendAndInstalledScanReplaces()
{
    QTest::mouseClick(child<QPushButton>("btnScanProcesses"), Qt::LeftButton);
    QCOMPARE(statusBar()->text(), QStringLiteral("正在扫描运行中的进程..."));

    emit tab()->scanner()->processScanFinished(processFixture());
    QCOMPARE(statusBar()->text(), QStringLiteral("进程扫描完成，新增 2 个进程"));
    emit tab()->scanner()->processScanFinished(processFixture());
    QCOMPARE(names(tab()->records()), (QStringList{"sshd", "bash", "sshd", "bash"}));
    QCOMPARE(table()->rowCount(), 4);

    emit tab()->scanner()->processScanFinished({});
    QCOMPARE(statusBar()->text(), QStringLiteral("未发现运行中的进程"));
    QCOMPARE(table()->rowCount(), 4);

    fill(installedFixture());
    QCOMPARE(names(tab()->records()), names(installedFixture()));
    QCOMPARE(statusBar()->text(), QStringLiteral("扫描完成，共发现 3 个软件"));
}

void TestSoftwareTab::directoryResults_data()
{
    QTest::addColumn<int>("found");
    QTest::addColumn<QString>("action"); // in the dialog: "ok", "cancel", "untick all", "untick first"
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QString>("status");

    const QString before = QStringLiteral("<before>");
    QTest::newRow("nothing found") << 0 << "" << QStringList() << QStringLiteral("所选目录中未找到可执行文件");
    QTest::newRow("one, no dialog") << 1 << "" << QStringList{"tool"} << QStringLiteral("已添加 1 个软件");
    QTest::newRow("three, all kept") << 3 << "ok" << QStringList{"tool", "helper", "update"}
                                     << QStringLiteral("已添加 3 个软件");
    QTest::newRow("three, first unticked")
        << 3 << "untick first" << QStringList{"helper", "update"} << QStringLiteral("已添加 2 个软件");
    QTest::newRow("three, all unticked") << 3 << "untick all" << QStringList() << QStringLiteral("未选择任何软件");
    QTest::newRow("three, cancelled") << 3 << "cancel" << QStringList() << before;
}

void TestSoftwareTab::directoryResults()
{
    QFETCH(int, found);
    QFETCH(QString, action);
    QFETCH(QStringList, added);
    QFETCH(QString, status);

    // A list already there stays in front; nothing is compared against it.
    fill({record("tool", "", "/srv/app/tool", "tool", "")});
    statusBar()->setText(QStringLiteral("<before>"));
    const QList<SoftwareInfo> scanned{record("tool", "", "/srv/app/tool", "tool", ""),
                                      record("helper", "", "/srv/app/helper", "helper", ""),
                                      record("update", "", "/srv/app/update", "update", "")};
    QString title, label;
    QStringList boxes;
    bool allChecked = true;
    if (found > 1) {
        onNextPickDialog([&](SoftwarePickDialog *dialog) {
            title = dialog->windowTitle();
            label = dialog->findChild<QLabel *>(QStringLiteral("labelCount"))->text();
            for (QCheckBox *box : dialog->checkBoxes()) {
                boxes << box->text();
                allChecked &= box->isChecked();
            }
            if (action == QLatin1String("untick all")) {
                for (QCheckBox *box : dialog->checkBoxes())
                    box->click();
            } else if (action == QLatin1String("untick first")) {
                dialog->checkBoxes().first()->click();
            }
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            buttons->button(action == QLatin1String("cancel") ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)
                ->click();
        });
    }
    emit tab()->scanner()->directoryScanFinished(QStringLiteral("/srv/app"), scanned.mid(0, found));

    if (found > 1) {
        QCOMPARE(title, QStringLiteral("选择要添加的软件"));
        QCOMPARE(label, QStringLiteral("目录中发现 3 个可执行文件，请勾选要添加的："));
        QCOMPARE(boxes, (QStringList{"tool (/srv/app/tool)", "helper (/srv/app/helper)", "update (/srv/app/update)"}));
        QVERIFY(allChecked);
    }
    QCOMPARE(names(tab()->records()), QStringList{"tool"} + added);
    QCOMPARE(table()->rowCount(), 1 + added.size());
    QCOMPARE(statusBar()->text(), status);
}

void TestSoftwareTab::reportPreconditions_data()
{
    QTest::addColumn<bool>("linkUp");
    QTest::addColumn<bool>("selection");
    QTest::addColumn<QString>("status");

    QTest::newRow("no selection, link up") << true << false << QStringLiteral("请先选择要上报的软件");
    QTest::newRow("no selection, link down") << false << false << QStringLiteral("请先选择要上报的软件");
    QTest::newRow("selection, link down") << false << true << QStringLiteral("未连接到服务端，无法上报");
}

void TestSoftwareTab::reportPreconditions()
{
    QFETCH(bool, linkUp);
    QFETCH(bool, selection);
    QFETCH(QString, status);

    fill(installedFixture());
    if (selection)
        selectCells(1, {0, 1});
    if (!linkUp) {
        auto *client = window->findChild<JsonRpcWebSocketClient *>();
        agent->dropClients();
        QTRY_VERIFY(!client->isConnected());
    }
    QTest::mouseClick(child<QPushButton>("btnReportSoftware"), Qt::LeftButton);
    QCOMPARE(statusBar()->text(), status);
    QTest::qWait(50);
    QCOMPARE(submitCount(), 0);
}

void TestSoftwareTab::submitResults_data()
{
    QTest::addColumn<bool>("asError");
    QTest::addColumn<QJsonValue>("answer");
    QTest::addColumn<QString>("status");

    QTest::newRow("success with message")
        << false << QJsonValue(QJsonObject{{"success", true}, {"message", QStringLiteral("已登记 1 条")}})
        << QStringLiteral("软件上报成功: 已登记 1 条");
    QTest::newRow("success without message")
        << false << QJsonValue(QJsonObject{{"success", true}}) << QStringLiteral("软件上报成功: ");
    QTest::newRow("refused object") << false << QJsonValue(QJsonObject{{"success", false}, {"message", "quota"}})
                                    << QStringLiteral("软件上报失败: quota");
    QTest::newRow("string") << false << QJsonValue(QStringLiteral("server busy"))
                            << QStringLiteral("软件上报失败: server busy");
    QTest::newRow("number") << false << QJsonValue(42) << QStringLiteral("软件上报失败: 未知响应格式");
    QTest::newRow("error object") << true << QJsonValue(QJsonObject{{"code", -32000}, {"message", "denied"}})
                                  << QStringLiteral("软件上报失败: denied");
}

void TestSoftwareTab::submitResults()
{
    QFETCH(bool, asError);
    QFETCH(QJsonValue, answer);
    QFETCH(QString, status);

    if (asError)
        agent->answerError(QStringLiteral("app.report.submit"), answer);
    else
        agent->answer(QStringLiteral("app.report.submit"), answer);
    fill(installedFixture());
    selectCells(0, {0});
    QCOMPARE(reportAndWait().size(), 1);
    QTRY_COMPARE(statusBar()->text(), status);
    // The list and the selection stay as they were.
    QCOMPARE(tab()->records().size(), 3);
    QCOMPARE(table()->selectedItems().size(), 1);
}

void TestSoftwareTab::myReports()
{
    QTest::mouseClick(child<QPushButton>("btnMyReports"), Qt::LeftButton);
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("app.report.my")).size(), 1);
    QCOMPARE(statusBar()->text(), QStringLiteral("正在获取上报记录..."));
    const FakeAgent::Request request = agent->requestsFor(QStringLiteral("app.report.my")).first();
    QCOMPARE(request.params, QJsonObject());
    agent->push(request.id, QJsonObject{{"reports", QJsonArray{QJsonObject{}, QJsonObject{}, 3}}});
    QTRY_COMPARE(statusBar()->text(), QStringLiteral("收到 3 条上报记录"));

    auto *client = window->findChild<JsonRpcWebSocketClient *>();
    agent->dropClients();
    QTRY_VERIFY(!client->isConnected());
    QTest::mouseClick(child<QPushButton>("btnMyReports"), Qt::LeftButton);
    QCOMPARE(statusBar()->text(), QStringLiteral("未连接到服务端，无法获取上报记录"));
    QCOMPARE(agent->requestsFor(QStringLiteral("app.report.my")).size(), 1);
}

void TestSoftwareTab::searchHidesRowsAndHiddenRowsAreNotReported()
{
    fill(installedFixture() + processFixture());
    table()->selectAll();
    QTest::keyClicks(child<QLineEdit>("lineEditSoftwareSearch"), QStringLiteral("NOTEPAD"));
    auto visible = [this] {
        QStringList shown;
        for (int row = 0; row < table()->rowCount(); ++row) {
            if (!table()->isRowHidden(row))
                shown << table()->item(row, 0)->text();
        }
        shown.sort();
        return shown;
    };
    QCOMPARE(visible(), QStringList{"Notepad Plus"});

    // The rows that stay hidden follow their records through a sort.
    child<QLineEdit>("lineEditSoftwareSearch")->setText(QStringLiteral("s"));
    QCOMPARE(visible(), (QStringList{"Browser", "Notepad Plus", "bash", "sshd"}));
    table()->sortItems(2, Qt::AscendingOrder);
    QCOMPARE(visible(), (QStringList{"Browser", "Notepad Plus", "bash", "sshd"}));
    table()->sortItems(0, Qt::DescendingOrder);
    QCOMPARE(visible(), (QStringList{"Browser", "Notepad Plus", "bash", "sshd"}));

    // Everything was selected before the filter: only what shows is reported.
    QStringList reported;
    for (const QJsonObject &object : reportAndWait())
        reported << object.value(QLatin1String("name")).toString();
    reported.sort();
    QCOMPARE(reported, (QStringList{"Browser", "Notepad Plus", "bash", "sshd"}));

    // New rows are filtered as they come.
    emit tab()->scanner()->processScanFinished({record("vim", "", "/usr/bin/vim", "vim", "")});
    QCOMPARE(visible(), (QStringList{"Browser", "Notepad Plus", "bash", "sshd"}));
    child<QLineEdit>("lineEditSoftwareSearch")->clear();
    QCOMPARE(visible().size(), 6);
}

void TestSoftwareTab::digestsGoIntoTheRecordTheRowShows()
{
    QTemporaryDir dir;
    QList<SoftwareInfo> installed = installedFixture();
    installed[0].executablePath = dir.filePath(QStringLiteral("npp/npp"));
    installed[2].executablePath = dir.filePath(QStringLiteral("browser/browser"));
    const auto digests = writeFile(installed[0].executablePath, 300000, true);
    QVERIFY(writeFile(installed[2].executablePath, 1000, true).first.size() == 32);
    fill(installed);
    // Descending by publisher: archive tool, Notepad Plus (record 0), Browser.
    table()->sortItems(2, Qt::DescendingOrder);
    QCOMPARE(table()->item(1, 0)->text(), QStringLiteral("Notepad Plus"));

    table()->selectAll();
    for (const QJsonObject &object : reportAndWait()) {
        QCOMPARE(object.value(QLatin1String("file_hash_md5")).toString(), QString());
        QCOMPARE(object.value(QLatin1String("file_hash_sha256")).toString(), QString());
    }

    QStringList progress;
    connect(tab()->scanner(), &AppScanner::hashProgress, this, [&] { progress << statusBar()->text(); });
    doubleClickRow(1);
    QCOMPARE(statusBar()->text(), QStringLiteral("MD5: %1\nSHA256: %2").arg(digests.first, digests.second));
    QCOMPARE(progress.size(), 3);
    QVERIFY2(progress.last().startsWith(QStringLiteral("正在计算 "))
                 && progress.last().endsWith(QStringLiteral(" 哈希值: 100%")),
             qPrintable(progress.join(QLatin1Char('|'))));

    table()->selectAll();
    int withDigests = 0;
    for (const QJsonObject &object : reportAndWait()) {
        if (object.value(QLatin1String("name")).toString() != QLatin1String("Notepad Plus")) {
            QCOMPARE(object.value(QLatin1String("file_hash_md5")).toString(), QString());
            continue;
        }
        ++withDigests;
        QCOMPARE(object.value(QLatin1String("file_hash_md5")).toString(), digests.first);
        QCOMPARE(object.value(QLatin1String("file_hash_sha256")).toString(), digests.second);
        QCOMPARE(object.value(QLatin1String("file_size")).toInteger(), 300000);
    }
    QCOMPARE(withDigests, 1);
}

void TestSoftwareTab::hashProgressShowsTheFileNameAsItIs_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("plain") << "tool.exe";
    QTest::newRow("holding %1") << "100%1.exe";
    QTest::newRow("holding %2 and %1") << "x%2%1.exe";
}

// The progress text names the file exactly, whatever placeholders its name holds.
void TestSoftwareTab::hashProgressShowsTheFileNameAsItIs()
{
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    SoftwareInfo info
        = record(QStringLiteral("tool"), QString(), dir.filePath(fileName), QStringLiteral("tool"), QString());
    QVERIFY(!writeFile(info.executablePath, 5000, true).first.isEmpty());
    fill({info});
    QStringList progress;
    connect(tab()->scanner(), &AppScanner::hashProgress, this, [&] { progress << statusBar()->text(); });
    doubleClickRow(0);
    const QString prefix = QStringLiteral("正在计算 ") + fileName + QStringLiteral(" 哈希值: ");
    QCOMPARE(progress, (QStringList{prefix + "0%", prefix + "50%", prefix + "100%"}));
    QVERIFY(statusBar()->text().startsWith(QStringLiteral("MD5: ")));
}

void TestSoftwareTab::selectionStaysOnItsRecords_data()
{
    QTest::addColumn<QString>("arrival"); // what adds rows: "processes", "directory", "digests"
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<int>("order");

    QTest::newRow("process scan, sorted by name") << "processes" << 0 << int(Qt::AscendingOrder);
    QTest::newRow("process scan, sorted by path, descending") << "processes" << 3 << int(Qt::DescendingOrder);
    QTest::newRow("directory pick, sorted by name") << "directory" << 0 << int(Qt::AscendingOrder);
    QTest::newRow("process scan, unsorted") << "processes" << -1 << int(Qt::AscendingOrder);
}

// Rows added to a sorted table land among the others: the selection (and
// with it what "上报选中" sends) must stay on the records the user picked.
void TestSoftwareTab::selectionStaysOnItsRecords()
{
    QFETCH(QString, arrival);
    QFETCH(int, sortColumn);
    QFETCH(int, order);

    QList<SoftwareInfo> installed = installedFixture();
    installed << record("zip", "Info-ZIP", "/usr/bin/zip", "zip", QString())
              << record("appstream", "Debian", "/usr/bin/appstreamcli", "appstreamcli", QString());
    fill(installed);
    if (sortColumn >= 0)
        table()->sortItems(sortColumn, Qt::SortOrder(order));
    selectCells(rowOf(QStringLiteral("zip")), {0, 2, 4});
    table()->selectionModel()->setCurrentIndex(table()->model()->index(rowOf(QStringLiteral("zip")), 2),
                                               QItemSelectionModel::NoUpdate);

    const QList<SoftwareInfo> arriving{record("apt", "", "/usr/bin/apt", "apt", ""),
                                       record("bash", "", "/usr/bin/bash", "bash", ""),
                                       record("aardvark", "", "/opt/a/aardvark", "aardvark", "")};
    if (arrival == QLatin1String("processes")) {
        QTest::mouseClick(child<QPushButton>("btnScanProcesses"), Qt::LeftButton);
        emit tab()->scanner()->processScanFinished(arriving);
        QCOMPARE(statusBar()->text(), QStringLiteral("进程扫描完成，新增 3 个进程"));
    } else {
        onNextPickDialog([](SoftwarePickDialog *dialog) {
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        emit tab()->scanner()->directoryScanFinished(QStringLiteral("/opt/a"), arriving);
        QCOMPARE(statusBar()->text(), QStringLiteral("已添加 3 个软件"));
    }
    QCOMPARE(table()->rowCount(), 8);

    // The same cells of the same record, and the current cell with them.
    QStringList selected;
    for (const QTableWidgetItem *item : table()->selectedItems())
        selected << table()->item(item->row(), 0)->text() + QLatin1Char('/') + QString::number(item->column());
    selected.sort();
    QCOMPARE(selected, (QStringList{"zip/0", "zip/2", "zip/4"}));
    QCOMPARE(table()->item(table()->currentRow(), 0)->text(), QStringLiteral("zip"));
    QCOMPARE(table()->currentColumn(), 2);

    const QList<QJsonObject> sent = reportAndWait();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().value(QLatin1String("name")).toString(), QStringLiteral("zip"));
}

// A process scan and a folder pick that end while the installed software is
// being scanned: the scan's result replaces the records it started with, and
// what arrived meanwhile follows it, selection included.
void TestSoftwareTab::recordsAddedDuringAnInstalledScanStay()
{
    QTemporaryDir root;
    const int packages = 300;
    QVERIFY(writePackageDatabase(root.path(), packages));
    fill({record("old", "", "/usr/bin/old", "old", "")});
    tab()->replaceScanner(new AppScanner(root.path()));
    bool finished = false;
    QObject context;
    connect(tab()->scanner(), &AppScanner::scanFinished, &context, [&] { finished = true; });

    QTest::mouseClick(child<QPushButton>("btnScanSoftware"), Qt::LeftButton);
    QCOMPARE(table()->rowCount(), 0);
    emit tab()->scanner()->processScanFinished(processFixture());
    QCOMPARE(statusBar()->text(), QStringLiteral("进程扫描完成，新增 2 个进程"));
    // Until the scan ends the table shows what will stay: the new records.
    QCOMPARE(table()->rowCount(), 2);
    selectCells(rowOf(QStringLiteral("bash")), {0, 1});
    emit tab()->scanner()->directoryScanFinished(QStringLiteral("/srv/app"),
                                                 {record("tool", "", "/srv/app/tool", "tool", "")});
    QCOMPARE(statusBar()->text(), QStringLiteral("已添加 1 个软件"));
    QCOMPARE(table()->rowCount(), 3);
    QVERIFY(!finished);

    QTRY_VERIFY_WITH_TIMEOUT(finished, 60000);
    QCOMPARE(statusBar()->text(), QStringLiteral("扫描完成，共发现 %1 个软件").arg(packages));
    const QList<SoftwareInfo> records = tab()->records();
    QCOMPARE(records.size(), packages + 3);
    QCOMPARE(records.first().name, QStringLiteral("pkg0"));
    QCOMPARE(names(records.mid(packages)), (QStringList{"sshd", "bash", "tool"}));
    QCOMPARE(table()->rowCount(), packages + 3);

    const QList<QJsonObject> sent = reportAndWait();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().value(QLatin1String("name")).toString(), QStringLiteral("bash"));
    QCOMPARE(sent.first().value(QLatin1String("port_list")).toString(), QString());
}

void TestSoftwareTab::directoryScanOfRealFiles()
{
    QTemporaryDir dir;
    QVERIFY(!writeFile(dir.filePath(QStringLiteral("app/big")), 5000, true).first.isEmpty());
    QVERIFY(!writeFile(dir.filePath(QStringLiteral("app/small")), 10, true).first.isEmpty());
    QVERIFY(!writeFile(dir.filePath(QStringLiteral("app/readme.txt")), 10, false).first.isEmpty());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("empty"))));
    QString chosen;
    tab()->setDirectoryChooser([&] { return chosen; });
    QPushButton *button = child<QPushButton>("btnSelectDirectory");

    // Cancelled in the file dialog: nothing starts.
    statusBar()->setText(QStringLiteral("<before>"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isEnabled());

    chosen = dir.filePath(QStringLiteral("empty"));
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(statusBar()->text(), QStringLiteral("所选目录中未找到可执行文件"));
    QVERIFY(button->isEnabled());

    // The tick list opens once the scan has finished, in the scan's order.
    QStringList boxes;
    onNextPickDialog([&](SoftwarePickDialog *dialog) {
        for (QCheckBox *box : dialog->checkBoxes())
            boxes << box->text();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    chosen = dir.filePath(QStringLiteral("app"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled());
    QTRY_COMPARE(statusBar()->text(), QStringLiteral("已添加 2 个软件"));
    QCOMPARE(boxes,
             (QStringList{"big (" + dir.filePath("app/big") + ")", "small (" + dir.filePath("app/small") + ")"}));
    QCOMPARE(names(tab()->records()), (QStringList{"big", "small"}));
    QCOMPARE(tab()->records().at(0).portList, QString());
    QVERIFY(button->isEnabled());
}

void TestSoftwareTab::installedScanKeepsTheWindowResponsive()
{
    QTemporaryDir root;
    const int packages = 1500;
    QVERIFY(writePackageDatabase(root.path(), packages));
    tab()->replaceScanner(new AppScanner(root.path()));
    // A process scan's records go when the installed software comes.
    emit tab()->scanner()->processScanFinished(processFixture());

    QPushButton *button = child<QPushButton>("btnScanSoftware");
    bool finished = false;
    bool timerFiredDuringScan = false;
    QStringList seen;
    bool disabledThroughout = true;
    QObject context;
    // Connected after the tab, so each sees the tab's handling of the same signal.
    connect(tab()->scanner(), &AppScanner::scanProgress, &context, [&] {
        seen << statusBar()->text();
        disabledThroughout &= !button->isEnabled();
    });
    connect(tab()->scanner(), &AppScanner::scanFinished, &context, [&] { finished = true; });

    // Queued ahead of everything the scan sends: it runs as soon as the click
    // hands control back, which a scan holding the GUI thread would delay to
    // after its end.
    QTimer::singleShot(0, &context, [&] { timerFiredDuringScan = !finished; });
    QTest::mouseClick(button, Qt::LeftButton);
    // The click came back before the scan finished, with the button disabled.
    QVERIFY(!finished);
    QVERIFY(!button->isEnabled());
    QCOMPARE(table()->rowCount(), 0);
    QCOMPARE(statusBar()->text(), QStringLiteral("正在扫描已安装软件..."));

    QTRY_VERIFY_WITH_TIMEOUT(finished, 60000);
    QVERIFY(timerFiredDuringScan);
    QVERIFY(disabledThroughout);
    QCOMPARE(seen.size(), packages);
    QCOMPARE(seen.first(), QStringLiteral("扫描进度: 1/%1").arg(packages));
    QCOMPARE(seen.last(), QStringLiteral("扫描进度: %1/%1").arg(packages));
    QVERIFY(button->isEnabled());
    QCOMPARE(statusBar()->text(), QStringLiteral("扫描完成，共发现 %1 个软件").arg(packages));
    QCOMPARE(tab()->records().size(), packages);
    QCOMPARE(table()->rowCount(), packages);
}

void TestSoftwareTab::closingWaitsForRunningScans()
{
    QTemporaryDir root;
    QVERIFY(writePackageDatabase(root.path(), 1500));
    tab()->replaceScanner(new AppScanner(root.path()));
    QPointer<AppScanner> scanner = tab()->scanner();
    QTest::mouseClick(child<QPushButton>("btnScanSoftware"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("btnScanProcesses"), Qt::LeftButton);
    tab()->addDirectory(root.filePath(QStringLiteral("usr/bin")));

    // The window goes while its scans run: the scanner goes with it, and no
    // task of it is left running on the pool.
    window.reset();
    QVERIFY(scanner.isNull());
    QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
    // Results already queued are dropped with the tab.
    QTest::qWait(50);
}

QTEST_MAIN(TestSoftwareTab)
#include "tst_softwaretab.moc"
