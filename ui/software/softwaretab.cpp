#include "softwaretab.h"
#include "ui_softwarearea.h"

#include "appscanner.h"
#include "jsonrpcwebsocketclient.h"
#include "softwarepickdialog.h"

#include <QFileDialog>
#include <QHash>
#include <QItemSelection>
#include <QSet>
#include <QTableWidgetItem>

#include <algorithm>

SoftwareTab::SoftwareTab(Ui::SoftwareArea *form, QLabel *statusLine, QWidget *window, QObject *parent)
    : QObject(parent)
    , form(form)
    , statusLine(statusLine)
    , window(window)
    , appScanner(new AppScanner(window))
{
    setObjectName(QStringLiteral("softwareTab"));
    connectScanner();

    connect(form->tableWidgetSoftware, &QTableWidget::cellDoubleClicked, this,
            &SoftwareTab::onSoftwareItemDoubleClicked);
    connect(form->lineEditSoftwareSearch, &QLineEdit::textChanged, this, &SoftwareTab::applySearchFilter);
}

SoftwareTab::~SoftwareTab()
{
    shutDown();
}

void SoftwareTab::shutDown()
{
    if (closing)
        return;
    closing = true;
    // The scanner's destructor waits for its tasks; their signals are not
    // wanted any more.
    if (appScanner) {
        appScanner->disconnect(this);
        delete appScanner;
    }
}

AppScanner *SoftwareTab::scanner() const
{
    return appScanner;
}

void SoftwareTab::connectScanner()
{
    // The installed-software and directory scans run on the thread pool, so
    // their results arrive queued, after the handler that started them.
    connect(appScanner, &AppScanner::scanProgress, this, &SoftwareTab::onSoftwareScanProgress);
    connect(appScanner, &AppScanner::scanFinished, this, &SoftwareTab::onSoftwareScanFinished);
    connect(appScanner, &AppScanner::hashProgress, this, &SoftwareTab::onHashProgress);
    connect(appScanner, &AppScanner::processScanFinished, this, &SoftwareTab::onProcessScanFinished);
    connect(appScanner, &AppScanner::directoryScanFinished, this, &SoftwareTab::onDirectoryScanFinished);
}

void SoftwareTab::replaceScanner(AppScanner *scanner)
{
    if (closing || !scanner)
        return;
    appScanner->disconnect(this);
    delete appScanner;
    appScanner = scanner;
    appScanner->setParent(window);
    connectScanner();
    // A scan of the old scanner will not finish any more: the records it
    // would have replaced stay.
    form->btnScanSoftware->setEnabled(true);
    form->btnSelectDirectory->setEnabled(true);
    if (installedScanFrom >= 0) {
        installedScanFrom = -1;
        refreshSoftwareTable();
    }
}

void SoftwareTab::setClient(JsonRpcWebSocketClient *client)
{
    if (rpcClient)
        rpcClient->disconnect(this);
    rpcClient = client;
    if (!client)
        return;
    connect(client, &JsonRpcWebSocketClient::appReportSubmitted, this, &SoftwareTab::onAppReportSubmitted);
    connect(client, &JsonRpcWebSocketClient::myAppReportsReceived, this, &SoftwareTab::onMyAppReportsReceived);
}

void SoftwareTab::setDirectoryChooser(std::function<QString()> chooser)
{
    directoryChooser = std::move(chooser);
}

bool SoftwareTab::isComplete(const SoftwareInfo &info)
{
    return !info.processName.isEmpty() && !info.digitalSigner.isEmpty() && !info.executablePath.isEmpty();
}

QString SoftwareTab::matchStatus(const SoftwareInfo &info)
{
    QStringList missing;
    if (info.processName.isEmpty())
        missing.append(QStringLiteral("进程名"));
    if (info.digitalSigner.isEmpty())
        missing.append(QStringLiteral("数字签名"));
    if (info.executablePath.isEmpty())
        missing.append(QStringLiteral("可执行路径"));
    if (missing.isEmpty())
        return QStringLiteral("完整");
    return QStringLiteral("缺失(%1)").arg(missing.join(QStringLiteral("、")));
}

