#include "configmanager.h"
#include "appglobals.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "fakeagent.h"
#include "messageboxes.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "secretstore.h"
#include "testenv.h"
#include "traycontroller.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStringListModel>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <memory>

// What keyboard and screen-reader users meet: the names assistive technology
// reads for each control, in both languages, the order Tab walks the controls
// in, and the keys that open, accept and close the dialogs.
class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyControlHasAName_data();
    void everyControlHasAName();
    void namedControls_data();
    void namedControls();
    void statusCardSpeaksForItsState_data();
    void statusCardSpeaksForItsState();
    void statusValuesAreRead();

    void gatewayTabOrder();
    void statusCardComesFirst();
    void tabsFollowVisualOrder_data();
    void tabsFollowVisualOrder();
    void connectFromTheKeyboard();
    void profileDialogKeys();
    void detailDialogClosesWithEscape();
    void messageBoxKeys_data();
    void messageBoxKeys();

private:
    void startWindow(bool chinese);
    QWidget *surface(const QString &name) const;
    template<typename T = QWidget>
    T *child(const QString &name) const
    {
        return window->findChild<T *>(name);
    }

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<QTranslator> translator;
    std::unique_ptr<Orvalin> window;
};

namespace {

QString accessibleText(QObject *object, QAccessible::Text kind)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(kind) : QStringLiteral("<no interface>");
}

// The widgets a user reaches with the keyboard or the mouse: everything that
// takes focus, minus the parts Qt builds inside its own composite widgets.
QList<QWidget *> interactiveWidgets(QWidget *root)
{
    QList<QWidget *> widgets;
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (widget->focusPolicy() == Qt::NoFocus || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        // A combo box's popup list is a window of its own, named by the box.
        if (widget->window() != root->window())
            continue;
        widgets.append(widget);
    }
    return widgets;
}

// The controls inside `area` that Tab stops at, in focus-chain order.
QList<QWidget *> tabStops(QWidget *window, QWidget *area)
{
    QList<QWidget *> stops;
    QWidget *widget = window;
    do {
        widget = widget->nextInFocusChain();
        if (area->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled()
            && !widget->isHidden())
            stops.append(widget);
    } while (widget != window);
    return stops;
}

QStringList namesOf(const QList<QWidget *> &widgets)
{
    QStringList names;
    for (const QWidget *widget : widgets)
        names.append(widget->objectName());
    return names;
}

} // namespace

void TestAccessibility::init()
{
    secretStoreClearService();
    env = std::make_unique<TestEnv>();
    agent = std::make_unique<FakeAgent>();
    agent->answer("config", "ready");
}

void TestAccessibility::cleanup()
{
    window.reset();
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
    agent.reset();
    env.reset();
}

void TestAccessibility::startWindow(bool chinese)
{
    if (chinese) {
        translator = std::make_unique<QTranslator>();
        QVERIFY(translator->load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(translator.get());
    }
    window = std::make_unique<Orvalin>();
    window->software();
    window->setAgentUrl(agent->url());
    window->show();
    // The link's "config" marks the end of the deferred set-up (tray, dialogs).
    QTRY_COMPARE(agent->requestsFor("config").size(), 1);
}

QWidget *TestAccessibility::surface(const QString &name) const
{
    if (name == QLatin1String("ProfileManager"))
        return window->findChild<ProfileManager *>();
    if (name == QLatin1String("DetailDialog"))
        return window->details();
    return child(name);
}

void TestAccessibility::everyControlHasAName_data()
{
    QTest::addColumn<QString>("surface");
    QTest::addColumn<bool>("chinese");
    for (const char *surface : {"tabGateway", "tabStatus", "tabSoftwareManagement", "tabSetting", "tabAbout",
                                "connectionStatusCard", "ProfileManager", "DetailDialog"}) {
        QTest::addRow("%s en", surface) << QString::fromLatin1(surface) << false;
        QTest::addRow("%s zh_CN", surface) << QString::fromLatin1(surface) << true;
    }
}

void TestAccessibility::everyControlHasAName()
{
    QFETCH(QString, surface);
    QFETCH(bool, chinese);
    startWindow(chinese);
    QWidget *root = this->surface(surface);
    QVERIFY(root);

    const QList<QWidget *> widgets = interactiveWidgets(root);
    QVERIFY(!widgets.isEmpty());
    QStringList unnamed;
    for (QWidget *widget : widgets) {
        if (accessibleText(widget, QAccessible::Name).trimmed().isEmpty())
            unnamed.append(widget->objectName() + QLatin1Char('(') + QLatin1String(widget->metaObject()->className())
                           + QLatin1Char(')'));
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1String(", "))));
}

