#include "appglobals.h"
#include "configmanager.h"
#include "fakeagent.h"
#include "orvalin.h"
#include "testenv.h"
#include "thememanager.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString readResource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// The sheet with comments and every colour and arrow image blanked out: what
// is left are the selectors and properties, which both themes must share.
QString structureOf(QString sheet)
{
    sheet.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    sheet.replace(QRegularExpression(QStringLiteral("#[0-9A-Fa-f]{6}\\b")), QStringLiteral("#colour"));
    sheet.replace(QStringLiteral("chevron-down-dark.svg"), QStringLiteral("chevron-down.svg"));
    return sheet;
}

QStringList selectorsOf(const QString &sheet)
{
    QStringList selectors;
    const QString bare = structureOf(sheet);
    QRegularExpressionMatchIterator it = QRegularExpression(QStringLiteral("([^{}]+)\\{")).globalMatch(bare);
    while (it.hasNext())
        selectors.append(it.next().captured(1).simplified());
    return selectors;
}

// The declarations of the first rule whose selector is exactly this one.
QString ruleBody(const QString &sheet, const QString &selector)
{
    QString bare = sheet;
    bare.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    const QRegularExpression rule(QStringLiteral("(?:^|\\})\\s*") + QRegularExpression::escape(selector)
                                  + QStringLiteral("\\s*\\{([^}]*)\\}"));
    return rule.match(bare).captured(1).simplified();
}

// A window linked to its own in-process agent and shown, so that its
// deferred set-up (the Setting tab's initialisation among it) runs.
struct ShownWindow
{
    ShownWindow()
    {
        window.setAgentUrl(agent.url());
        window.show();
    }

    FakeAgent agent;
    Orvalin window;
};

} // namespace

class TestTheme : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Runs first: it needs the manager untouched, as at start.
    void firstRequestAfterStartApplies();
    void sheetsShareSelectorsInOrder();
    void sheetRules_data();
    void sheetRules();
    void chevronImages_data();
    void chevronImages();

    void sameThemeTwiceLoadsAndEmitsOnce();
    void switchingReloadsEachTime();
    void linksFollowAccent();
    void onThemeChangedSlotAppliesWithoutSaving();

    void savedThemeAppliedAtStart_data();
    void savedThemeAppliedAtStart();
    void themeAppliedBeforeWindowIsKept();
    void comboPopupItemsFollowSheet();
    void lightWindowBackgroundPixel();

private:
    std::unique_ptr<TestEnv> env;
    std::unique_ptr<QTemporaryDir> xdg;
};

void TestTheme::init()
{
    env = std::make_unique<TestEnv>();
    // The Setting tab looks for the autostart entry; keep it off the real home.
    xdg = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", xdg->path().toUtf8());
    // A known starting point for the process-wide manager, except for the
    // test of the manager as the program starts with it.
    if (qstrcmp(QTest::currentTestFunction(), "firstRequestAfterStartApplies") != 0)
        ThemeManager::instance()->setTheme(ThemeManager::Light);
}

void TestTheme::firstRequestAfterStartApplies()
{
    ThemeManager *manager = ThemeManager::instance();
    QVERIFY(!manager->hasTheme());
    // The request names the theme the manager starts with, and still applies.
    QCOMPARE(manager->currentTheme(), ThemeManager::Light);
    QSignalSpy changed(manager, &ThemeManager::themeChanged);
    qApp->setStyleSheet(QString());
    manager->setTheme(ThemeManager::Light);
    QVERIFY(manager->hasTheme());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(qApp->styleSheet(), readResource(":/theme/light.qss"));
}

void TestTheme::cleanup()
{
    env.reset();
    xdg.reset();
}

void TestTheme::sheetsShareSelectorsInOrder()
{
    const QString light = readResource(ThemeManager::resourcePath(ThemeManager::Light));
    const QString dark = readResource(ThemeManager::resourcePath(ThemeManager::Dark));
    QVERIFY(!light.isEmpty());
    QVERIFY(!dark.isEmpty());
    QVERIFY(light != dark);
    QCOMPARE(selectorsOf(dark), selectorsOf(light));
    // Not only the selectors: the same properties in the same places.
    QCOMPARE(structureOf(dark), structureOf(light));
}

