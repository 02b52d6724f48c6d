#include "historydialog.h"
#include "ui_historydialog.h"

#include "boundedlabel.h"
#include "connectionhistory.h"
#include "messageboxes.h"

#include <QHeaderView>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidgetItem>

HistoryDialog::HistoryDialog(ConnectionHistory *history, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::HistoryDialog>())
    , history(history)
{
    ui->setupUi(this);
    QHeaderView *header = ui->tableWidgetHistory->horizontalHeader();
    // The event with the agent's message takes what is left; a long message
    // is elided and shown whole in the tooltip.
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    connect(ui->buttonClearHistory, &QPushButton::clicked, this, &HistoryDialog::onClearClicked);
    reload();
}

HistoryDialog::~HistoryDialog() = default;

QString HistoryDialog::eventText(const QString &event)
{
    if (event == ConnectionHistory::connectRequested)
        return tr("Connect requested");
    if (event == ConnectionHistory::connected)
        return tr("Connected");
    if (event == ConnectionHistory::refused)
        return tr("Connection refused");
    if (event == ConnectionHistory::lost)
        return tr("Connection lost");
    if (event == ConnectionHistory::reconnectSent)
        return tr("Reconnecting");
    if (event == ConnectionHistory::reconnected)
        return tr("Reconnected");
    if (event == ConnectionHistory::reconnectRefused)
        return tr("Reconnection refused");
    if (event == ConnectionHistory::closedByServer)
        return tr("Closed by the server");
    if (event == ConnectionHistory::disconnected)
        return tr("Disconnected");
    if (event == ConnectionHistory::linkLost)
        return tr("Agent link lost");
    if (event == ConnectionHistory::linkRestored)
        return tr("Agent link restored");
    if (event == ConnectionHistory::takenOver)
        return tr("Session taken over");
    return event;
}

QString HistoryDialog::formatDuration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void HistoryDialog::reload()
{
    const QList<QJsonObject> events = history->events();
    const ConnectionHistory::Summary summary = ConnectionHistory::summarise(events, history->now());
    ui->labelHistorySummary->setText(tr("Last 24 hours: sessions %1, connected %2, losses %3")
                                         .arg(summary.sessions)
                                         .arg(formatDuration(summary.connectedSeconds))
                                         .arg(summary.losses));

    QTableWidget *table = ui->tableWidgetHistory;
    table->setRowCount(0);
    table->setRowCount(int(events.size()));
    int row = 0;
    for (auto it = events.crbegin(); it != events.crend(); ++it, ++row) {
        const QJsonObject &event = *it;
        const QString name = event.value(QLatin1String("event")).toString();
        // What the agent said, or the address the session got, follows the event.
        QString what = eventText(name);
        const QString detail = event.contains(QLatin1String("address"))
                                   ? event.value(QLatin1String("address")).toString()
                                   : event.value(QLatin1String("message")).toString();
        if (!detail.isEmpty())
            what += QStringLiteral(" (") + detail + QLatin1Char(')');

        const QString profile = event.value(QLatin1String("profile")).toString();
        const QString host = event.value(QLatin1String("host")).toString();
        QString where = profile;
        if (!host.isEmpty())
            where += where.isEmpty() ? host : QStringLiteral(" (") + host + QLatin1Char(')');

        QString duration;
        if (ConnectionHistory::endsSession(name) && event.contains(QLatin1String("duration")))
            duration = formatDuration(event.value(QLatin1String("duration")).toInteger());

        const QString time
            = ConnectionHistory::eventTime(event).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QStringList cells{time, what, where, duration};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            // A tooltip would render markup found in the agent's message.
            item->setToolTip(BoundedLabel::plainToolTip(cells.at(column)));
            table->setItem(row, column, item);
        }
    }
    ui->buttonClearHistory->setEnabled(!events.isEmpty());
}

void HistoryDialog::onClearClicked()
{
    QMessageBox box(QMessageBox::Question, tr("Clear history"),
                    tr("Remove every recorded connection event? This cannot be undone."), QMessageBox::NoButton, this);
    QPushButton *clear = box.addButton(tr("Clear"), QMessageBox::DestructiveRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(qobject_cast<QPushButton *>(box.buttons().constLast()));
    box.exec();
    if (box.clickedButton() != clear)
        return;
    if (!history->clear())
        MessageBoxes::showError(this, tr("The history file could not be removed."));
    reload();
}
