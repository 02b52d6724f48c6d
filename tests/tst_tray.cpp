#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "testenv.h"
#include "traycontroller.h"
#include "windowplacement.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString host = QStringLiteral("vpn.example.com");

// Runs the application's event loop until something quits it; a guard ends it
// with 99 when nothing does.
int runEventLoop(const std::function<void()> &action, int guardMs = 3000)
{
    QTimer::singleShot(0, qApp, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(guardMs);
    return QApplication::exec();
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void placement_data();
    void placement();
    void windowFlagsAndSize();

    void afterSetUp();
    void deferredSetUpRunsOnceForTwoShows();
    void connectingThenConnected_data();
    void connectingThenConnected();
    void failedConnectionDropsConnectingImage();
    void disconnected();

    void closeWithoutSessionQuits();
    void closeDuringSessionHidesIntoTray();
    void bringBackFromTray_data();
    void bringBackFromTray();
    void quitDuringSessionSendsOneDisconnect();
    void quitWithoutSessionSendsNothing();

private:
    // A window linked to the fake agent, set up, with one profile selected.
    void startWindow(bool minimize);
    void bringSessionUp();
    TrayController *tray() const;

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<QTemporaryDir> xdg;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<Orvalin> window;
};

void TestTray::initTestCase()
{
    // As at start-up: closing the last window does not end the program by itself.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestTray::init()
{
    env = std::make_unique<TestEnv>();
    xdg = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", xdg->path().toUtf8());
    env->writeConfigFile("profile.json",
                         R"({"office": {"name": "office", "host": "vpn.example.com", "username": "alice"}})");
    agent = std::make_unique<FakeAgent>();
    agent->answer("config", "ready");
    // No session of the agent's own when the link comes up.
    agent->answer("status", QJsonObject{{"code", 1}});
}

void TestTray::cleanup()
{
    window.reset();
    agent.reset();
    env.reset();
    xdg.reset();
}

void TestTray::startWindow(bool minimize)
{
    configManager->config.insert("minimize", minimize);
    window = std::make_unique<Orvalin>();
    window->setAgentUrl(agent->url());
    // The offscreen platform has no notification area; these tests are about one.
    tray()->setTrayAvailableQuery([] { return true; });
    window->show();
    QTRY_VERIFY(tray() && tray()->isSetUp());
    QTRY_COMPARE(agent->requestsFor("config").size(), 1);
}

void TestTray::bringSessionUp()
{
    tray()->connectAction()->trigger();
    QTRY_COMPARE(agent->requestsFor("connect").size(), 1);
    agent->push(2, "connected");
    QTRY_COMPARE(tray()->look(), TrayController::Look::Connected);
}

TrayController *TestTray::tray() const
{
    return window ? window->findChild<TrayController *>() : nullptr;
}

void TestTray::placement_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QString>("kernel");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<bool>("fixed");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QSize>("size");

    const QRect screen(0, 0, 1920, 1080);
    const QRect usable(0, 0, 1920, 1040);
    // The frame of a window not yet shown lies at the origin: centre (280, 300) for 560 x 600.
    const QSize form = WindowPlacement::formSize;
    QTest::newRow("windows, normal density") << 1.0 << "winnt" << screen << usable << false << QPoint(680, 240) << form;
    QTest::newRow("linux, normal density") << 1.0 << "linux" << screen << usable << false << QPoint(680, 240) << form;
    QTest::newRow("linux, high density") << 2.0 << "linux" << screen << usable << true << QPoint(680, 120) << form;
    QTest::newRow("macos, high density") << 1.5 << "darwin" << screen << usable << true << QPoint(680, 120) << form;
    QTest::newRow("windows, high density") << 2.0 << "winnt" << screen << usable << false << QPoint(680, 120) << form;
    // A short screen: raising the window 120 pixels would push its title bar
    // off the top; it stops at the usable area's top edge, and is cut to the
    // usable height instead of running off the bottom.
    QTest::newRow("short screen") << 2.0 << "linux" << QRect(0, 0, 1920, 600) << QRect(0, 30, 1920, 570) << true
                                  << QPoint(680, 30) << QSize(560, 570);
    // 1366 x 768 at 175 %: 780 x 439 logical pixels, a 28-pixel panel below.
    QTest::newRow("laptop at 175 %") << 1.75 << "linux" << QRect(0, 0, 780, 439) << QRect(0, 0, 780, 411) << true
                                     << QPoint(110, 0) << QSize(560, 411);
    // A panel on the left and a screen narrower than the form.
    QTest::newRow("narrow screen") << 1.0 << "winnt" << QRect(0, 0, 600, 800) << QRect(64, 0, 536, 800) << false
                                   << QPoint(64, 100) << QSize(536, 600);
}

void TestTray::placement()
{
    QFETCH(qreal, ratio);
    QFETCH(QString, kernel);
    QFETCH(QRect, screen);
    QFETCH(QRect, available);
    QFETCH(bool, fixed);
    QFETCH(QPoint, position);
    QFETCH(QSize, size);

    const WindowPlacement placement
        = WindowPlacement::compute(ratio, kernel, screen, available, QRect(QPoint(0, 0), WindowPlacement::formSize));
    QCOMPARE(placement.fixedSize, fixed);
    QCOMPARE(placement.position, position);
    QCOMPARE(placement.size, size);
    QVERIFY(available.contains(QRect(placement.position, placement.size)));
}

void TestTray::windowFlagsAndSize()
{
    Orvalin w;
    // Qt itself adds the title and system-menu hints that every titled window has.
    const Qt::WindowFlags flags = w.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
    QVERIFY(flags.testFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::CustomizeWindowHint));
    // The offscreen screen has a pixel ratio of 1: resizable down to 480 x 520.
    QCOMPARE(w.size(), QSize(560, 600));
    QCOMPARE(w.minimumSize(), QSize(480, 520));
    QVERIFY(w.maximumSize().width() > 560);
}

