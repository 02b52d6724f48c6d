#include "abouttab.h"
#include "appglobals.h"
#include "boundedlabel.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "connectionstatuscard.h"
#include "detaildialog.h"
#include "fakeagent.h"
#include "historydialog.h"
#include "layoutaudit.h"
#include "messageboxes.h"
#include "orvalin.h"
#include "profilemanager.h"
#include "sessioncontroller.h"
#include "softwarepickdialog.h"
#include "testenv.h"
#include "textbrowser.h"
#include "thememanager.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <memory>

// Every screen as a user meets it, in both languages and both themes, at the
// window's size and at its minimum; CTest runs the suite again under several
// QT_SCALE_FACTOR values. Nothing may be cut: see layoutProblems().
class TestLayoutFit : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void auditFindsCuts_data();
    void auditFindsCuts();

    void mainWindow_data();
    void mainWindow();
    void statusButtonsShowWithoutScrolling_data();
    void statusButtonsShowWithoutScrolling();
    void dialogs_data();
    void dialogs();
    void messageBoxes_data();
    void messageBoxes();

private:
    void openWindow(bool chinese, bool dark, const QSize &size);
    void fillStatusValues();
    // Runs `open`, which must open a modal box, and returns what the audit
    // found in the box before closing it.
    QStringList auditModalBox(const std::function<void()> &open);

    std::unique_ptr<TestEnv> env;
    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<QTranslator> translator;
    std::unique_ptr<Orvalin> window;
};

namespace {

const QSize defaultSize(560, 600);
const QSize minimumSize(480, 520);

// Texts as long as the agent sends them.
const QString longError
    = QStringLiteral("认证失败：用户名或密码错误，或一次性密码已过期。请确认后重试；如果问题持续存在，"
                     "请联系贵单位 IT 服务台并提供连接日志。");

void addLanguageThemeRows(const std::function<void(const QByteArray &, bool, bool)> &add)
{
    for (bool chinese : {false, true}) {
        for (bool dark : {false, true}) {
            const QByteArray name = QByteArray(chinese ? "zh_CN" : "en") + (dark ? " dark" : " light");
            add(name, chinese, dark);
        }
    }
}

QString report(const QString &where, const QStringList &problems)
{
    return where + QStringLiteral(":\n  ") + problems.join(QStringLiteral("\n  "));
}

} // namespace

void TestLayoutFit::init()
{
    env = std::make_unique<TestEnv>();
    agent = std::make_unique<FakeAgent>();
    agent->answer(QStringLiteral("config"), QStringLiteral("ready"));
}

void TestLayoutFit::cleanup()
{
    window.reset();
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
    agent.reset();
    env.reset();
}

void TestLayoutFit::openWindow(bool chinese, bool dark, const QSize &size)
{
    if (chinese) {
        translator = std::make_unique<QTranslator>();
        QVERIFY(translator->load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(translator.get());
    }
    configManager->config.insert(QStringLiteral("theme"), dark ? QStringLiteral("dark") : QStringLiteral("light"));
    ThemeManager::instance()->setTheme(dark ? ThemeManager::Dark : ThemeManager::Light);
    window = std::make_unique<Orvalin>();
    window->software();
    window->setAgentUrl(agent->url());
    // Scaled screens fix the window's size; the minimum is tested all the same.
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->resize(size);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // "config" marks the end of the deferred set-up (tray, dialogs, theme).
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("config")).size(), 1);
}

// The areas whose minimum does not fit `size`: what keeps the window from
// taking it.
QString widestParts(QWidget *window, const QSize &size)
{
    QStringList parts;
    QList<QWidget *> areas{window->findChild<QWidget *>(QStringLiteral("connectionStatusCard")),
                           window->findChild<QWidget *>(QStringLiteral("statusBar"))};
    for (const char *tabs : {"tabWidget", "tabWidgetSoftware"}) {
        auto *widget = window->findChild<QTabWidget *>(QLatin1String(tabs));
        for (int i = 0; widget && i < widget->count(); ++i)
            areas << widget->widget(i);
    }
    for (QWidget *area : areas) {
        const QSize needed = area->minimumSizeHint();
        if (needed.width() > size.width() - 8 || needed.height() > size.height() / 2)
            parts << QStringLiteral("%1 needs %2x%3").arg(area->objectName()).arg(needed.width()).arg(needed.height());
    }
    return QStringLiteral("the window cannot take %1x%2: ").arg(size.width()).arg(size.height())
           + parts.join(QLatin1String(", "));
}