SoftwareTab::RecordSelection SoftwareTab::selectedRecords() const
{
    const QTableWidget *table = form->tableWidgetSoftware;
    RecordSelection selection;
    for (const QModelIndex &cell : table->selectionModel()->selectedIndexes()) {
        const int index = recordIndex(cell.row());
        if (index >= 0)
            selection.cells.append({index, cell.column()});
    }
    const QModelIndex current = table->currentIndex();
    if (current.isValid()) {
        selection.currentRecord = recordIndex(current.row());
        selection.currentColumn = current.column();
    }
    return selection;
}

void SoftwareTab::refreshSoftwareTable()
{
    refillTable(selectedRecords());
}

// The selection belongs to records, not to row numbers: a refill puts other
// records into the rows (and sorting moves them), so the selection is put
// back on the same records, wherever they land.
void SoftwareTab::refillTable(const RecordSelection &keep)
{
    QTableWidget *table = form->tableWidgetSoftware;
    table->clearSelection();

    // Filled unsorted, or each new cell would move its row while the row is
    // still half written; the header's sort order applies once at the end.
    const bool sorting = table->isSortingEnabled();
    table->setSortingEnabled(false);
    const int first = firstShownRecord();
    table->setRowCount(int(softwareList.size()) - first);
    for (int i = first; i < softwareList.size(); ++i) {
        const SoftwareInfo &info = softwareList.at(i);
        const int row = i - first;
        auto *nameItem = new QTableWidgetItem(info.name);
        nameItem->setData(Qt::UserRole, i);
        table->setItem(row, 0, nameItem);
        table->setItem(row, 1, new QTableWidgetItem(info.version));
        table->setItem(row, 2, new QTableWidgetItem(info.publisher));
        table->setItem(row, 3, new QTableWidgetItem(info.installPath));
        table->setItem(row, 4, new QTableWidgetItem(info.installDate));
        auto *statusItem = new QTableWidgetItem(matchStatus(info));
        statusItem->setForeground(QBrush(isComplete(info) ? Qt::darkGreen : Qt::red));
        table->setItem(row, 5, statusItem);
    }
    table->setSortingEnabled(sorting);
    table->resizeColumnsToContents();
    applySearchFilter();

    QHash<int, int> rowOfRecord;
    for (int row = 0; row < table->rowCount(); ++row) {
        const int index = recordIndex(row);
        if (index >= 0)
            rowOfRecord.insert(index, row);
    }
    QItemSelection selection;
    for (const auto &[index, column] : keep.cells) {
        const int row = rowOfRecord.value(index, -1);
        if (row >= 0) {
            const QModelIndex cell = table->model()->index(row, column);
            selection.select(cell, cell);
        }
    }
    const int currentRow = rowOfRecord.value(keep.currentRecord, -1);
    if (currentRow >= 0)
        table->selectionModel()->setCurrentIndex(table->model()->index(currentRow, keep.currentColumn),
                                                 QItemSelectionModel::NoUpdate);
    table->selectionModel()->select(selection, QItemSelectionModel::Select);
}

void SoftwareTab::appendRecords(const QList<SoftwareInfo> &list)
{
    softwareList.append(list);
    refreshSoftwareTable();
}

int SoftwareTab::firstShownRecord() const
{
    return installedScanFrom >= 0 ? installedScanFrom : 0;
}

void SoftwareTab::applySearchFilter()
{
    QTableWidget *table = form->tableWidgetSoftware;
    const QString text = form->lineEditSoftwareSearch->text();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->item(row, 0);
        const bool match = text.isEmpty() || (item && item->text().contains(text, Qt::CaseInsensitive));
        table->setRowHidden(row, !match);
    }
}