void TestAccessibility::namedControls_data()
{
    QTest::addColumn<QString>("surface");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<bool>("described");

    QTest::newRow("profile button") << "tabGateway"
                                    << "buttonProfile"
                                    << "Manage profiles"
                                    << "管理连接配置" << true;
    QTest::newRow("one-time password") << "tabGateway"
                                       << "lineEditOTP"
                                       << "One Time Password"
                                       << "临时密码" << false;
    QTest::newRow("loading ring") << "tabGateway"
                                  << "progressBar"
                                  << "Connection progress"
                                  << "连接进度" << true;
    QTest::newRow("status value") << "tabStatus"
                                  << "labelTlsCipherSuite"
                                  << "TLS CipherSuite"
                                  << "TLS 加密套件" << false;
    QTest::newRow("excluded routes") << "DetailDialog"
                                     << "tableExcluded"
                                     << "Excluded Routes"
                                     << "排除路由" << true;
    QTest::newRow("secured routes") << "DetailDialog"
                                    << "tableSecured"
                                    << "Secured Routes"
                                    << "安全路由" << true;
    QTest::newRow("profile list") << "ProfileManager"
                                  << "listProfile"
                                  << "Profiles"
                                  << "连接配置" << false;
}

void TestAccessibility::namedControls()
{
    QFETCH(QString, surface);
    QFETCH(QString, object);
    QFETCH(QString, english);
    QFETCH(QString, chinese);
    QFETCH(bool, described);

    for (const bool zh : {false, true}) {
        startWindow(zh);
        QWidget *widget = this->surface(surface)->findChild<QWidget *>(object);
        QVERIFY(widget);
        QCOMPARE(accessibleText(widget, QAccessible::Name), zh ? chinese : english);
        if (described)
            QVERIFY(!accessibleText(widget, QAccessible::Description).isEmpty());
        cleanup();
        init();
    }
}

// A value label is named after its title; what it shows is its
// description, read when asked, so the reader hears the value on screen.
void TestAccessibility::statusValuesAreRead()
{
    startWindow(false);
    auto *value = child<QLabel>(QStringLiteral("labelVPNAddress"));
    QVERIFY(value);
    QCOMPARE(accessibleText(value, QAccessible::Name), QStringLiteral("VPN Address"));
    value->setText(QStringLiteral("10.8.0.23"));
    QCOMPARE(accessibleText(value, QAccessible::Description), QStringLiteral("10.8.0.23"));
    value->setText(QStringLiteral("10.8.0.42"));
    QCOMPARE(accessibleText(value, QAccessible::Description), QStringLiteral("10.8.0.42"));
    // Other labels keep Qt's own reading: their text is their name.
    QCOMPARE(accessibleText(child<QLabel>(QStringLiteral("labelVPNAddressTitle")), QAccessible::Name),
             QStringLiteral("VPN Address:"));
}

void TestAccessibility::statusCardSpeaksForItsState_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("name");
    using Card = ConnectionStatusCard;
    QTest::newRow("connecting en") << false << int(Card::Connecting) << "Connecting";
    QTest::newRow("connected en") << false << int(Card::Connected) << "Connected";
    QTest::newRow("error en") << false << int(Card::Error) << "Connection failed";
    QTest::newRow("connecting zh") << true << int(Card::Connecting) << "正在连接";
    QTest::newRow("connected zh") << true << int(Card::Connected) << "已连接";
    QTest::newRow("error zh") << true << int(Card::Error) << "连接失败";
}

