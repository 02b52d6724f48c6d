#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class HistoryDialog;
}

class ConnectionHistory;

// The connection history, newest first: when, what happened, with which
// profile and host, and how long a session lasted when it ended; above the
// table, the last 24 hours in one line. "Clear" empties it after asking.
class HistoryDialog : public QDialog
{
    Q_OBJECT

public:
    HistoryDialog(ConnectionHistory *history, QWidget *parent);
    ~HistoryDialog() override;

    // Reads the file again and fills the summary and the table.
    void reload();

    static QString eventText(const QString &event);
    // Hours, minutes and seconds as H:MM:SS; hours keep counting past a day.
    static QString formatDuration(qint64 seconds);

private:
    void onClearClicked();

    std::unique_ptr<Ui::HistoryDialog> ui;
    ConnectionHistory *history;
};
