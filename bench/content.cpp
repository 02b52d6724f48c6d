// The content floor: a window with what the client's first screen holds — the
// card above six tabs, the same Chinese and emoji texts, a table, buttons,
// check boxes, the light theme's style sheet — and nothing behind it. Like
// bench_floor it opens the WebSocket 50 ms after it is first shown and sends
// "config". The start-up benchmark measures the real client against it.
#include "configsender.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QWidget *gatewayTab()
{
    auto *tab = new QWidget;
    auto *form = new QFormLayout(tab);
    auto *hostRow = new QHBoxLayout;
    auto *hosts = new QComboBox;
    hosts->addItems({QStringLiteral("office"), QStringLiteral("lab")});
    hostRow->addWidget(hosts, 1);
    hostRow->addWidget(new QToolButton);
    form->addRow(QStringLiteral("Host:"), hostRow);
    auto *otp = new QLineEdit;
    otp->setPlaceholderText(QStringLiteral("One Time Password"));
    form->addRow(QStringLiteral("OTP:"), otp);
    form->addRow(new QPushButton(QStringLiteral("连接")));
    return tab;
}

QWidget *statusTab()
{
    auto *tab = new QWidget;
    auto *grid = new QGridLayout(tab);
    const QStringList titles{QStringLiteral("Channel Type:"),
                             QStringLiteral("TLS CipherSuite:"),
                             QStringLiteral("DTLS CipherSuite:"),
                             QStringLiteral("DTLS Port:"),
                             QStringLiteral("Server Address:"),
                             QStringLiteral("Local Address:"),
                             QStringLiteral("VPN Address:"),
                             QStringLiteral("MTU:"),
                             QStringLiteral("DNS:")};
    for (int row = 0; row < titles.size(); ++row) {
        grid->addWidget(new QLabel(titles.at(row)), row, 0);
        auto *value = new QLabel;
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, row, 1);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(new QPushButton(QStringLiteral("Details")));
    buttons->addWidget(new QPushButton(QStringLiteral("History")));
    grid->addLayout(buttons, int(titles.size()), 0, 1, 2);
    return tab;
}

QWidget *softwareTab()
{
    auto *inner = new QTabWidget;
    auto *installed = new QWidget;
    auto *column = new QVBoxLayout(installed);
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel(QStringLiteral("搜索:")));
    auto *search = new QLineEdit;
    search->setPlaceholderText(QStringLiteral("输入软件名称搜索..."));
    searchRow->addWidget(search);
    column->addLayout(searchRow);
    auto *table = new QTableWidget(0, 5);
    table->setHorizontalHeaderLabels({QStringLiteral("软件名称"), QStringLiteral("版本"), QStringLiteral("发布者"),
                                      QStringLiteral("安装日期"), QStringLiteral("路径")});
    table->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(table);
    auto *buttons = new QHBoxLayout;
    for (const QString &text : {QStringLiteral("扫描"), QStringLiteral("选择目录"), QStringLiteral("扫描进程"),
                                QStringLiteral("上报选中"), QStringLiteral("我的上报")})
        buttons->addWidget(new QPushButton(text));
    column->addLayout(buttons);
    inner->addTab(installed, QStringLiteral("已安装软件"));
    auto *rules = new QWidget;
    auto *rulesColumn = new QVBoxLayout(rules);
    rulesColumn->addWidget(new QTableWidget(0, 3));
    rulesColumn->addWidget(new QPushButton(QStringLiteral("刷新")));
    inner->addTab(rules, QStringLiteral("分流规则"));
    auto *tab = new QWidget;
    (new QVBoxLayout(tab))->addWidget(inner);
    return tab;
}

