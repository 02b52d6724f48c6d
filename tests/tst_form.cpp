#include "connectionstatuscard.h"
#include "loading.h"
#include "orvalin.h"
#include "testenv.h"
#include "thememanager.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QTranslator>
#include <QtTest>

#include <memory>

// The main window's form: object names and classes that other code and the
// theme sheets rely on, the initial properties, and the texts in both languages.
class TstForm : public QObject
{
    Q_OBJECT

private slots:
    void objects_data();
    void objects();
    void properties_data();
    void properties();
    void englishTexts_data() { texts_data(); }
    void englishTexts();
    void chineseTexts_data() { texts_data(); }
    void chineseTexts();
    void initialState();
    void focusOnOpening();
    void formLabelsCentredOnFields();
    void statusCardNeverSqueezed_data();
    void statusCardNeverSqueezed();

private:
    void texts_data();
    static QList<QObject *> formObjects(QWidget *window, const QString &name);
    static QObject *formObject(QWidget *window, const QString &name);
    static QString textOf(QWidget *window, const QString &kind, const QString &name);
    static void checkTexts(bool withCatalogue);
};

// Objects of the main window's own form; the window's dialogs are its children
// too and reuse some names (labelHost, formLayout).
QList<QObject *> TstForm::formObjects(QWidget *window, const QString &name)
{
    QList<QObject *> result;
    for (QObject *object : window->findChildren<QObject *>(name)) {
        QWidget *widget = qobject_cast<QWidget *>(object);
        if (auto *layout = qobject_cast<QLayout *>(object))
            widget = layout->parentWidget();
        if (widget && widget->window() == window)
            result.append(object);
    }
    return result;
}

QObject *TstForm::formObject(QWidget *window, const QString &name)
{
    if (name == window->objectName())
        return window;
    const QList<QObject *> found = formObjects(window, name);
    return found.size() == 1 ? found.first() : nullptr;
}