// The values of a session as the agent reports them, the longest first.
void TestLayoutFit::fillStatusValues()
{
    const QList<QPair<const char *, QString>> values{
        {"labelChannelType", QStringLiteral("DTLS")},
        {"labelTlsCipherSuite", QStringLiteral("(TLS1.3)-(ECDHE-X25519)-(RSA-PSS-RSAE-SHA256)-(AES-256-GCM)")},
        {"labelDtlsCipherSuite", QStringLiteral("(DTLS1.2)-(ECDHE-RSA)-(AES-256-GCM)")},
        {"labelDTLSPort", QStringLiteral("443")},
        {"labelServerAddress", QStringLiteral("203.0.113.10")},
        {"labelLocalAddress", QStringLiteral("192.168.1.23")},
        {"labelVPNAddress", QStringLiteral("10.8.0.23")},
        {"labelMTU", QStringLiteral("1399")},
        {"labelDNS", QStringLiteral("10.8.0.1,10.8.0.2,2001:db8:8000::53")},
    };
    for (const auto &[name, value] : values) {
        auto *label = window->findChild<QLabel *>(QLatin1String(name));
        QVERIFY2(label, name);
        label->setText(value);
    }
}

void TestLayoutFit::auditFindsCuts_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("finding");
    QTest::newRow("button below its text") << "squeezed button"
                                           << "squeezed to";
    QTest::newRow("label text wider than the label") << "narrow label"
                                                     << "text needs";
    QTest::newRow("wrapped text taller than the label") << "short wrapped label"
                                                        << "wrapped text needs";
    QTest::newRow("elided without the full text") << "elided label"
                                                  << "elided without";
    QTest::newRow("elided with the full text as tooltip") << "elided label with tooltip"
                                                          << "";
    // A label that fits the text to its width, the rest in its tooltip.
    QTest::newRow("bounded label in a narrow row") << "bounded label"
                                                   << "";
    QTest::newRow("child outside its parent") << "child outside"
                                              << "is cut by";
    QTest::newRow("page past a bar that is off") << "page past a bar that is off"
                                                 << "cannot be scrolled to";
    QTest::newRow("page within reach of the bar") << "page within reach"
                                                  << "";
}

// The audit itself, on small windows built to show each kind of cut, so a
// clean result above means something.
void TestLayoutFit::auditFindsCuts()
{
    QFETCH(QString, fixture);
    QFETCH(QString, finding);
    QWidget window;
    window.resize(300, 200);
    const QString longText = QStringLiteral("A sentence far too long for the narrow label it is given");
    if (fixture == QLatin1String("squeezed button")) {
        auto *button = new QPushButton(longText, &window);
        button->setGeometry(0, 0, 60, 20);
    } else if (fixture == QLatin1String("narrow label")) {
        (new QLabel(longText, &window))->setGeometry(0, 0, 80, 30);
    } else if (fixture == QLatin1String("short wrapped label")) {
        auto *label = new QLabel(longText, &window);
        label->setWordWrap(true);
        label->setGeometry(0, 0, 80, 20);
    } else if (fixture.startsWith(QLatin1String("elided label"))) {
        auto *label = new QLabel(QStringLiteral("A sentence far too …"), &window);
        label->setGeometry(0, 0, 280, 30);
        if (fixture.endsWith(QLatin1String("tooltip")))
            label->setToolTip(longText);
    } else if (fixture == QLatin1String("bounded label")) {
        auto *label = new BoundedLabel(&window);
        label->setText(longText);
        label->setGeometry(0, 0, 80, 30);
    } else if (fixture == QLatin1String("child outside")) {
        auto *frame = new QWidget(&window);
        frame->setGeometry(0, 0, 100, 100);
        (new QWidget(frame))->setGeometry(50, 50, 80, 20);
    } else {
        auto *area = new QScrollArea(&window);
        area->setGeometry(0, 0, 200, 150);
        if (fixture == QLatin1String("page past a bar that is off"))
            area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto *page = new QWidget;
        page->setMinimumSize(150, 400);
        area->setWidget(page);
        area->setWidgetResizable(true);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList problems = layoutProblems(&window);
    if (finding.isEmpty())
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    else
        QVERIFY2(problems.join(QLatin1Char('\n')).contains(finding), qPrintable(problems.join(QLatin1Char('\n'))));
}

void TestLayoutFit::mainWindow_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QSize>("size");
    addLanguageThemeRows([](const QByteArray &name, bool chinese, bool dark) {
        QTest::addRow("%s 560x600", name.constData()) << chinese << dark << defaultSize;
        QTest::addRow("%s 480x520", name.constData()) << chinese << dark << minimumSize;
        // The usable height of a 1366 x 768 laptop at 175 %, which the
        // window takes when the form's 600 pixels do not fit.
        QTest::addRow("%s 560x411", name.constData()) << chinese << dark << QSize(560, 411);
    });
}

