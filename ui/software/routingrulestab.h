#pragma once

#include <QJsonArray>
#include <QObject>
#include <QPointer>

namespace Ui {
class SoftwareArea;
}

class JsonRpcWebSocketClient;
class QLabel;

// The "分流规则" tab: lists the per-application split rules the server has
// enabled, as the agent reports them. The rules arrive after every connection
// and whenever the user presses "刷新"; each answer replaces the whole table.
class RoutingRulesTab : public QObject
{
    Q_OBJECT

public:
    RoutingRulesTab(Ui::SoftwareArea *form, QLabel *statusLine, QObject *parent);

    // The agent link, once the window's deferred set-up has created it.
    void setClient(JsonRpcWebSocketClient *client);

    void onAppSplitRulesReceived(const QJsonArray &rules);
    void on_btnRefreshRules_clicked();

private:
    Ui::SoftwareArea *form;
    QLabel *statusLine;
    QPointer<JsonRpcWebSocketClient> rpcClient;
};