void TstForm::objects_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");

    const QList<QPair<const char *, const char *>> objects = {
        {"verticalLayout_main", "QVBoxLayout"},
        {"tabWidget", "QTabWidget"},
        {"statusBar", "BoundedLabel"},
        {"tabGateway", "QWidget"},
        {"tabStatus", "QWidget"},
        {"tabSoftwareManagement", "QWidget"},
        {"tabSetting", "QWidget"},
        {"tabAbout", "QWidget"},
        // Gateway
        {"verticalLayout_gateway", "QVBoxLayout"},
        {"frameGateway", "QFrame"},
        {"verticalLayout_frame", "QVBoxLayout"},
        {"formLayout", "QFormLayout"},
        {"labelHost", "QLabel"},
        {"horizontalLayout_host", "QHBoxLayout"},
        {"comboBoxHost", "QComboBox"},
        {"buttonProfile", "QToolButton"},
        {"labelOTP", "QLabel"},
        {"lineEditOTP", "QLineEdit"},
        {"progressBar", "Loading"},
        {"horizontalLayout_connect", "QHBoxLayout"},
        {"buttonConnect", "QPushButton"},
        // Status
        {"verticalLayout_status", "QVBoxLayout"},
        {"frameStatus", "QFrame"},
        {"gridLayout_status", "QGridLayout"},
        {"labelChannelTypeTitle", "QLabel"},
        {"labelChannelType", "BoundedLabel"},
        {"labelTlsCipherSuiteTitle", "QLabel"},
        {"labelTlsCipherSuite", "BoundedLabel"},
        {"labelDtlsCipherSuiteTitle", "QLabel"},
        {"labelDtlsCipherSuite", "BoundedLabel"},
        {"labelDTLSPortTitle", "QLabel"},
        {"labelDTLSPort", "BoundedLabel"},
        {"labelServerAddressTitle", "QLabel"},
        {"labelServerAddress", "BoundedLabel"},
        {"labelLocalAddressTitle", "QLabel"},
        {"labelLocalAddress", "BoundedLabel"},
        {"labelVPNAddressTitle", "QLabel"},
        {"labelVPNAddress", "BoundedLabel"},
        {"labelMTUTitle", "QLabel"},
        {"labelMTU", "BoundedLabel"},
        {"labelDNSTitle", "QLabel"},
        {"labelDNS", "BoundedLabel"},
        {"horizontalLayout_details", "QHBoxLayout"},
        {"buttonDetails", "QPushButton"},
        // Software management
        {"verticalLayout_software", "QVBoxLayout"},
        {"tabWidgetSoftware", "QTabWidget"},
        {"tabInstalledSoftware", "QWidget"},
        {"tabRoutingRules", "QWidget"},
        {"verticalLayout_installed", "QVBoxLayout"},
        {"horizontalLayout_search", "QHBoxLayout"},
        {"labelSearch", "QLabel"},
        {"lineEditSoftwareSearch", "QLineEdit"},
        {"tableWidgetSoftware", "QTableWidget"},
        {"horizontalLayout_software_buttons", "QHBoxLayout"},
        {"btnScanSoftware", "QPushButton"},
        {"btnSelectDirectory", "QPushButton"},
        {"btnScanProcesses", "QPushButton"},
        {"btnReportSoftware", "QPushButton"},
        {"btnMyReports", "QPushButton"},
        {"verticalLayout_routing", "QVBoxLayout"},
        {"tableWidgetRoutingRules", "QTableWidget"},
        {"horizontalLayout_routing_buttons", "QHBoxLayout"},
        {"btnRefreshRules", "QPushButton"},
        // Setting
        {"scrollAreaSetting", "QScrollArea"},
        {"verticalLayout_setting", "QVBoxLayout"},
        {"frameSetting", "QFrame"},
        {"verticalLayout_frame_setting", "QVBoxLayout"},
        {"checkBoxAutoLogin", "QCheckBox"},
        {"checkBoxAutoStart", "QCheckBox"},
        {"checkBoxMinimize", "QCheckBox"},
        {"checkBoxBlock", "QCheckBox"},
        {"checkBoxDebug", "QCheckBox"},
        {"checkBoxCiscoCompat", "QCheckBox"},
        {"checkBoxDtls", "QCheckBox"},
        {"checkBoxLang", "QCheckBox"},
        {"horizontalLayout_theme", "QHBoxLayout"},
        {"labelTheme", "QLabel"},
        {"comboBoxTheme", "QComboBox"},
        // About
        {"verticalLayout_about", "QVBoxLayout"},
        {"frameAbout", "QFrame"},
        {"verticalLayout_frame_about", "QVBoxLayout"},
        {"labelLogo", "QLabel"},
        {"labelCopyright", "QLabel"},
        {"line", "QFrame"},
        {"horizontalLayout_buttons", "QHBoxLayout"},
        {"buttonViewLog", "QPushButton"},
        {"buttonSecurityTips", "QPushButton"},
        {"horizontalLayout_links", "QHBoxLayout"},
        {"labelHelp", "QLabel"},
        {"labelUpdate", "QLabel"},
    };
    for (const auto &[name, className] : objects)
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className);
}