// Every tab (and inner tab) under every state of the status card, which
// takes more height in some states than in others.
void TestLayoutFit::mainWindow()
{
    QFETCH(bool, chinese);
    QFETCH(bool, dark);
    QFETCH(QSize, size);
    openWindow(chinese, dark, size);
    fillStatusValues();
    QVERIFY2(window->size() == size, qPrintable(widestParts(window.get(), size)));
    auto *card = window->findChild<ConnectionStatusCard *>();
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *inner = window->findChild<QTabWidget *>(QStringLiteral("tabWidgetSoftware"));
    QVERIFY(card && tabs && inner);
    card->setServerText(QStringLiteral("vpn-gateway.headquarters.example.com"));
    card->setVpnAddress(QStringLiteral("10.8.0.23"));
    card->setErrorText(longError);

    QStringList findings;
    int views = 0;
    for (auto state : {ConnectionStatusCard::Connecting, ConnectionStatusCard::Connected, ConnectionStatusCard::Error,
                       ConnectionStatusCard::Disconnected}) {
        card->setStatus(state);
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            const int innerCount = tabs->widget(i)->isAncestorOf(inner) ? inner->count() : 1;
            for (int j = 0; j < innerCount; ++j) {
                inner->setCurrentIndex(j);
                QApplication::processEvents();
                const QStringList problems = layoutProblems(window.get());
                ++views;
                if (!problems.isEmpty())
                    findings << report(QStringLiteral("card %1, tab %2/%3").arg(int(state)).arg(i).arg(j), problems);
            }
        }
    }
    QCOMPARE(views, 4 * 6);
    QVERIFY2(findings.isEmpty(), qPrintable(findings.join(QLatin1Char('\n'))));
}

void TestLayoutFit::statusButtonsShowWithoutScrolling_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::newRow("en") << false;
    QTest::newRow("zh_CN") << true;
}

// The row under the status values is what the user comes for once a
// session is up: at the window's size it shows whole, with the card
// connected, before any scrolling.
void TestLayoutFit::statusButtonsShowWithoutScrolling()
{
    QFETCH(bool, chinese);
    openWindow(chinese, false, defaultSize);
    fillStatusValues();
    window->findChild<ConnectionStatusCard *>()->setStatus(ConnectionStatusCard::Connected);
    window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    QApplication::processEvents();
    for (const char *name : {"buttonDetails", "buttonHistory"}) {
        auto *button = window->findChild<QPushButton *>(QLatin1String(name));
        QVERIFY2(button && button->isVisible(), name);
        QVERIFY2(visibleWithoutScrolling(button), name);
    }
}

void TestLayoutFit::dialogs_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("dialog");
    addLanguageThemeRows([](const QByteArray &name, bool chinese, bool dark) {
        for (const char *dialog : {"profiles", "details", "history", "logviewer", "securitytips", "softwarepick"})
            QTest::addRow("%s %s", name.constData(), dialog) << chinese << dark << QString::fromLatin1(dialog);
    });
}