void TestAccessibility::statusCardSpeaksForItsState()
{
    QFETCH(bool, chinese);
    QFETCH(int, state);
    QFETCH(QString, name);
    startWindow(chinese);
    auto *card = window->findChild<ConnectionStatusCard *>();
    QCOMPARE(accessibleText(card, QAccessible::Name), chinese ? QString("未连接") : QString("Not connected"));
    QVERIFY(!accessibleText(card, QAccessible::Description).isEmpty());

    card->setStatus(ConnectionStatusCard::Status(state));
    QCOMPARE(accessibleText(card, QAccessible::Name), name);
    card->setStatus(ConnectionStatusCard::Disconnected);
    QCOMPARE(accessibleText(card, QAccessible::Name), chinese ? QString("未连接") : QString("Not connected"));

    // The emoji says what the title says: it is skipped, with no name of its own.
    QLabel *icon = nullptr;
    for (QLabel *label : card->findChildren<QLabel *>()) {
        if (label->text() == QStringLiteral("🔓"))
            icon = label;
    }
    QVERIFY(icon);
    QAccessibleInterface *iconInterface = QAccessible::queryAccessibleInterface(icon);
    QVERIFY(iconInterface);
    QCOMPARE(iconInterface->text(QAccessible::Name), QString());
    QVERIFY(iconInterface->state().invisible);

    // The tray icon is named by its tooltip, in the interface language.
    auto *tray = window->findChild<TrayController *>();
    QCOMPARE(tray->icon()->toolTip(), chinese ? QString("Kestrum SSLVPN 客户端") : QString("Kestrum SSLVPN Client"));
}

void TestAccessibility::gatewayTabOrder()
{
    startWindow(false);
    const QList<QWidget *> stops = tabStops(window.get(), child("tabGateway"));
    QCOMPARE(namesOf(stops), QStringList({"comboBoxHost", "buttonProfile", "lineEditOTP", "buttonConnect"}));

    // The same walk with the keyboard, as a user makes it.
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    child("comboBoxHost")->setFocus(Qt::TabFocusReason);
    for (const char *next : {"buttonProfile", "lineEditOTP", "buttonConnect"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child(QString::fromLatin1(next)));
    }
}

void TestAccessibility::statusCardComesFirst()
{
    startWindow(false);
    auto *card = window->findChild<ConnectionStatusCard *>();
    card->setStatus(ConnectionStatusCard::Connected);
    QCoreApplication::processEvents();
    // The card sits above the tabs: its button is the first stop, before the
    // tab bar and the Gateway tab's controls.
    const QList<QWidget *> stops = tabStops(window.get(), window.get());
    QVERIFY(stops.size() > 2);
    QCOMPARE(stops.first()->objectName(), QString("disconnectBtn"));
    QCOMPARE(stops.at(1), child("tabWidget"));

    // With the keyboard: Tab from the last control wraps round to the card.
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    child("buttonConnect")->setFocus(Qt::TabFocusReason);
    QWidget *focus = nullptr;
    for (int step = 0; step < 3 && focus != stops.first(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        focus = QApplication::focusWidget();
    }
    QCOMPARE(focus, stops.first());
}

void TestAccessibility::tabsFollowVisualOrder_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("innerTab");
    QTest::newRow("status") << "tabStatus" << QString();
    QTest::newRow("installed software") << "tabSoftwareManagement"
                                        << "tabInstalledSoftware";
    QTest::newRow("routing rules") << "tabSoftwareManagement"
                                   << "tabRoutingRules";
    QTest::newRow("setting") << "tabSetting" << QString();
    QTest::newRow("about") << "tabAbout" << QString();
}