void TstForm::objects()
{
    QFETCH(QString, name);
    QFETCH(QString, className);

    TestEnv env;
    Orvalin window;
    // The software tab's content is built on first use.
    window.software();
    const QList<QObject *> found = formObjects(&window, name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
}

void TstForm::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");

    auto row = [](const char *name, const char *property, const QVariant &value) {
        QTest::addRow("%s.%s", name, property) << QString::fromLatin1(name) << QByteArray(property) << value;
    };
    row("Orvalin", "minimumSize", QSize(480, 520));
    row("verticalLayout_main", "spacing", 0);
    row("verticalLayout_main", "contentsMargins", QVariant::fromValue(QMargins()));
    row("tabWidget", "documentMode", true);
    row("tabWidget", "tabsClosable", false);
    row("tabWidget", "tabPosition", int(QTabWidget::North));
    row("tabWidget", "tabShape", int(QTabWidget::Rounded));
    row("statusBar", "minimumSize", QSize(0, 36));
    row("statusBar", "textInteractionFlags", int(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse));
    row("verticalLayout_gateway", "spacing", 16);
    row("verticalLayout_gateway", "contentsMargins", QVariant::fromValue(QMargins(24, 24, 24, 24)));
    row("frameGateway", "frameShape", int(QFrame::StyledPanel));
    row("frameGateway", "frameShadow", int(QFrame::Raised));
    row("verticalLayout_frame", "spacing", 20);
    row("verticalLayout_frame", "contentsMargins", QVariant::fromValue(QMargins(24, 24, 24, 24)));
    row("formLayout", "horizontalSpacing", 16);
    row("formLayout", "verticalSpacing", 16);
    row("formLayout", "labelAlignment", int(Qt::AlignRight | Qt::AlignVCenter));
    row("formLayout", "formAlignment", int(Qt::AlignHCenter | Qt::AlignTop));
    row("comboBoxHost", "editable", false);
    row("comboBoxHost", "minimumSize", QSize(200, 40));
    row("buttonProfile", "minimumSize", QSize(40, 40));
    row("lineEditOTP", "minimumSize", QSize(200, 40));
    row("lineEditOTP", "echoMode", int(QLineEdit::Password));
    row("progressBar", "minimumSize", QSize(90, 60));
    row("horizontalLayout_connect", "spacing", 0);
    row("buttonConnect", "minimumSize", QSize(200, 48));
    row("frameStatus", "frameShape", int(QFrame::StyledPanel));
    row("gridLayout_status", "horizontalSpacing", 24);
    row("gridLayout_status", "verticalSpacing", 16);
    row("gridLayout_status", "contentsMargins", QVariant::fromValue(QMargins(24, 24, 24, 24)));
    row("labelMTUTitle", "styleSheet", QStringLiteral("color: #64748B;"));
    row("labelDNS", "textInteractionFlags", int(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse));
    row("buttonDetails", "minimumSize", QSize(120, 40));
    row("verticalLayout_software", "spacing", 8);
    row("verticalLayout_software", "contentsMargins", QVariant::fromValue(QMargins(12, 12, 12, 12)));
    row("verticalLayout_installed", "contentsMargins", QVariant::fromValue(QMargins(8, 8, 8, 8)));
    row("lineEditSoftwareSearch", "minimumSize", QSize(0, 32));
    row("tableWidgetSoftware", "columnCount", 6);
    row("tableWidgetSoftware", "editTriggers", int(QAbstractItemView::NoEditTriggers));
    row("tableWidgetSoftware", "alternatingRowColors", true);
    row("tableWidgetSoftware", "selectionMode", int(QAbstractItemView::ExtendedSelection));
    row("tableWidgetSoftware", "selectionBehavior", int(QAbstractItemView::SelectRows));
    row("tableWidgetSoftware", "sortingEnabled", true);
    row("btnMyReports", "minimumSize", QSize(0, 36));
    row("tableWidgetRoutingRules", "columnCount", 4);
    row("tableWidgetRoutingRules", "editTriggers", int(QAbstractItemView::NoEditTriggers));
    row("tableWidgetRoutingRules", "selectionMode", int(QAbstractItemView::SingleSelection));
    row("tableWidgetRoutingRules", "selectionBehavior", int(QAbstractItemView::SelectRows));
    row("tableWidgetRoutingRules", "sortingEnabled", true);
    row("btnRefreshRules", "minimumSize", QSize(0, 36));
    row("verticalLayout_frame_setting", "spacing", 16);
    row("checkBoxLang", "minimumSize", QSize(0, 32));
    row("horizontalLayout_theme", "spacing", 16);
    row("comboBoxTheme", "minimumSize", QSize(150, 36));
    row("comboBoxTheme", "count", 2);
    row("verticalLayout_frame_about", "spacing", 16);
    row("labelCopyright", "openExternalLinks", true);
    row("labelHelp", "openExternalLinks", true);
    row("labelUpdate", "openExternalLinks", true);
    row("line", "frameShape", int(QFrame::HLine));
    row("line", "frameShadow", int(QFrame::Sunken));
    row("buttonViewLog", "minimumSize", QSize(0, 40));
    row("buttonSecurityTips", "minimumSize", QSize(0, 40));
}