void TestLayoutFit::dialogs()
{
    QFETCH(bool, chinese);
    QFETCH(bool, dark);
    QFETCH(QString, dialog);
    openWindow(chinese, dark, defaultSize);

    std::unique_ptr<QWidget> owned;
    QWidget *shown = nullptr;
    if (dialog == QLatin1String("profiles")) {
        shown = window->findChild<ProfileManager *>();
    } else if (dialog == QLatin1String("details")) {
        auto *details = window->details();
        details->setRoutes(QJsonArray{QStringLiteral("192.168.0.0/16")},
                           QJsonArray{QStringLiteral("10.0.0.0/8"), QStringLiteral("172.16.0.0/255.240.0.0"),
                                      QStringLiteral("2001:db8:8000::/48")});
        shown = details;
    } else if (dialog == QLatin1String("history")) {
        ConnectionHistory &history = window->findChild<SessionController *>()->history();
        const QJsonObject where{{QStringLiteral("profile"), QStringLiteral("总部办公")},
                                {QStringLiteral("host"), QStringLiteral("vpn-gateway.headquarters.example.com")}};
        history.record(ConnectionHistory::connectRequested, where);
        QJsonObject refused = where;
        refused.insert(QStringLiteral("message"), longError);
        history.record(ConnectionHistory::refused, refused);
        owned = std::make_unique<HistoryDialog>(&history, window.get());
    } else if (dialog == QLatin1String("logviewer") || dialog == QLatin1String("securitytips")) {
        QFile log(AboutTab::logFilePath());
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("2026-12-10 09:14:02.118 [INFO] configured by kestrum-sslvpn Secure Client 1.6.0\n");
        log.close();
        auto *about = window->findChild<AboutTab *>();
        owned.reset(dialog == QLatin1String("logviewer")
                        ? about->openLogViewer()
                        : about->openSecurityTips(chinese ? QStringLiteral("zh_CN") : QStringLiteral("en_US")));
    } else if (dialog == QLatin1String("softwarepick")) {
        QList<SoftwareInfo> found;
        for (const char *name : {"soffice.bin", "oosplash", "senddoc"}) {
            SoftwareInfo info;
            info.name = QString::fromLatin1(name);
            info.executablePath = QStringLiteral("/usr/lib/libreoffice/program/") + info.name;
            found << info;
        }
        owned = std::make_unique<SoftwarePickDialog>(found, window.get());
    }
    if (owned)
        shown = owned.get();
    QVERIFY(shown);
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    QApplication::processEvents();
    const QStringList problems = layoutProblems(shown);
    shown->hide();
    QVERIFY2(problems.isEmpty(), qPrintable(report(dialog, problems)));
}

QStringList TestLayoutFit::auditModalBox(const std::function<void()> &open)
{
    QStringList problems{QStringLiteral("no modal box opened")};
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            if (clock.elapsed() > 5000)
                poll.stop();
            return;
        }
        poll.stop();
        QApplication::processEvents();
        problems = layoutProblems(box);
        box->reject();
    });
    poll.start(20);
    open();
    poll.stop();
    return problems;
}

void TestLayoutFit::messageBoxes_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QString>("box");
    addLanguageThemeRows([](const QByteArray &name, bool chinese, bool dark) {
        for (const char *box : {"error", "keychain tips", "clear history"})
            QTest::addRow("%s %s", name.constData(), box) << chinese << dark << QString::fromLatin1(box);
    });
}

void TestLayoutFit::messageBoxes()
{
    QFETCH(bool, chinese);
    QFETCH(bool, dark);
    QFETCH(QString, box);
    openWindow(chinese, dark, defaultSize);

    QStringList problems;
    if (box == QLatin1String("error")) {
        problems = auditModalBox([this] { MessageBoxes::showError(window.get(), longError); });
    } else if (box == QLatin1String("keychain tips")) {
        // The notice a first saved profile shows.
        const QString notice = QCoreApplication::translate(
            "ProfileManager", "This software can save passwords in the Keychain of the operating system to avoid "
                              "plaintext passwords, but you should evaluate whether your usage scenarios allow saving "
                              "passwords and avoid potential security risks.");
        problems
            = auditModalBox([this, notice] { MessageBoxes::showTips(window->findChild<ProfileManager *>(), notice); });
    } else {
        ConnectionHistory &history = window->findChild<SessionController *>()->history();
        history.record(ConnectionHistory::connectRequested);
        HistoryDialog dialog(&history, window.get());
        dialog.show();
        QPushButton *clear = nullptr;
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->isVisible() && button->isEnabled() && button->objectName().contains(QLatin1String("Clear")))
                clear = button;
        }
        QVERIFY(clear);
        problems = auditModalBox([clear] { clear->click(); });
    }
    QVERIFY2(problems.isEmpty(), qPrintable(report(box, problems)));
}

QTEST_MAIN(TestLayoutFit)
#include "tst_layoutfit.moc"
