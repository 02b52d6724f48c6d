#include "boundedlabel.h"
#include "appglobals.h"
#include "boundedtext.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "connectionstatuscard.h"
#include "fakeagent.h"
#include "historydialog.h"
#include "orvalin.h"
#include "secretstore.h"
#include "sessioncontroller.h"
#include "softwaretab.h"
#include "testenv.h"
#include "traycontroller.h"
#include "appscanner.h"

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>

// Text from the agent wherever the window shows or keeps it: cut to a bound
// at a character boundary, shown as plain text, and the status line that
// shows a file's digests whole.
namespace {

const QString hostName = QStringLiteral("vpn.example.net");

// What a broken or hostile agent might send, well under the link's size
// bound and in one frame of Qt's (a longer text would be split between
// frames, inside a character, which Qt 6.4 does not read).
QString hugeText(const QString &kind)
{
    if (kind == QLatin1String("one word"))
        return QString(400000, QLatin1Char('x'));
    if (kind == QLatin1String("chinese"))
        return QStringLiteral("认证失败，请检查一次性密码。").repeated(10000);
    if (kind == QLatin1String("flags"))
        return QStringLiteral("🇨🇳🇩🇪").repeated(25000); // surrogate pairs, two per flag
    return QStringLiteral("line\n").repeated(50000);
}

// The modal box on screen, closed once its text and format are read.
struct BoxCatcher
{
    BoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                format = box->textFormat();
                box->done(QMessageBox::Ok);
                timer.stop();
            }
        });
        timer.start(20);
    }
    QTimer timer;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
};

struct Rig
{
    Rig()
    {
        env.writeConfigFile(
            QStringLiteral("profile.json"),
            QJsonDocument(QJsonObject{{QStringLiteral("office"),
                                       QJsonObject{{QStringLiteral("host"), hostName},
                                                   {QStringLiteral("username"), QStringLiteral("alice")}}}})
                .toJson());
        configManager->config.insert(QStringLiteral("minimize"), false);
        configManager->config.insert(QStringLiteral("lastProfile"), QStringLiteral("office"));
        window = std::make_unique<Orvalin>();
        window->setAgentUrl(agent.url());
        window->findChild<TrayController *>()->setTrayAvailableQuery([] { return true; });
    }

    bool start()
    {
        window->show();
        return QTest::qWaitForWindowExposed(window.get())
               && QTest::qWaitFor([this] { return !agent.requestsFor(QStringLiteral("config")).isEmpty(); }, 5000);
    }

    template<typename T = BoundedLabel>
    T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    BoundedLabel *statusLine() const { return child("statusBar"); }
    ConnectionStatusCard *card() const { return window->findChild<ConnectionStatusCard *>(); }
    BoundedLabel *cardLabel(const char *name) const { return card()->findChild<BoundedLabel *>(QLatin1String(name)); }
    SessionController *session() const { return window->findChild<SessionController *>(); }
    QPushButton *connectButton() const { return child<QPushButton>("buttonConnect"); }
    QString lastStored() const
    {
        const QList<QJsonObject> events = session()->history().events();
        return events.isEmpty() ? QString() : events.constLast().value(QLatin1String("message")).toString();
    }

    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<Orvalin> window;
};

const char *valueLabels[] = {"labelTlsCipherSuite", "labelDtlsCipherSuite", "labelServerAddress",
                             "labelLocalAddress",   "labelVPNAddress",      "labelDNS"};

// A shown text is bounded when it holds at most the shown length of the text
// (plus the line ends the wrapping added) and no half of a surrogate pair.
bool boundedOnScreen(const BoundedLabel *label)
{
    const QString shown = label->shownText();
    return shown.size() <= BoundedText::shownLength + label->maximumLines() && shown.isValidUtf16()
           && label->text().size() <= BoundedText::toolTipLength;
}