void TstForm::properties()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);

    TestEnv env;
    Orvalin window;
    // The software tab's content is built on first use.
    window.software();
    QObject *object = formObject(&window, name);
    QVERIFY(object);
    QVariant actual = object->property(property.constData());
    // QGridLayout has no properties for its two spacings.
    if (auto *grid = qobject_cast<QGridLayout *>(object); grid && property == "horizontalSpacing")
        actual = grid->horizontalSpacing();
    if (auto *grid = qobject_cast<QGridLayout *>(object); grid && property == "verticalSpacing")
        actual = grid->verticalSpacing();
    QVERIFY2(actual.isValid(), property.constData());
    // Enums and flags come back as their own types; compare their numeric values.
    if (value.typeId() == QMetaType::Int && actual.typeId() != QMetaType::Int)
        actual = QVariant(actual.toInt());
    QCOMPARE(actual, value);
}

void TstForm::texts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");

    auto row = [](const char *kind, const char *name, const QString &english, const QString &chinese) {
        QTest::addRow("%s %s", kind, name)
            << QString::fromLatin1(kind) << QString::fromLatin1(name) << english << chinese;
    };
    auto same = [&row](const char *kind, const char *name, const QString &text) { row(kind, name, text, text); };

    row("tab", "tabGateway", QStringLiteral("Gateway"), QStringLiteral("网关"));
    row("tab", "tabStatus", QStringLiteral("Status"), QStringLiteral("状态"));
    same("tab", "tabSoftwareManagement", QStringLiteral("软件管理"));
    row("tab", "tabSetting", QStringLiteral("Setting"), QStringLiteral("设置"));
    row("tab", "tabAbout", QStringLiteral("About"), QStringLiteral("帮助"));
    same("tab", "tabInstalledSoftware", QStringLiteral("已安装软件"));
    same("tab", "tabRoutingRules", QStringLiteral("分流规则"));

    row("text", "labelHost", QStringLiteral("Host:"), QStringLiteral("主机："));
    row("text", "labelOTP", QStringLiteral("OTP:"), QStringLiteral("OTP："));
    row("placeholder", "lineEditOTP", QStringLiteral("One Time Password"), QStringLiteral("临时密码"));
    same("text", "buttonProfile", QStringLiteral("+"));
    same("text", "buttonConnect", QStringLiteral("连接"));

    row("text", "labelChannelTypeTitle", QStringLiteral("Channel Type:"), QStringLiteral("通道类型："));
    row("text", "labelTlsCipherSuiteTitle", QStringLiteral("TLS CipherSuite:"), QStringLiteral("TLS 加密套件："));
    row("text", "labelDtlsCipherSuiteTitle", QStringLiteral("DTLS CipherSuite:"), QStringLiteral("DTLS 加密套件："));
    row("text", "labelDTLSPortTitle", QStringLiteral("DTLS Port:"), QStringLiteral("DTLS 端口："));
    row("text", "labelServerAddressTitle", QStringLiteral("Server Address:"), QStringLiteral("服务器地址："));
    row("text", "labelLocalAddressTitle", QStringLiteral("Local Address:"), QStringLiteral("本地地址："));
    row("text", "labelVPNAddressTitle", QStringLiteral("VPN Address:"), QStringLiteral("VPN 地址："));
    row("text", "labelMTUTitle", QStringLiteral("MTU:"), QStringLiteral("MTU："));
    row("text", "labelDNSTitle", QStringLiteral("DNS:"), QStringLiteral("DNS："));
    row("text", "buttonDetails", QStringLiteral("Details"), QStringLiteral("详情"));

    same("text", "labelSearch", QStringLiteral("搜索:"));
    same("placeholder", "lineEditSoftwareSearch", QStringLiteral("输入软件名称搜索..."));
    const QStringList softwareHeaders
        = {QStringLiteral("软件名称"), QStringLiteral("版本"),     QStringLiteral("发布者"),
           QStringLiteral("安装路径"), QStringLiteral("安装日期"), QStringLiteral("匹配状态")};
    same("headers", "tableWidgetSoftware", softwareHeaders.join(QLatin1Char('|')));
    same("headers", "tableWidgetRoutingRules", QStringLiteral("规则名称|进程名|目标地址|状态"));
    same("text", "btnScanSoftware", QStringLiteral("扫描"));
    same("text", "btnSelectDirectory", QStringLiteral("选择目录"));
    same("text", "btnScanProcesses", QStringLiteral("扫描进程"));
    same("text", "btnReportSoftware", QStringLiteral("上报选中"));
    same("text", "btnMyReports", QStringLiteral("我的上报"));
    same("text", "btnRefreshRules", QStringLiteral("刷新"));

    same("text", "checkBoxAutoLogin", QStringLiteral("启动时自动连接上次使用的 VPN"));
    same("text", "checkBoxAutoStart", QStringLiteral("开机自动启动"));
    same("text", "checkBoxMinimize", QStringLiteral("VPN 连接成功后最小化当前窗口"));
    same("text", "checkBoxBlock", QStringLiteral("若服务器证书不可信，终止连接"));
    same("text", "checkBoxDebug", QStringLiteral("启用调试日志"));
    same("text", "checkBoxCiscoCompat", QStringLiteral("Cisco 协议兼容模式"));
    same("text", "checkBoxDtls", QStringLiteral("禁用 DTLS 通道"));
    same("text", "checkBoxLang", QStringLiteral("使用本地语言显示界面"));
    same("text", "labelTheme", QStringLiteral("主题:"));
    same("items", "comboBoxTheme", QStringLiteral("浅色|深色"));

    row("text", "buttonViewLog", QStringLiteral("Connection logs"), QStringLiteral("连接日志"));
    row("text", "buttonSecurityTips", QStringLiteral("Security tips"), QStringLiteral("安全提醒"));
    same("plain", "labelLogo", QStringLiteral("Kestrum SSLVPN Client"));
    same("plain", "labelUpdate", QStringLiteral("最新版本"));
}

