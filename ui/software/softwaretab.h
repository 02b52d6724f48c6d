#pragma once

#include "softwareinfo.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>

#include <functional>

namespace Ui {
class SoftwareArea;
}

class AppScanner;
class JsonRpcWebSocketClient;
class QLabel;
class QWidget;

// The "已安装软件" tab: runs the scanner's scans, keeps the records in
// softwareList and shows them in the software table with their match status,
// computes a row's digests on double-click, and reports the selected records
// to the server through the agent. The window forwards its buttons here.
//
// Each row keeps the index of its record (Qt::UserRole of column 0), so a row
// leads to its own record whatever order the table is sorted in.
class SoftwareTab : public QObject
{
    Q_OBJECT

public:
    // `window` parents the scanner and the dialogs.
    // `statusLine` is the window's status line, where the tab reports.
    SoftwareTab(Ui::SoftwareArea *form, QLabel *statusLine, QWidget *window, QObject *parent);
    ~SoftwareTab() override;

    // The agent link, once the window's deferred set-up has created it.
    void setClient(JsonRpcWebSocketClient *client);

    // The window is going: results still on their way are dropped, and the
    // scanner goes now, waiting for its running tasks.
    void shutDown();

    AppScanner *scanner() const;
    // Drives another scanner from now on (one reading a fixture's package
    // database, say); the tab takes it over.
    void replaceScanner(AppScanner *scanner);
    const QList<SoftwareInfo> &records() const { return softwareList; }

    // How "选择目录" asks for the directory; a file dialog unless replaced.
    void setDirectoryChooser(std::function<QString()> chooser);

    // A record is complete when its process name, signer and executable are known.
    static bool isComplete(const SoftwareInfo &info);
    // The match status of a record: "完整", or "缺失(…)" naming what is empty.
    static QString matchStatus(const SoftwareInfo &info);

    void on_btnScanSoftware_clicked();
    void on_btnSelectDirectory_clicked();
    void on_btnScanProcesses_clicked();
    void on_btnReportSoftware_clicked();
    void on_btnMyReports_clicked();

    // Scans the given directory, as "选择目录" does once a directory is chosen.
    void addDirectory(const QString &directory);

    void onSoftwareScanProgress(int current, int total);
    void onSoftwareScanFinished(const QList<SoftwareInfo> &list);
    void onProcessScanFinished(const QList<SoftwareInfo> &list);
    void onDirectoryScanFinished(const QString &directory, const QList<SoftwareInfo> &list);
    void onSoftwareItemDoubleClicked(int row, int column);
    void onHashProgress(const QString &fileName, int percent);
    void onAppReportSubmitted(bool success, const QString &message);
    void onMyAppReportsReceived(const QJsonArray &reports);

private:
    void connectScanner();
    // Selected cells and the current cell, by record index and column.
    struct RecordSelection
    {
        QList<QPair<int, int>> cells;
        int currentRecord = -1;
        int currentColumn = 0;
    };
    RecordSelection selectedRecords() const;
    // Fills the table from softwareList, the selection staying on the same records.
    void refreshSoftwareTable();
    // The same, selecting `keep` (record indexes of the refilled list).
    void refillTable(const RecordSelection &keep);
    void appendRecords(const QList<SoftwareInfo> &list);
    // Hides the rows whose name does not contain the search text.
    void applySearchFilter();
    // The index in softwareList of the record a table row shows, or -1.
    int recordIndex(int row) const;
    // The first record the table shows: during an installed-software scan
    // the records it will replace are not shown.
    int firstShownRecord() const;
    QString chooseDirectory();

    Ui::SoftwareArea *form;
    QLabel *statusLine;
    QWidget *window;
    // Guarded: the window may delete it as its child before the tab goes.
    QPointer<AppScanner> appScanner;
    QList<SoftwareInfo> softwareList;
    QPointer<JsonRpcWebSocketClient> rpcClient;
    std::function<QString()> directoryChooser;
    bool closing = false;
    // While an installed-software scan runs: how many records were there when
    // it started (the ones it replaces). -1 otherwise.
    int installedScanFrom = -1;
};