void TestTheme::sheetRules_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QStringList>("declarations");

    const int light = ThemeManager::Light;
    const int dark = ThemeManager::Dark;
    const QString frames = "QFrame#frameGateway, QFrame#frameStatus, QFrame#frameSetting, QFrame#frameAbout";

    QTest::newRow("light window") << light << "QWidget#Orvalin, QMainWindow"
                                  << QStringList{"background-color: #F8FAFC"};
    QTest::newRow("dark window") << dark << "QWidget#Orvalin, QMainWindow" << QStringList{"background-color: #0F172A"};
    QTest::newRow("light fonts") << light << "QWidget"
                                 << QStringList{"font-family: \"Segoe UI\", \"PingFang SC\", \"Microsoft YaHei\", "
                                                "\"Helvetica Neue\", sans-serif",
                                                "font-size: 14px", "color: #1E293B"};
    QTest::newRow("dark text") << dark << "QWidget" << QStringList{"color: #F1F5F9"};
    QTest::newRow("light frames") << light << frames
                                  << QStringList{"background-color: #FFFFFF", "border: 1px solid #E2E8F0",
                                                 "border-radius: 12px"};
    QTest::newRow("dark frames") << dark << frames
                                 << QStringList{"background-color: #1E293B", "border: 1px solid #334155"};
    QTest::newRow("light connect button")
        << light << "QPushButton#buttonConnect"
        << QStringList{"background-color: #2563EB", "color: #FFFFFF",     "font-weight: 600", "border: none",
                       "border-radius: 8px",        "padding: 12px 32px", "min-width: 120px", "min-height: 24px"};
    QTest::newRow("light connect hover") << light << "QPushButton#buttonConnect:hover"
                                         << QStringList{"background-color: #1D4ED8"};
    QTest::newRow("light connect pressed")
        << light << "QPushButton#buttonConnect:pressed" << QStringList{"background-color: #1E40AF"};
    QTest::newRow("light connect disabled")
        << light << "QPushButton#buttonConnect:disabled" << QStringList{"background-color: #93C5FD", "color: #FFFFFF"};
    QTest::newRow("dark connect button") << dark << "QPushButton#buttonConnect"
                                         << QStringList{"background-color: #3B82F6"};
    QTest::newRow("light status line") << light << "QLabel#statusBar"
                                       << QStringList{"background-color: #FFFFFF", "border-top: 1px solid #E2E8F0",
                                                      "border-radius: 0px",
                                                      // 10 px would cut a line of 13 px text
                                                      // out of the label's 36 px.
                                                      "padding: 8px 16px", "color: #64748B", "font-size: 13px"};
    QTest::newRow("dark status line") << dark << "QLabel#statusBar" << QStringList{"color: #94A3B8"};
    QTest::newRow("light card") << light << "QFrame#connectionStatusCard"
                                << QStringList{"background-color: #FFFFFF", "border: 1px solid #E2E8F0",
                                               "border-radius: 16px", "padding: 0px"};
    QTest::newRow("light card connected") << light << "QFrame#connectionStatusCard[status=\"connected\"]"
                                          << QStringList{"border-color: #10B981", "background-color: #F0FDF4"};
    QTest::newRow("dark card connected") << dark << "QFrame#connectionStatusCard[status=\"connected\"]"
                                         << QStringList{"border-color: #22C55E", "background-color: #052E16"};
    QTest::newRow("light card connecting") << light << "QFrame#connectionStatusCard[status=\"connecting\"]"
                                           << QStringList{"border-color: #F59E0B", "background-color: #FFFBEB"};
    QTest::newRow("dark card connecting") << dark << "QFrame#connectionStatusCard[status=\"connecting\"]"
                                          << QStringList{"border-color: #FBBF24", "background-color: #422006"};
    QTest::newRow("light card error") << light << "QFrame#connectionStatusCard[status=\"error\"]"
                                      << QStringList{"border-color: #EF4444", "background-color: #FEF2F2"};
    QTest::newRow("dark card error") << dark << "QFrame#connectionStatusCard[status=\"error\"]"
                                     << QStringList{"border-color: #F87171", "background-color: #450A0A"};
    QTest::newRow("light connecting label")
        << light << "QFrame#connectionStatusCard[status=\"connecting\"] QLabel#statusLabel"
        << QStringList{"color: #F59E0B"};
    QTest::newRow("dark connecting label")
        << dark << "QFrame#connectionStatusCard[status=\"connecting\"] QLabel#statusLabel"
        << QStringList{"color: #FBBF24"};
    QTest::newRow("disconnect button") << dark << "QPushButton#disconnectBtn"
                                       << QStringList{
                                              "background-color: #EF4444", "color: #FFFFFF",    "border: none",
                                              "border-radius: 6px",        "padding: 6px 16px", "font-weight: 500"};
    QTest::newRow("disconnect hover") << light << "QPushButton#disconnectBtn:hover"
                                      << QStringList{"background-color: #DC2626"};
    QTest::newRow("loading") << light << "Loading" << QStringList{"background-color: transparent"};
    QTest::newRow("light arrow") << light << "QComboBox::down-arrow"
                                 << QStringList{"image: url(:/icons/chevron-down.svg)", "width: 16px", "height: 16px"};
    QTest::newRow("dark arrow") << dark << "QComboBox::down-arrow"
                                << QStringList{"image: url(:/icons/chevron-down-dark.svg)"};
    QTest::newRow("light focus") << light << "QLineEdit:focus"
                                 << QStringList{"border: 2px solid #2563EB", "padding: 9px 13px"};
    QTest::newRow("light tooltip") << light << "QToolTip"
                                   << QStringList{"background-color: #1E293B", "color: #FFFFFF", "font-size: 13px"};
    QTest::newRow("dark tooltip") << dark << "QToolTip"
                                  << QStringList{"background-color: #334155", "border: 1px solid #475569"};
    QTest::newRow("check indicator") << light << "QCheckBox::indicator"
                                     << QStringList{"width: 20px", "height: 20px", "border-radius: 4px"};
    QTest::newRow("selected tab") << light << "QTabBar::tab:selected"
                                  << QStringList{"background-color: #FFFFFF", "color: #2563EB",
                                                 "border-bottom: 2px solid #2563EB"};
    QTest::newRow("dark tabs") << dark << "QTabBar::tab"
                               << QStringList{"color: #94A3B8", "padding: 12px 20px",
                                              "border-bottom: 2px solid transparent"};
    QTest::newRow("dark pane") << dark << "QTabWidget::pane"
                               << QStringList{"background-color: #1E293B", "border: 1px solid #334155",
                                              "border-radius: 12px"};
    // Hover borders: buttons have their own, lighter shade in dark.
    QTest::newRow("light button hover") << light << "QPushButton:hover" << QStringList{"border-color: #CBD5E1"};
    QTest::newRow("dark button hover") << dark << "QPushButton:hover" << QStringList{"border-color: #64748B"};
    QTest::newRow("dark tool button hover") << dark << "QToolButton:hover" << QStringList{"border-color: #64748B"};
    QTest::newRow("dark line edit hover") << dark << "QLineEdit:hover" << QStringList{"border-color: #475569"};
    QTest::newRow("buttons") << light << "QPushButton" << QStringList{"border-radius: 8px", "padding: 8px 16px"};
    QTest::newRow("dark disabled button") << dark << "QPushButton:disabled" << QStringList{"color: #475569"};
    QTest::newRow("tool buttons") << light << "QToolButton"
                                  << QStringList{"background-color: transparent", "border-radius: 6px", "padding: 4px"};
    QTest::newRow("dark line edit") << dark << "QLineEdit"
                                    << QStringList{"background-color: #1E293B", "border-radius: 8px",
                                                   "padding: 10px 14px", "min-height: 24px",
                                                   "selection-background-color: #3B82F6"};
    QTest::newRow("combo box") << light << "QComboBox" << QStringList{"background-color: #FFFFFF", "min-width: 150px"};
    QTest::newRow("combo drop-down") << light << "QComboBox::drop-down" << QStringList{"width: 32px"};
    QTest::newRow("combo items") << light << "QComboBox QAbstractItemView::item" << QStringList{"padding: 8px 12px"};
    QTest::newRow("check box") << light << "QCheckBox" << QStringList{"spacing: 10px"};
    QTest::newRow("dark checked box") << dark << "QCheckBox::indicator:checked"
                                      << QStringList{"background-color: #3B82F6"};
    QTest::newRow("scroll bar") << light << "QScrollBar:vertical" << QStringList{"width: 12px"};
    QTest::newRow("scroll handle") << light << "QScrollBar::handle:vertical"
                                   << QStringList{"border-radius: 6px", "min-height: 32px"};
    QTest::newRow("progress bar") << light << "QProgressBar" << QStringList{"max-height: 8px"};
    QTest::newRow("dark progress chunk") << dark << "QProgressBar::chunk" << QStringList{"background-color: #3B82F6"};
    QTest::newRow("dark menu") << dark << "QMenu"
                               << QStringList{"background-color: #1E293B", "border-radius: 8px", "padding: 8px"};
    QTest::newRow("menu items") << light << "QMenu::item" << QStringList{"padding: 8px 16px"};
    QTest::newRow("menu separator") << light << "QMenu::separator" << QStringList{"height: 1px"};
    QTest::newRow("dark separator line") << dark << "QFrame[frameShape=\"4\"]"
                                         << QStringList{"background-color: #334155", "max-height: 1px"};
    QTest::newRow("dark dialog") << dark << "QDialog" << QStringList{"background-color: #1E293B"};
    QTest::newRow("danger button") << dark << "QPushButton[class=\"danger\"]"
                                   << QStringList{"background-color: #EF4444"};
    QTest::newRow("danger hover") << dark << "QPushButton[class=\"danger\"]:hover"
                                  << QStringList{"background-color: #DC2626"};
    QTest::newRow("history summary") << light << "QLabel#labelHistorySummary"
                                     << QStringList{"background-color: #FFFFFF", "font-weight: 600"};
    QTest::newRow("dark history clear") << dark << "QPushButton#buttonClearHistory" << QStringList{"color: #F87171"};
}