// The text a user sees for one row of texts_data: rich texts are compared by their plain text.
QString TstForm::textOf(QWidget *window, const QString &kind, const QString &name)
{
    QObject *object = formObject(window, name);
    if (!object)
        return QStringLiteral("<missing %1>").arg(name);
    if (kind == QLatin1String("tab")) {
        auto *page = qobject_cast<QWidget *>(object);
        auto *tabs = qobject_cast<QTabWidget *>(page->parentWidget()->parentWidget());
        return tabs ? tabs->tabText(tabs->indexOf(page)) : QString();
    }
    if (kind == QLatin1String("placeholder"))
        return object->property("placeholderText").toString();
    if (kind == QLatin1String("headers")) {
        auto *table = qobject_cast<QTableWidget *>(object);
        QStringList headers;
        for (int i = 0; i < table->columnCount(); ++i)
            headers.append(table->horizontalHeaderItem(i)->text());
        return headers.join(QLatin1Char('|'));
    }
    if (kind == QLatin1String("items")) {
        auto *combo = qobject_cast<QComboBox *>(object);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i));
        return items.join(QLatin1Char('|'));
    }
    if (kind == QLatin1String("plain")) {
        QTextDocument document;
        document.setHtml(object->property("text").toString());
        return document.toPlainText().trimmed();
    }
    return object->property("text").toString();
}

void TstForm::checkTexts(bool withCatalogue)
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, english);
    QFETCH(QString, chinese);

    QTranslator translator;
    if (withCatalogue) {
        QVERIFY(translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("orvalin"),
                                QStringLiteral("_"), QStringLiteral(":/i18n"), QString()));
        QCoreApplication::installTranslator(&translator);
    }
    TestEnv env;
    std::unique_ptr<Orvalin> window = std::make_unique<Orvalin>();
    window->software();
    const QString shown = textOf(window.get(), kind, name);
    window.reset();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(shown, withCatalogue ? chinese : english);
}

void TstForm::englishTexts()
{
    checkTexts(false);
}

void TstForm::chineseTexts()
{
    checkTexts(true);
}

