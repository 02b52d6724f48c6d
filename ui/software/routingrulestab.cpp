#include "routingrulestab.h"
#include "ui_softwarearea.h"

#include "jsonrpcwebsocketclient.h"

#include <QJsonObject>
#include <QTableWidgetItem>

RoutingRulesTab::RoutingRulesTab(Ui::SoftwareArea *form, QLabel *statusLine, QObject *parent)
    : QObject(parent)
    , form(form)
    , statusLine(statusLine)
{
    setObjectName(QStringLiteral("routingRulesTab"));
    connect(form->btnRefreshRules, &QAbstractButton::clicked, this, &RoutingRulesTab::on_btnRefreshRules_clicked);
}

void RoutingRulesTab::setClient(JsonRpcWebSocketClient *client)
{
    if (rpcClient)
        rpcClient->disconnect(this);
    rpcClient = client;
    if (client)
        connect(client, &JsonRpcWebSocketClient::appSplitRulesReceived, this,
                &RoutingRulesTab::onAppSplitRulesReceived);
}

void RoutingRulesTab::onAppSplitRulesReceived(const QJsonArray &rules)
{
    QTableWidget *table = form->tableWidgetRoutingRules;
    statusLine->setText(QStringLiteral("收到 %1 条分流规则").arg(rules.size()));

    // A sorted table moves each row as soon as one of its cells is set, which
    // would scatter a rule's cells over several rows: fill unsorted, then let
    // the header's sort order apply once.
    const bool sorting = table->isSortingEnabled();
    table->setSortingEnabled(false);
    table->setRowCount(int(rules.size()));
    for (int row = 0; row < rules.size(); ++row) {
        const QJsonObject rule = rules.at(row).toObject();
        table->setItem(row, 0, new QTableWidgetItem(rule.value(QLatin1String("name")).toString()));
        table->setItem(row, 1, new QTableWidgetItem(rule.value(QLatin1String("process_name")).toString()));
        table->setItem(row, 2, new QTableWidgetItem(rule.value(QLatin1String("digital_signer")).toString()));
        table->setItem(row, 3, new QTableWidgetItem(QStringLiteral("已启用")));
    }
    table->setSortingEnabled(sorting);
    table->resizeColumnsToContents();
}

void RoutingRulesTab::on_btnRefreshRules_clicked()
{
    if (!rpcClient || !rpcClient->isConnected()) {
        statusLine->setText(QStringLiteral("未连接到服务端，无法获取分流规则"));
        return;
    }
    rpcClient->getEnabledAppSplitRules();
    statusLine->setText(QStringLiteral("正在获取分流规则..."));
}