QWidget *settingTab()
{
    auto *tab = new QWidget;
    auto *column = new QVBoxLayout(tab);
    for (const QString &text :
         {QStringLiteral("启动时自动连接上次使用的 VPN"), QStringLiteral("开机自动启动"),
          QStringLiteral("VPN 连接成功后最小化当前窗口"), QStringLiteral("若服务器证书不可信，终止连接"),
          QStringLiteral("启用调试日志"), QStringLiteral("Cisco 协议兼容模式"), QStringLiteral("禁用 DTLS 通道"),
          QStringLiteral("使用本地语言显示界面")})
        column->addWidget(new QCheckBox(text));
    auto *themeRow = new QHBoxLayout;
    themeRow->addWidget(new QLabel(QStringLiteral("主题:")));
    auto *themes = new QComboBox;
    themes->addItems({QStringLiteral("浅色"), QStringLiteral("深色")});
    themeRow->addWidget(themes);
    column->addLayout(themeRow);
    column->addStretch();
    return tab;
}

QWidget *aboutTab()
{
    auto *tab = new QWidget;
    auto *column = new QVBoxLayout(tab);
    column->addWidget(new QLabel(QStringLiteral(
        "<p align=\"center\"><span style=\"font-size:18pt; font-weight:600; color:#2563EB;\">Kestrum SSLVPN "
        "Client</span></p>")));
    column->addWidget(new QLabel(
        QStringLiteral("<p align=\"center\"><span style=\"color:#64748B;\">© 2024 Kestrum Networks</span> <a "
                       "href=\"https://www.kestrum.example/\">www.kestrum.example</a></p>")));
    for (const QString &text :
         {QStringLiteral("Connection logs"), QStringLiteral("Security tips"), QStringLiteral("Export diagnostics")})
        column->addWidget(new QPushButton(text));
    column->addWidget(new QLabel(QStringLiteral("<p align=\"center\"><a "
                                                "href=\"https://www.kestrum.example/sslvpn/help/\">使用帮助</a></p>")));
    column->addWidget(new QLabel(QStringLiteral(
        "<p align=\"center\"><a href=\"https://www.kestrum.example/sslvpn/releases/\">最新版本</a></p>")));
    return tab;
}

QWidget *statusCard()
{
    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("connectionStatusCard"));
    auto *row = new QHBoxLayout(card);
    auto *icon = new QLabel(QStringLiteral("🔓"));
    icon->setStyleSheet(QStringLiteral("font-size: 32px;"));
    row->addWidget(icon);
    auto *texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("未连接")));
    auto *hint = new QLabel(QStringLiteral("点击 \"连接\" 开始"));
    hint->setStyleSheet(QStringLiteral("color: #64748B;"));
    texts->addWidget(hint);
    row->addLayout(texts, 1);
    auto *disconnect = new QPushButton(QStringLiteral("断开连接"));
    disconnect->hide();
    row->addWidget(disconnect);
    return card;
}

class ContentWindow : public QWidget
{
public:
    ContentWindow()
    {
        setWindowTitle(QStringLiteral("Kestrum SSLVPN Client v1.6.0"));
        auto *column = new QVBoxLayout(this);
        column->addWidget(statusCard());
        auto *tabs = new QTabWidget;
        tabs->addTab(gatewayTab(), QStringLiteral("Gateway"));
        tabs->addTab(statusTab(), QStringLiteral("Status"));
        tabs->addTab(softwareTab(), QStringLiteral("软件管理"));
        tabs->addTab(settingTab(), QStringLiteral("Setting"));
        tabs->addTab(aboutTab(), QStringLiteral("About"));
        column->addWidget(tabs, 1);
        auto *statusLine = new QLabel(QStringLiteral("如遇连接问题，请联系贵单位 IT 服务台：support@kestrum.example"));
        statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
        column->addWidget(statusLine);
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        QWidget::showEvent(event);
        sender.windowShown();
    }

private:
    ConfigSender sender;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The client's own light theme, compiled into this program from the same file.
    QFile sheet(QStringLiteral(":/theme/light.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    ContentWindow window;
    window.resize(560, 600);
    window.show();
    return app.exec();
}