void TestTray::afterSetUp()
{
    startWindow(true);
    QSystemTrayIcon *icon = tray()->icon();
    QVERIFY(icon);
    QCOMPARE(icon->parent(), window.get());
    QVERIFY(!icon->isVisible());
    // Named from the start, so screen readers and panels can announce it.
    QCOMPARE(icon->toolTip(), QString("Kestrum SSLVPN Client"));
    QCOMPARE(icon->icon().cacheKey(), tray()->iconNotConnected().cacheKey());
    QVERIFY(!tray()->iconConnected().isNull());
    QVERIFY(!tray()->iconConnecting().isNull());
    QCOMPARE(icon->contextMenu(), tray()->menu());

    QStringList entries;
    for (const QAction *action : tray()->menu()->actions())
        entries << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(entries, (QStringList{"连接网关", "断开网关", "|", "显示面板", "|", "退出"}));
    QVERIFY(tray()->connectAction()->isEnabled());
    QVERIFY(tray()->disconnectAction()->isEnabled());
    QVERIFY(!tray()->connectAction()->isCheckable());
}

void TestTray::deferredSetUpRunsOnceForTwoShows()
{
    window = std::make_unique<Orvalin>();
    window->setAgentUrl(agent->url());
    window->show();
    window->hide();
    window->show();
    QTRY_COMPARE(agent->requestsFor("config").size(), 1);
    QTest::qWait(200);
    QCOMPARE(agent->clientCount(), 1);
    QCOMPARE(agent->requestsFor("config").size(), 1);
    QCOMPARE(window->findChildren<QSystemTrayIcon *>().size(), 1);
}

void TestTray::connectingThenConnected_data()
{
    QTest::addColumn<bool>("minimize");
    QTest::newRow("minimise on connect") << true;
    QTest::newRow("stay open") << false;
}

void TestTray::connectingThenConnected()
{
    QFETCH(bool, minimize);
    startWindow(minimize);
    QCOMPARE(window->findChild<QCheckBox *>("checkBoxMinimize")->isChecked(), minimize);
    tray()->icon()->setToolTip("earlier");

    // The menu entry asks for a fresh connection.
    tray()->connectAction()->trigger();
    QTRY_COMPARE(agent->requestsFor("connect").size(), 1);
    QCOMPARE(tray()->look(), TrayController::Look::Connecting);
    QCOMPARE(tray()->icon()->icon().cacheKey(), tray()->iconConnecting().cacheKey());
    QCOMPARE(agent->requestsFor("connect").first().params.value("host").toString(), host);

    agent->push(2, "connected");
    QTRY_COMPARE(tray()->look(), TrayController::Look::Connected);
    QCOMPARE(tray()->icon()->icon().cacheKey(), tray()->iconConnected().cacheKey());
    QVERIFY(!tray()->connectAction()->isEnabled());
    QVERIFY(tray()->disconnectAction()->isEnabled());
    if (minimize) {
        QVERIFY(window->isHidden());
        QVERIFY(tray()->icon()->isVisible());
        QCOMPARE(tray()->icon()->toolTip(), "已连接到: " + host);
    } else {
        QVERIFY(window->isVisible());
        QVERIFY(!tray()->icon()->isVisible());
        QCOMPARE(tray()->icon()->toolTip(), QString("earlier"));
    }
}

