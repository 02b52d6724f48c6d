#include "detaildialog.h"
#include "ui_detaildialog.h"

#include "sessionformat.h"

#include <QHideEvent>
#include <QShowEvent>
#include <QTableWidgetItem>

DetailDialog::DetailDialog(QWidget *parent, TrafficStatistics *statistics)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DetailDialog>())
    , trafficStatistics(statistics)
{
    ui->setupUi(this);
    resize(545, 413);
    setFixedSize(545, 413);
    if (statistics) {
        connect(statistics, &TrafficStatistics::updated, this, [this] {
            ui->labelBytesSent->setText(SessionFormat::formatBytes(trafficStatistics->bytesSent()));
            ui->labelBytesReceived->setText(SessionFormat::formatBytes(trafficStatistics->bytesReceived()));
        });
    }
}

DetailDialog::~DetailDialog() = default;

void DetailDialog::showEvent(QShowEvent *event)
{
    if (!timerWired) {
        timerWired = true;
        connect(&statTimer, &QTimer::timeout, this, &DetailDialog::requestStatistics);
    }
    statTimer.start(1000);
    QDialog::showEvent(event);
}

void DetailDialog::hideEvent(QHideEvent *event)
{
    statTimer.stop();
    QDialog::hideEvent(event);
}

void DetailDialog::requestStatistics()
{
    // Nothing goes while the link is absent or down.
    if (trafficStatistics)
        trafficStatistics->request();
}

void DetailDialog::setRoutes(const QJsonArray &excluded, const QJsonArray &secured)
{
    const auto fill = [](QTableWidget *table, const QJsonArray &routes) {
        // A new connection replaces whatever an earlier one left behind.
        table->setRowCount(0);
        for (int i = 0; i < routes.size(); ++i) {
            const SessionFormat::Route route = SessionFormat::parseRoute(routes.at(i).toString());
            table->insertRow(i);
            table->setItem(i, 0, new QTableWidgetItem(route.address));
            table->setItem(i, 1, new QTableWidgetItem(QString::number(route.prefix)));
        }
    };
    fill(ui->tableExcluded, excluded);
    fill(ui->tableSecured, secured);
    ui->tableExcluded->resizeColumnsToContents();
    ui->tableSecured->resizeColumnsToContents();
    ui->tableExcluded->setCurrentCell(-1, -1);
}

void DetailDialog::clearDetails()
{
    ui->tableExcluded->setRowCount(0);
    ui->tableSecured->setRowCount(0);
    ui->labelBytesSent->clear();
    ui->labelBytesReceived->clear();
}
