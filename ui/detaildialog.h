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

class JsonRpcWebSocketClient;

// The modal "Statistics and Route Details" window of a running connection:
// byte counters polled from the agent once a second while it is open, and the
// excluded and secured routes the connection reported when it came up.
class DetailDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DetailDialog(QWidget *parent);
    ~DetailDialog() override;

    // The agent link the counters are read through; it is created after the
    // dialog, and ticks send nothing while it is absent or down.
    void setClient(JsonRpcWebSocketClient *client);
    // The one reader of the counters, which others ask as well.
    TrafficStatistics *statistics();

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
    TrafficStatistics trafficStatistics;
    bool timerWired = false;
};