void TestTheme::sheetRules()
{
    QFETCH(int, theme);
    QFETCH(QString, selector);
    QFETCH(QStringList, declarations);

    const QString sheet = readResource(ThemeManager::resourcePath(ThemeManager::Theme(theme)));
    const QString body = ruleBody(sheet, selector);
    QVERIFY2(!body.isEmpty(), qPrintable("no rule for " + selector));
    for (const QString &declaration : declarations)
        QVERIFY2(body.contains(declaration + ";"), qPrintable(selector + " lacks " + declaration + " in: " + body));
}

void TestTheme::chevronImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("light") << ":/icons/chevron-down.svg";
    QTest::newRow("dark") << ":/icons/chevron-down-dark.svg";
}

void TestTheme::chevronImages()
{
    QFETCH(QString, path);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(16, 16));
    // Something is drawn, and the corners stay clear.
    bool drawn = false;
    for (int y = 0; y < 16 && !drawn; ++y)
        for (int x = 0; x < 16 && !drawn; ++x)
            drawn = qAlpha(image.pixel(x, y)) > 0;
    QVERIFY(drawn);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
}

void TestTheme::sameThemeTwiceLoadsAndEmitsOnce()
{
    ThemeManager *manager = ThemeManager::instance();
    QSignalSpy changed(manager, &ThemeManager::themeChanged);

    manager->setTheme(ThemeManager::Dark);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).value<ThemeManager::Theme>(), ThemeManager::Dark);
    QCOMPARE(qApp->styleSheet(), readResource(":/theme/dark.qss"));

    // A second request for the same theme neither loads nor applies anything.
    qApp->setStyleSheet(QStringLiteral("QWidget { color: red; }"));
    manager->setTheme(ThemeManager::Dark);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QWidget { color: red; }"));
    QCOMPARE(manager->currentTheme(), ThemeManager::Dark);
}