int SoftwareTab::recordIndex(int row) const
{
    const QTableWidgetItem *item = form->tableWidgetSoftware->item(row, 0);
    if (!item)
        return -1;
    bool ok = false;
    const int index = item->data(Qt::UserRole).toInt(&ok);
    return ok && index >= 0 && index < softwareList.size() ? index : -1;
}

void SoftwareTab::on_btnScanSoftware_clicked()
{
    if (closing)
        return;
    // The records there now give way to the scan's; what the other scans add
    // meanwhile comes after them, and is all the table shows until then.
    installedScanFrom = int(softwareList.size());
    form->tableWidgetSoftware->setRowCount(0);
    form->btnScanSoftware->setEnabled(false);
    statusLine->setText(QStringLiteral("正在扫描已安装软件..."));
    appScanner->startScan();
}

void SoftwareTab::onSoftwareScanProgress(int current, int total)
{
    if (closing)
        return;
    statusLine->setText(QStringLiteral("扫描进度: %1/%2").arg(current).arg(total));
}

void SoftwareTab::onSoftwareScanFinished(const QList<SoftwareInfo> &list)
{
    if (closing)
        return;
    // The installed software replaces the list; records that other scans
    // added while this one ran stay, after it.
    const int keptFrom = installedScanFrom >= 0 ? installedScanFrom : int(softwareList.size());
    RecordSelection selection = selectedRecords();
    softwareList = list + softwareList.mid(keptFrom);
    installedScanFrom = -1;
    form->btnScanSoftware->setEnabled(true);
    // The kept records move up or down behind the new ones; so does their selection.
    const auto movedTo = [&](int index) { return index >= keptFrom ? index - keptFrom + int(list.size()) : -1; };
    for (auto &cell : selection.cells)
        cell.first = movedTo(cell.first);
    selection.currentRecord = selection.currentRecord >= 0 ? movedTo(selection.currentRecord) : -1;
    refillTable(selection);
    statusLine->setText(QStringLiteral("扫描完成，共发现 %1 个软件").arg(list.size()));
}

void SoftwareTab::on_btnScanProcesses_clicked()
{
    if (closing)
        return;
    statusLine->setText(QStringLiteral("正在扫描运行中的进程..."));
    appScanner->startProcessScan();
}

void SoftwareTab::onProcessScanFinished(const QList<SoftwareInfo> &list)
{
    if (closing)
        return;
    if (list.isEmpty()) {
        statusLine->setText(QStringLiteral("未发现运行中的进程"));
        return;
    }
    appendRecords(list);
    statusLine->setText(QStringLiteral("进程扫描完成，新增 %1 个进程").arg(list.size()));
}

