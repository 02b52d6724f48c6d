#pragma once

#include "trafficstatistics.h"

#include <QDialog>
#include <QJsonArray>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace Ui {
class DetailDialog;
}

// The modal "Statistics and Route Details" window of a running connection:
// byte counters polled from the agent once a second while it is open, and the
// excluded and secured routes the connection reported when it came up. It is
// built the first time it is asked for; the counters have their one reader
// outside it, which others ask as well.
class DetailDialog : public QDialog
{
    Q_OBJECT

public:
    // Ticks send nothing while the reader's link is absent or down.
    DetailDialog(QWidget *parent, TrafficStatistics *statistics);
    ~DetailDialog() override;

    void setRoutes(const QJsonArray &excluded, const QJsonArray &secured);
    void clearDetails();

protected:
    void showEvent(QShowEvent *event) override;
    // Escape and the window's close button both end in a hide; stopping
    // there keeps the dialog from polling once it is out of sight.
    void hideEvent(QHideEvent *event) override;

private:
    void requestStatistics();

    std::unique_ptr<Ui::DetailDialog> ui;
    QTimer statTimer;
    QPointer<TrafficStatistics> trafficStatistics;
    bool timerWired = false;
};