bool boundedInStore(const QString &text)
{
    return !text.isEmpty() && text.toUtf8().size() <= BoundedText::storedBytes && text.isValidUtf16()
           && text.endsWith(BoundedText::ellipsis);
}

QString htmlAsPlain(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

class TestAgentText : public QObject
{
    Q_OBJECT

private slots:
    void init() { secretStoreClearService(); }

    void cutKeepsCharactersWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bound");
        QTest::addColumn<QString>("shown");  // BoundedText::cut in UTF-16 units
        QTest::addColumn<QString>("stored"); // BoundedText::cutUtf8 in bytes
        const QString e = BoundedText::ellipsis;
        QTest::newRow("short enough") << QStringLiteral("abc") << 3 << QStringLiteral("abc") << QStringLiteral("abc");
        QTest::newRow("ascii") << QStringLiteral("abcdef") << 5 << QStringLiteral("abcd") + e
                               << QStringLiteral("ab") + e;
        // A flag is two code points, four UTF-16 units: it stays whole or goes.
        QTest::newRow("flag at the cut") << QStringLiteral("a🇨🇳b") << 5 << QStringLiteral("a") + e
                                         << QStringLiteral("a") + e;
        QTest::newRow("emoji not split") << QStringLiteral("ab😀cd") << 4 << QStringLiteral("ab") + e
                                         << QStringLiteral("a") + e;
        QTest::newRow("accent stays with its letter")
            << QStringLiteral("cafe\u0301s") << 5 << QStringLiteral("caf") + e << QStringLiteral("ca") + e;
        QTest::newRow("accent in bytes") << QStringLiteral("cafe\u0301s") << 6 << QStringLiteral("cafe\u0301s")
                                         << QStringLiteral("caf") + e;
        QTest::newRow("chinese in bytes")
            << QStringLiteral("认证失败了") << 9 << QStringLiteral("认证失败了") << QStringLiteral("认证") + e;
        QTest::newRow("lone surrogate kept whole") << QString(QChar(0xD83D)) + QStringLiteral("abc") << 3
                                                   << QString(QChar(0xD83D)) + QStringLiteral("a") + e << e;
        QTest::newRow("nothing fits") << QStringLiteral("abcdef") << 1 << e << QString();
    }
    void cutKeepsCharactersWhole()
    {
        QFETCH(QString, text);
        QFETCH(int, bound);
        QFETCH(QString, shown);
        QFETCH(QString, stored);
        QCOMPARE(BoundedText::cut(text, bound), shown);
        QCOMPARE(BoundedText::cutUtf8(text, bound), stored);
        QVERIFY(BoundedText::cut(text, bound).size() <= bound);
        QVERIFY(BoundedText::cutUtf8(text, bound).toUtf8().size() <= bound);
    }

    // The cut looks at a short stretch of the text only, so a huge one costs
    // no more than a short one; this one is cut inside a long run of flags.
    void cutOfAHugeText()
    {
        const QString text = QStringLiteral("🇨🇳").repeated(2000000);
        const QString shown = BoundedText::cut(text, BoundedText::shownLength);
        QCOMPARE(shown, QStringLiteral("🇨🇳").repeated(74) + BoundedText::ellipsis);
        const QString stored = BoundedText::cutUtf8(text, BoundedText::storedBytes);
        QCOMPARE(stored, QStringLiteral("🇨🇳").repeated(127) + BoundedText::ellipsis);
    }

    void fitIntoLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("widthInX"); // the width, in widths of "x"; 0: no width
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("cut");
        const QString e = BoundedText::ellipsis;
        QTest::newRow("fits") << QStringLiteral("xx xx") << 1 << 10 << QStringLiteral("xx xx") << false;
        QTest::newRow("word to the next line")
            << QStringLiteral("xxxx xxxx") << 2 << 6 << QStringLiteral("xxxx \nxxxx") << false;
        QTest::newRow("a word wider than a line fills it")
            << QStringLiteral("xx xxxxxxxxx") << 2 << 6 << QStringLiteral("xx xxx\nxxxxxx") << false;
        QTest::newRow("last line elided")
            << QStringLiteral("xxxx xxxx xxxx") << 2 << 6 << QStringLiteral("xxxx \nxxxx ") + e << true;
        QTest::newRow("own line ends, no width")
            << QStringLiteral("a\r\nb\rc\nd") << 3 << 0 << QStringLiteral("a\nb\nc") + e << true;
        QTest::newRow("closing line end opens no line")
            << QStringLiteral("ended\n") << 1 << 0 << QStringLiteral("ended") << false;
    }
    void fitIntoLines()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(int, widthInX);
        QFETCH(QString, shown);
        QFETCH(bool, cut);
        // A fixed-pitch font: every character as wide as "x".
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setStyleHint(QFont::Monospace);
        font.setPixelSize(13);
        const int x = QFontMetrics(font).horizontalAdvance(QLatin1Char('x'));
        const BoundedLabel::Fitted fitted
            = BoundedLabel::fit(text, font, widthInX > 0 ? widthInX * x + x / 2 : 0, lines);
        QCOMPARE(fitted.text, shown);
        QCOMPARE(fitted.cut, cut);
        // Without the line ends the wrapping added, what shows is the text itself.
        QString joined = fitted.text;
        for (auto it = fitted.softBreaks.crbegin(); it != fitted.softBreaks.crend(); ++it)
            joined.remove(*it, 1);
        if (!cut)
            QCOMPARE(joined, QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).trimmed());
    }

    // A long or hostile text from the agent, under the link's size bound,
    // wherever the window shows or keeps it: the status line, the status
    // card, the "Error" box, the status values and the history.
    void agentTextIsBounded_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("one word") << QStringLiteral("one word");
        QTest::newRow("chinese") << QStringLiteral("chinese");
        QTest::newRow("flags") << QStringLiteral("flags");
        QTest::newRow("many lines") << QStringLiteral("many lines");
    }
    void agentTextIsBounded()
    {
        QFETCH(QString, kind);
        const QString text = hugeText(kind);
        Rig rig;
        rig.agent.answer(QStringLiteral("config"), text);
        QVERIFY(rig.start());
        const int width = rig.window->width();

        // The reply to "config" in the status line.
        QTRY_VERIFY2(rig.statusLine()->isCut(), qPrintable(rig.statusLine()->text().left(50)));
        QVERIFY(boundedOnScreen(rig.statusLine()));
        QVERIFY(text.startsWith(rig.statusLine()->text().chopped(1)));

        // A refused connection: the box, the card and the history.
        rig.agent.answerError(QStringLiteral("connect"), QJsonObject{{QStringLiteral("message"), text}});
        BoxCatcher box;
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(!box.text.isEmpty());
        QVERIFY2(box.text.size() <= BoundedText::shownLength + 12, qPrintable(QString::number(box.text.size())));
        QVERIFY(box.text.isValidUtf16() && box.text.endsWith(BoundedText::ellipsis));
        QTRY_COMPARE(rig.card()->status(), ConnectionStatusCard::Error);
        QVERIFY(boundedOnScreen(rig.cardLabel("errorLabel")));
        QVERIFY(rig.cardLabel("errorLabel")->isCut());
        QVERIFY(boundedInStore(rig.lastStored()));

        // A session whose status carries the text, then lost with it; the
        // seven values together stay under the link's size bound.
        const QString value = text.left(20000);
        QJsonObject status;
        for (const char *key : {"TLSCipherSuite", "DTLSCipherSuite", "ServerAddress", "LocalAddress", "VPNAddress"})
            status.insert(QLatin1String(key), value);
        status.insert(QStringLiteral("DNS"), QJsonArray{value, value});
        rig.agent.answer(QStringLiteral("status"), status);
        rig.agent.push(2, QStringLiteral("connected"));
        QTRY_VERIFY(rig.session()->isSessionConnected());
        QTRY_VERIFY(rig.child<QPushButton>("buttonDetails")->isEnabled());
        for (const char *name : valueLabels) {
            QVERIFY2(boundedOnScreen(rig.child(name)), name);
            QVERIFY2(rig.child(name)->isCut(), name);
        }
        QVERIFY(boundedOnScreen(rig.cardLabel("vpnLabel")));
        QVERIFY(
            boundedInStore(rig.session()->history().events().constLast().value(QLatin1String("address")).toString()));

        rig.agent.push(6, text);
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QTRY_COMPARE(rig.session()->history().events().constLast().value(QLatin1String("event")).toString(),
                     ConnectionHistory::lost);
        QVERIFY(boundedOnScreen(rig.statusLine()));
        QVERIFY(boundedInStore(rig.lastStored()));
        // No text widened the window.
        QCOMPARE(rig.window->width(), width);
    }

    // A push far over the link's size bound during a session is dropped
    // unread: the link opens again at once ("config" again), the session and
    // the window go on as before, and the next push is read.
    void oversizedPushIsDropped()
    {
        Rig rig;
        rig.agent.answer(QStringLiteral("config"), QStringLiteral("agent ready"));
        rig.agent.answer(QStringLiteral("connect"), QStringLiteral("connected"));
        QVERIFY(rig.start());
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(rig.session()->isSessionConnected());
        const qsizetype recorded = rig.session()->history().events().size();

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Dropped a message from the agent over the limit")));
        rig.agent.push(6, QString(8 * 1024 * 1024, QLatin1Char('x')));
        QTRY_COMPARE(rig.agent.requestsFor(QStringLiteral("config")).size(), 2);
        QTRY_COMPARE(rig.statusLine()->text(), QStringLiteral("agent ready"));
        QVERIFY(rig.session()->isSessionConnected());
        QVERIFY(rig.connectButton()->isEnabled());
        QCOMPARE(rig.session()->history().events().size(), recorded);

        rig.agent.push(6, QStringLiteral("session lost"));
        QTRY_VERIFY(!rig.session()->isSessionConnected());
        QCOMPARE(rig.statusLine()->text(), QStringLiteral("session lost"));
    }

    // Markup from the agent is shown as the characters it is made of.
    void agentMarkupIsPlainText()
    {
        const QString markup
            = QStringLiteral("<b>refused</b> <img src=\"x.png\"> &amp; <a href=\"https://x\">here</a>");
        Rig rig;
        rig.agent.answer(QStringLiteral("config"), markup);
        QVERIFY(rig.start());
        QTRY_COMPARE(rig.statusLine()->text(), markup);

        rig.agent.answerError(QStringLiteral("connect"), QJsonObject{{QStringLiteral("message"), markup}});
        BoxCatcher box;
        QTest::mouseClick(rig.connectButton(), Qt::LeftButton);
        QTRY_COMPARE(box.text, markup);
        QCOMPARE(box.format, Qt::PlainText);
        QTRY_COMPARE(rig.card()->status(), ConnectionStatusCard::Error);

        QJsonObject status;
        for (const char *key : {"TLSCipherSuite", "DTLSCipherSuite", "ServerAddress", "LocalAddress", "VPNAddress"})
            status.insert(QLatin1String(key), markup);
        rig.agent.answer(QStringLiteral("status"), status);
        rig.agent.push(2, markup);
        QTRY_VERIFY(rig.child<QPushButton>("buttonDetails")->isEnabled());
        rig.card()->setErrorText(markup);
        rig.card()->setServerText(markup);

        // Every label in the window that holds the agent's text.
        int holding = 0;
        for (QLabel *label : rig.window->findChildren<QLabel *>()) {
            if (!label->text().contains(QLatin1String("<b>refused")))
                continue;
            ++holding;
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
        }
        QVERIFY2(holding >= 9, qPrintable(QString::number(holding)));

        // A tooltip renders markup too: the history's show the text itself.
        HistoryDialog dialog(&rig.session()->history(), rig.window.get());
        auto *table = dialog.findChild<QTableWidget *>();
        bool found = false;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QTableWidgetItem *item = table->item(row, 1);
            if (item->text().contains(markup)) {
                found = true;
                QCOMPARE(htmlAsPlain(item->toolTip()), item->text());
            }
        }
        QVERIFY(found);
        QCOMPARE(htmlAsPlain(BoundedLabel::plainToolTip(markup)), markup);
    }

    // A text given through a QLabel pointer is fitted all the same before it
    // is drawn, and a clear through one is not undone later.
    void textGivenThroughQLabel()
    {
        Rig rig;
        QVERIFY(rig.start());
        QLabel *plain = rig.statusLine();
        plain->setText(hugeText(QStringLiteral("one word")));
        rig.window->grab();
        QVERIFY(boundedOnScreen(rig.statusLine()));
        QVERIFY(rig.statusLine()->isCut());
        plain->clear();
        rig.window->resize(rig.window->width() + 10, rig.window->height());
        rig.window->grab();
        QCOMPARE(rig.statusLine()->shownText(), QString());
        QCOMPARE(rig.statusLine()->text(), QString());
    }

    // A file's two digests in the status line at the window's own size, in
    // both languages: every line on screen, nothing left out, and a copy
    // gives the text as it was set.
    void digestsShowWhole_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << QStringLiteral("en");
        QTest::newRow("Chinese") << QStringLiteral("zh_CN");
    }
    void digestsShowWhole()
    {
        QFETCH(QString, language);
        QTranslator translator;
        if (language != QLatin1String("en")) {
            QVERIFY(translator.load(QStringLiteral(":/i18n/orvalin_") + language + QStringLiteral(".qm")));
            QCoreApplication::installTranslator(&translator);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tool"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'k'));
        file.close();
        const QByteArray bytes(4096, 'k');
        const QString expected
            = QStringLiteral("MD5: %1\nSHA256: %2")
                  .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()),
                       QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));

        Rig rig;
        QVERIFY(rig.start());
        QCOMPARE(rig.window->size(), QSize(560, 600));
        rig.child<QTabWidget>("tabWidget")->setCurrentWidget(rig.child<QWidget>("tabSoftwareManagement"));
        SoftwareInfo record;
        record.name = QStringLiteral("tool");
        record.executablePath = path;
        emit rig.window->findChild<SoftwareTab *>()->scanner()->scanFinished({record});
        auto *table = rig.child<QTableWidget>("tableWidgetSoftware");
        const QPoint cell = table->visualItemRect(table->item(0, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
        BoundedLabel *line = rig.statusLine();
        QTRY_COMPARE(line->text(), expected);
        QTest::qWait(50); // the layout gives the label its new height

        QVERIFY(!line->isCut());
        const QFontMetrics metrics(line->font());
        const QStringList shown = line->shownText().split(QLatin1Char('\n'));
        for (const QString &one : shown)
            QVERIFY2(metrics.horizontalAdvance(one.trimmed()) <= line->contentsRect().width(), qPrintable(one));
        QVERIFY2(line->contentsRect().height() >= int(shown.size()) * metrics.lineSpacing(),
                 qPrintable(QStringLiteral("%1 lines in %2 px").arg(shown.size()).arg(line->contentsRect().height())));
        QVERIFY(line->geometry().bottom() < rig.window->height());

        QVERIFY(line->textInteractionFlags() & Qt::TextSelectableByMouse);
        QApplication::clipboard()->clear();
        line->setSelection(0, int(line->shownText().size()));
        QTest::keyClick(line, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), expected);
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(TestAgentText)
#include "tst_agenttext.moc"