void TestTray::failedConnectionDropsConnectingImage()
{
    startWindow(false);
    tray()->connectAction()->trigger();
    QTRY_COMPARE(agent->requestsFor("connect").size(), 1);
    QCOMPARE(tray()->look(), TrayController::Look::Connecting);

    QString boxText;
    closeNextModalBox(&boxText);
    agent->push(2, QJsonObject{{"message", "认证失败"}});
    QTRY_COMPARE(boxText, QString("认证失败"));
    // Nothing is in progress any more: the tray does not keep saying "connecting".
    QTRY_COMPARE(tray()->look(), TrayController::Look::NotConnected);
    QCOMPARE(tray()->icon()->icon().cacheKey(), tray()->iconNotConnected().cacheKey());
    QVERIFY(tray()->connectAction()->isEnabled());
}

void TestTray::disconnected()
{
    startWindow(true);
    bringSessionUp();
    QCOMPARE(tray()->icon()->toolTip(), "已连接到: " + host);

    tray()->disconnectAction()->trigger();
    QTRY_COMPARE(agent->requestsFor("disconnect").size(), 1);
    agent->push(3, "disconnected");
    QTRY_COMPARE(tray()->look(), TrayController::Look::NotConnected);
    QCOMPARE(tray()->icon()->icon().cacheKey(), tray()->iconNotConnected().cacheKey());
    QCOMPARE(tray()->icon()->toolTip(), TrayController::idleToolTip());
    QVERIFY(tray()->connectAction()->isEnabled());
    QVERIFY(!tray()->disconnectAction()->isEnabled());
    // Once shown, the icon stays for the life of the process, yet closing the
    // window without a session still ends the program.
    QVERIFY(tray()->icon()->isVisible());
    tray()->showPanelAction()->trigger();
    QCOMPARE(runEventLoop([this] { window->close(); }), 0);
    QVERIFY(tray()->icon()->isVisible());
}

void TestTray::closeWithoutSessionQuits()
{
    startWindow(true);
    QCOMPARE(runEventLoop([this] { window->close(); }), 0);
    QVERIFY(agent->requestsFor("disconnect").isEmpty());
}

void TestTray::closeDuringSessionHidesIntoTray()
{
    startWindow(false);
    bringSessionUp();
    QVERIFY(window->isVisible());
    QVERIFY(!tray()->icon()->isVisible());

    // The program keeps running: only the guard ends the loop.
    QCOMPARE(runEventLoop([this] { window->close(); }, 300), 99);
    QVERIFY(window->isHidden());
    QVERIFY(tray()->icon()->isVisible());
}

void TestTray::bringBackFromTray_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<bool>("shown");
    QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
    QTest::newRow("show panel entry") << -1 << true;
}

void TestTray::bringBackFromTray()
{
    QFETCH(int, route);
    QFETCH(bool, shown);
    startWindow(true);
    bringSessionUp();
    QVERIFY(window->isHidden());

    if (route < 0)
        tray()->showPanelAction()->trigger();
    else
        emit tray()->icon()->activated(QSystemTrayIcon::ActivationReason(route));
    QCOMPARE(window->isVisible(), shown);
}

void TestTray::quitDuringSessionSendsOneDisconnect()
{
    startWindow(true);
    bringSessionUp();

    // Quitting from the menu does not wait for the agent's answer, and the
    // request still leaves when the window goes right after the loop ends, as
    // it does at the end of main().
    QCOMPARE(runEventLoop([this] { tray()->quitAction()->trigger(); }), 0);
    window.reset();
    QTRY_COMPARE(agent->requestsFor("disconnect").size(), 1);
    QTest::qWait(200);
    QCOMPARE(agent->requestsFor("disconnect").size(), 1);
    QCOMPARE(agent->requestsFor("disconnect").first().id, 3);
}

void TestTray::quitWithoutSessionSendsNothing()
{
    startWindow(true);
    QCOMPARE(runEventLoop([this] { tray()->quitAction()->trigger(); }), 0);
    QTest::qWait(200);
    QVERIFY(agent->requestsFor("disconnect").isEmpty());
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