void TestAccessibility::tabsFollowVisualOrder()
{
    QFETCH(QString, tab);
    QFETCH(QString, innerTab);
    startWindow(false);
    child<QTabWidget>("tabWidget")->setCurrentWidget(child(tab));
    QWidget *area = child(tab);
    if (!innerTab.isEmpty()) {
        child<QTabWidget>("tabWidgetSoftware")->setCurrentWidget(child(innerTab));
        area = child(innerTab);
    }
    // The details button waits for a session; enabled, it joins the walk.
    child("buttonDetails")->setEnabled(true);
    QCoreApplication::processEvents();

    const QList<QWidget *> stops = tabStops(window.get(), area);
    QVERIFY(stops.size() >= 1);
    // Reading order: top to bottom, and left to right within a row.
    auto position = [this](const QWidget *widget) { return widget->mapTo(window.get(), QPoint(0, 0)); };
    for (int i = 1; i < stops.size(); ++i) {
        const QRect before(position(stops.at(i - 1)), stops.at(i - 1)->size());
        const QRect after(position(stops.at(i)), stops.at(i)->size());
        const bool sameRow = qAbs(before.center().y() - after.center().y()) < qMin(before.height(), after.height()) / 2;
        const bool inOrder = sameRow ? after.left() >= before.right() : after.top() > before.top();
        QVERIFY2(inOrder, qPrintable(QStringLiteral("%1 comes after %2 but sits before it")
                                         .arg(stops.at(i)->objectName(), stops.at(i - 1)->objectName())));
    }
}

void TestAccessibility::connectFromTheKeyboard()
{
    env->writeConfigFile("profile.json", R"({"office": {"host": "vpn.example.com", "username": "zhang.san"}})");
    configManager->config.insert("minimize", false);
    startWindow(false);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    // Focus starts in the one-time password field; Tab reaches Connect and
    // the space bar presses it.
    auto *otp = child<QLineEdit>("lineEditOTP");
    otp->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(otp, "123456");
    QTest::keyClick(otp, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child("buttonConnect"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTRY_COMPARE(agent->requestsFor("connect").size(), 1);
    QVERIFY(agent->requestsFor("connect").first().params.value("password").toString().endsWith("123456"));
}

void TestAccessibility::profileDialogKeys()
{
    startWindow(false);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto *dialog = window->findChild<ProfileManager *>();

    // A key that goes astray must not leave the test waiting on the dialog.
    QTimer::singleShot(20000, dialog, [dialog] {
        if (dialog->isVisible())
            dialog->done(-1);
    });

    // "+" from the keyboard opens the dialog; Escape closes it unchanged.
    bool sawDialog = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget() == dialog);
        sawDialog = true;
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
    });
    child("buttonProfile")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(child("buttonProfile"), Qt::Key_Space);
    QVERIFY(sawDialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));

    // Enter in a field presses the default button, Save.
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget() == dialog);
        dialog->findChild<QLineEdit *>("lineEditName")->setText("office");
        dialog->findChild<QLineEdit *>("lineEditHost")->setText("vpn.example.com");
        auto *user = dialog->findChild<QLineEdit *>("lineEditUsername");
        user->setText("zhang.san");
        user->setFocus();
        // Saving the first profile shows the keychain notice first.
        closeNextModalBox();
        QTest::keyClick(user, Qt::Key_Return);
    });
    QTest::keyClick(child("buttonProfile"), Qt::Key_Space);
    QTRY_VERIFY(!dialog->isVisible());
    QCOMPARE(dialog->model->stringList(), QStringList({"office"}));
}

void TestAccessibility::detailDialogClosesWithEscape()
{
    startWindow(false);
    auto *dialog = window->details();
    QVERIFY(dialog);
    dialog->open();
    QVERIFY(dialog->isVisible());
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void TestAccessibility::messageBoxKeys_data()
{
    QTest::addColumn<bool>("error");
    QTest::addColumn<int>("key");
    QTest::newRow("Error, Escape") << true << int(Qt::Key_Escape);
    QTest::newRow("Error, Enter") << true << int(Qt::Key_Return);
    QTest::newRow("Tips, Escape") << false << int(Qt::Key_Escape);
    QTest::newRow("Tips, Enter") << false << int(Qt::Key_Return);
}

void TestAccessibility::messageBoxKeys()
{
    QFETCH(bool, error);
    QFETCH(int, key);
    QString title;
    // Closes the box by force if the key did not, so a fault fails instead of hanging.
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        title = box->windowTitle();
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key(key));
        QTimer::singleShot(2000, box, [box, &title] {
            title.clear();
            box->done(QMessageBox::Cancel);
        });
    });
    if (error)
        MessageBoxes::showError(nullptr, "text");
    else
        MessageBoxes::showTips(nullptr, "text");
    QCOMPARE(title, error ? QString("Error") : QString("Tips"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