void TestTheme::switchingReloadsEachTime()
{
    ThemeManager *manager = ThemeManager::instance();
    QSignalSpy changed(manager, &ThemeManager::themeChanged);
    const QString light = readResource(":/theme/light.qss");
    const QString dark = readResource(":/theme/dark.qss");

    manager->setTheme(ThemeManager::Dark);
    QCOMPARE(qApp->styleSheet(), dark);
    qApp->setStyleSheet(QString());
    manager->setTheme(ThemeManager::Light);
    QCOMPARE(qApp->styleSheet(), light);
    qApp->setStyleSheet(QString());
    manager->setTheme(ThemeManager::Dark);
    QCOMPARE(qApp->styleSheet(), dark);
    QCOMPARE(manager->styleSheet(), dark);
    QCOMPARE(changed.size(), 3);
}

void TestTheme::linksFollowAccent()
{
    // Rich-text links (the "Tips" box, the About tab) are coloured from the
    // palette, which the sheets cannot reach.
    ThemeManager::instance()->setTheme(ThemeManager::Dark);
    QCOMPARE(QApplication::palette().color(QPalette::Link), QColor("#3B82F6"));
    QCOMPARE(QApplication::palette().color(QPalette::LinkVisited), QColor("#3B82F6"));
    ThemeManager::instance()->setTheme(ThemeManager::Light);
    QCOMPARE(QApplication::palette().color(QPalette::Link), QColor("#2563EB"));
}