QString SoftwareTab::chooseDirectory()
{
    if (directoryChooser)
        return directoryChooser();
    return QFileDialog::getExistingDirectory(window, QStringLiteral("选择软件目录"), QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

void SoftwareTab::on_btnSelectDirectory_clicked()
{
    if (closing)
        return;
    const QPointer<SoftwareTab> alive(this);
    const QString directory = chooseDirectory();
    // The file dialog runs its own event loop: the window may have gone.
    if (!alive || closing || directory.isEmpty())
        return;
    addDirectory(directory);
}

void SoftwareTab::addDirectory(const QString &directory)
{
    if (closing)
        return;
    // One directory at a time: its tick list opens when its scan is done.
    form->btnSelectDirectory->setEnabled(false);
    appScanner->startDirectoryScan(directory);
}

void SoftwareTab::onDirectoryScanFinished(const QString &, const QList<SoftwareInfo> &list)
{
    if (closing)
        return;
    form->btnSelectDirectory->setEnabled(true);
    if (list.isEmpty()) {
        statusLine->setText(QStringLiteral("所选目录中未找到可执行文件"));
        return;
    }
    if (list.size() == 1) {
        appendRecords(list);
        statusLine->setText(QStringLiteral("已添加 %1 个软件").arg(1));
        return;
    }

    const QPointer<SoftwareTab> alive(this);
    // Guarded: the window (its parent) may go while the dialog's loop runs.
    const QPointer<SoftwarePickDialog> dialog = new SoftwarePickDialog(list, window);
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QList<SoftwareInfo> checked = dialog->checkedRecords();
    delete dialog;
    if (!alive || closing || result != QDialog::Accepted)
        return;
    if (checked.isEmpty()) {
        statusLine->setText(QStringLiteral("未选择任何软件"));
        return;
    }
    appendRecords(checked);
    statusLine->setText(QStringLiteral("已添加 %1 个软件").arg(checked.size()));
}

void SoftwareTab::onSoftwareItemDoubleClicked(int row, int)
{
    if (closing)
        return;
    const int index = recordIndex(row);
    if (index < 0)
        return;
    SoftwareInfo &info = softwareList[index];
    if (info.executablePath.isEmpty()) {
        statusLine->setText(QStringLiteral("该软件没有可执行文件路径"));
        return;
    }
    statusLine->setText(QStringLiteral("正在计算 %1 的哈希值...").arg(info.name));
    // Into the list itself, so later reports carry the size and digests.
    appScanner->calculateFileHashes(info);
    if (info.fileHashMd5.isEmpty())
        return;
    statusLine->setText(QStringLiteral("MD5: %1\nSHA256: %2").arg(info.fileHashMd5, info.fileHashSha256));
}

void SoftwareTab::onHashProgress(const QString &fileName, int percent)
{
    if (closing)
        return;
    // One call fills both: a file name holding "%1" must stay as it is.
    statusLine->setText(QStringLiteral("正在计算 %1 哈希值: %2%").arg(fileName, QString::number(percent)));
}

void SoftwareTab::on_btnReportSoftware_clicked()
{
    QTableWidget *table = form->tableWidgetSoftware;
    // Rows the search hides are never reported, even when they were selected
    // before the filter hid them.
    QSet<int> indexes;
    for (const QTableWidgetItem *item : table->selectedItems()) {
        const int row = item->row();
        if (row < 0 || table->isRowHidden(row))
            continue;
        const int index = recordIndex(row);
        if (index >= 0)
            indexes.insert(index);
    }
    if (indexes.isEmpty()) {
        statusLine->setText(QStringLiteral("请先选择要上报的软件"));
        return;
    }
    if (!rpcClient || !rpcClient->isConnected()) {
        statusLine->setText(QStringLiteral("未连接到服务端，无法上报"));
        return;
    }
    QList<int> ordered(indexes.cbegin(), indexes.cend());
    std::sort(ordered.begin(), ordered.end());
    QList<SoftwareInfo> report;
    for (int index : std::as_const(ordered))
        report.append(softwareList.at(index));
    rpcClient->submitAppReport(report, QStringLiteral("用户主动上报"), QStringLiteral("user_report"));
    statusLine->setText(QStringLiteral("正在上报 %1 个软件...").arg(report.size()));
}

void SoftwareTab::onAppReportSubmitted(bool success, const QString &message)
{
    statusLine->setText(success ? QStringLiteral("软件上报成功: %1").arg(message)
                                : QStringLiteral("软件上报失败: %1").arg(message));
}

void SoftwareTab::on_btnMyReports_clicked()
{
    if (!rpcClient || !rpcClient->isConnected()) {
        statusLine->setText(QStringLiteral("未连接到服务端，无法获取上报记录"));
        return;
    }
    rpcClient->getMyAppReports();
    statusLine->setText(QStringLiteral("正在获取上报记录..."));
}

void SoftwareTab::onMyAppReportsReceived(const QJsonArray &reports)
{
    statusLine->setText(QStringLiteral("收到 %1 条上报记录").arg(reports.size()));
}