void TstForm::initialState()
{
    TestEnv env;
    Orvalin window;
    // The software tab's content is built on first use.
    window.software();

    QCOMPARE(window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->currentIndex(), 0);
    QCOMPARE(window.findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"))->currentIndex(), 0);
    QVERIFY(!qobject_cast<QWidget *>(formObject(&window, QStringLiteral("buttonDetails")))->isEnabled());
    QVERIFY(!window.findChild<Loading *>(QStringLiteral("progressBar"))->isRunning());

    const QStringList values = {QStringLiteral("labelChannelType"),
                                QStringLiteral("labelTlsCipherSuite"),
                                QStringLiteral("labelDtlsCipherSuite"),
                                QStringLiteral("labelDTLSPort"),
                                QStringLiteral("labelServerAddress"),
                                QStringLiteral("labelLocalAddress"),
                                QStringLiteral("labelVPNAddress"),
                                QStringLiteral("labelMTU"),
                                QStringLiteral("labelDNS")};
    for (const QString &name : values) {
        auto *label = qobject_cast<QLabel *>(formObject(&window, name));
        QVERIFY2(label && label->text().isEmpty(), qPrintable(name));
    }

    // The contact notice and the About links are complete sentences and real links.
    QVERIFY(!window.findChild<QLabel *>(QStringLiteral("statusBar"))->text().isEmpty());
    for (const char *name : {"labelCopyright", "labelHelp", "labelUpdate"}) {
        const QString text = window.findChild<QLabel *>(QString::fromLatin1(name))->text();
        QVERIFY2(text.contains(QLatin1String("<a href=\"https://")), name);
        QVERIFY2(text.contains(QLatin1String("#2563EB")), name);
    }
}

// The one-time password is what a returning user types first.
void TstForm::focusOnOpening()
{
    TestEnv env;
    Orvalin window;
    // The software tab's content is built on first use.
    window.software();
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), formObject(&window, QStringLiteral("lineEditOTP")));
}

// The Gateway form's labels line up with the middle of their taller fields.
void TstForm::formLabelsCentredOnFields()
{
    TestEnv env;
    Orvalin window;
    // The software tab's content is built on first use.
    window.software();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<QPair<QString, QString>> rows = {{QStringLiteral("labelHost"), QStringLiteral("comboBoxHost")},
                                                 {QStringLiteral("labelOTP"), QStringLiteral("lineEditOTP")}};
    for (const auto &[labelName, fieldName] : rows) {
        auto *label = qobject_cast<QLabel *>(formObject(&window, labelName));
        auto *field = qobject_cast<QWidget *>(formObject(&window, fieldName));
        QVERIFY(label && field);
        const int labelMiddle = label->mapTo(&window, label->contentsRect().center()).y();
        const int fieldMiddle = field->mapTo(&window, field->rect().center()).y();
        const QString where = QStringLiteral("%1 at %2, %3 at %4").arg(labelName).arg(labelMiddle);
        QVERIFY2(qAbs(labelMiddle - fieldMiddle) <= 2, qPrintable(where.arg(fieldName).arg(fieldMiddle)));
    }
}

QTEST_MAIN(TstForm)
void TstForm::statusCardNeverSqueezed_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("disconnected") << int(ConnectionStatusCard::Disconnected);
    QTest::newRow("connecting") << int(ConnectionStatusCard::Connecting);
    QTest::newRow("connected") << int(ConnectionStatusCard::Connected);
    QTest::newRow("error") << int(ConnectionStatusCard::Error);
}

// The tabs below want more height than the window has; the card's rows (the
// connected state has an extra one) must keep theirs all the same.
void TstForm::statusCardNeverSqueezed()
{
    QFETCH(int, status);
    TestEnv env;
    ThemeManager::instance()->setTheme(ThemeManager::Light);
    Orvalin window;
    auto *card = window.findChild<ConnectionStatusCard *>();
    QVERIFY(card);
    card->setStatus(ConnectionStatusCard::Status(status));
    card->setServerText(QStringLiteral("vpn.example.com"));
    card->setVpnAddress(QStringLiteral("10.8.0.12"));
    card->setErrorText(QStringLiteral("The gateway refused the one-time password"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();

    for (QLabel *label : card->findChildren<QLabel *>()) {
        if (!label->isVisible())
            continue;
        const QString what = label->objectName() + QLatin1Char(' ') + label->text();
        QVERIFY2(label->height() >= label->minimumSizeHint().height(), qPrintable(what));
    }
    auto *statusBar = window.findChild<QLabel *>(QStringLiteral("statusBar"));
    QVERIFY(statusBar->geometry().bottom() < window.height());
}

#include "tst_form.moc"