void TestTheme::onThemeChangedSlotAppliesWithoutSaving()
{
    ShownWindow shown;
    Orvalin &window = shown.window;
    auto *combo = window.findChild<QComboBox *>("comboBoxTheme");
    QTRY_COMPARE(qApp->styleSheet(), readResource(":/theme/light.qss"));

    QVERIFY(QMetaObject::invokeMethod(&window, "onThemeChanged", Q_ARG(int, 1)));
    QCOMPARE(ThemeManager::instance()->currentTheme(), ThemeManager::Dark);
    QCOMPARE(qApp->styleSheet(), readResource(":/theme/dark.qss"));
    // Neither the combo box nor the settings follow.
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!configManager->config.contains("theme"));
}

void TestTheme::savedThemeAppliedAtStart_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("sheet");

    QTest::newRow("dark") << QByteArray(R"({"theme": "dark"})") << 1 << ":/theme/dark.qss";
    QTest::newRow("light") << QByteArray(R"({"theme": "light"})") << 0 << ":/theme/light.qss";
    QTest::newRow("case differs") << QByteArray(R"({"theme": "Dark"})") << 0 << ":/theme/light.qss";
    QTest::newRow("absent") << QByteArray(R"({"debug": false})") << 0 << ":/theme/light.qss";
    QTest::newRow("not a string") << QByteArray(R"({"theme": 1})") << 0 << ":/theme/light.qss";
}

void TestTheme::savedThemeAppliedAtStart()
{
    QFETCH(QByteArray, file);
    QFETCH(int, index);
    QFETCH(QString, sheet);

    // Start from the other theme so that the start-up request has to change it.
    ThemeManager::instance()->setTheme(index == 1 ? ThemeManager::Light : ThemeManager::Dark);
    env->writeConfigFile("config.json", file);
    QVERIFY(configManager->loadConfig());

    ShownWindow shown;
    Orvalin &window = shown.window;
    auto *combo = window.findChild<QComboBox *>("comboBoxTheme");
    QTRY_COMPARE(qApp->styleSheet(), readResource(sheet));
    QCOMPARE(combo->currentIndex(), index);
    // Applying the saved theme writes nothing back.
    QCOMPARE(env->readConfigFile("config.json"), file);
}

void TestTheme::themeAppliedBeforeWindowIsKept()
{
    // Start-up applies the saved theme before it builds the window; the
    // Setting tab then finds it in force and styles nothing a second time.
    env->writeConfigFile("config.json", R"({"theme": "dark"})");
    QVERIFY(configManager->loadConfig());
    ThemeManager::instance()->setTheme(ThemeManager::Dark);
    QSignalSpy changed(ThemeManager::instance(), &ThemeManager::themeChanged);

    ShownWindow shown;
    shown.agent.answer("config", "ready");
    Orvalin &window = shown.window;
    QTRY_COMPARE(shown.agent.requestsFor("config").size(), 1);
    QCOMPARE(window.findChild<QComboBox *>("comboBoxTheme")->currentIndex(), 1);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(qApp->styleSheet(), readResource(":/theme/dark.qss"));
}

void TestTheme::comboPopupItemsFollowSheet()
{
    ShownWindow shown;
    Orvalin &window = shown.window;
    QTRY_COMPARE(qApp->styleSheet(), readResource(":/theme/light.qss"));

    // 8 px above and below a text line of at least 20 px; the plain menu
    // delegate would ignore the sheet and draw cramped rows.
    const QList<QComboBox *> combos = window.findChildren<QComboBox *>();
    QVERIFY(!combos.isEmpty());
    for (QComboBox *combo : combos) {
        combo->addItem(QStringLiteral("sample"));
        QAbstractItemView *list = combo->view();
        list->ensurePolished();
        QVERIFY2(list->sizeHintForRow(0) >= 36, qPrintable(combo->objectName()));
    }
}

void TestTheme::lightWindowBackgroundPixel()
{
    ShownWindow shown;
    Orvalin &window = shown.window;
    QTRY_COMPARE(ThemeManager::instance()->styleSheet(), readResource(":/theme/light.qss"));
    QTRY_COMPARE(qApp->styleSheet(), readResource(":/theme/light.qss"));

    // Between the tab page's frame and the window's edge only the window's own
    // background shows.
    auto *frame = window.findChild<QFrame *>("frameGateway");
    QVERIFY(frame);
    const QImage image = window.grab().toImage();
    const QPoint probe = frame->mapTo(&window, QPoint(-8, frame->height() / 2));
    QCOMPARE(QColor(image.pixel(probe)).name(QColor::HexRgb).toUpper(), QStringLiteral("#F8FAFC"));
}

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
