#include "abouttab.h"
#include "logfollower.h"
#include "orvalin.h"
#include "testenv.h"
#include "textbrowser.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QThread>
#include <QTranslator>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray numberedLines(int from, int count, const QByteArray &tag = "line")
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes += tag + ' ' + QByteArray::number(i) + " agent: tunnel keepalive sent, nothing to report\n";
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

QString shown(const TextBrowser &view)
{
    return view.browser()->toPlainText();
}

// A FIFO or a link to a character device at `path`, as another local user can
// leave one in the shared temporary directory.
bool makeSpecialFile(const QString &path, const QString &kind)
{
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    return QFile::link(QStringLiteral("/dev/zero"), path);
}

// Releases a reader stuck in opening the FIFO at `path` after `delayMs`, by
// opening it for writing once, so that a test of a frozen reader fails instead
// of hanging for good.
QThread *startFifoReleaser(const QString &path, int delayMs)
{
    QThread *thread = QThread::create([path, delayMs] {
        QThread::msleep(delayMs);
        QElapsedTimer trying;
        trying.start();
        while (trying.elapsed() < 3000) {
            // Without a reader this fails at once (ENXIO) instead of waiting.
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            QThread::msleep(20);
        }
    });
    thread->start();
    return thread;
}
} // namespace

class TestLogViewer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void growthIsAppendedAndFollowed();
    void readerWhoScrolledUpKeepsPlace();
    void changedFileIsReadAgain_data();
    void changedFileIsReadAgain();
    void unreadableFileKeepsLastContent_data();
    void unreadableFileKeepsLastContent();
    void specialFileIsNeverOpened_data();
    void specialFileIsNeverOpened();
    void viewHoldsAtMostTenMebibytes();
    void tipsFollowSystemLocale_data();
    void tipsFollowSystemLocale();
    void windowButtonsOpenTheReaders();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TextBrowser> view;
    std::unique_ptr<LogFollower> follower;
    QString logPath;
    // Opens the viewer on the log as it stands.
    bool follow();
};

void TestLogViewer::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    logPath = dir->filePath(QStringLiteral("tunwarden.log"));
    view = std::make_unique<TextBrowser>(QStringLiteral("Log Viewer"), nullptr);
}

void TestLogViewer::cleanup()
{
    follower.reset();
    view.reset();
    dir.reset();
}

bool TestLogViewer::follow()
{
    follower = std::make_unique<LogFollower>(logPath, view.get());
    if (!follower->start())
        return false;
    view->show();
    return QTest::qWaitForWindowExposed(view.get());
}

void TestLogViewer::growthIsAppendedAndFollowed()
{
    QVERIFY(writeFile(logPath, numberedLines(0, 300)));
    QVERIFY(follow());
    QScrollBar *bar = view->browser()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    // Each change to the document: where, how much went, how much came.
    QList<QList<int>> changes;
    connect(view->browser()->document(), &QTextDocument::contentsChange, this, [&](int at, int removed, int added) {
        changes.append({at, removed, added});
    });
    const int endBefore = view->browser()->document()->characterCount() - 1;

    // A character split between two writes arrives whole.
    QVERIFY(writeFile(logPath, numberedLines(300, 40, "appended") + "x\xc3", QIODevice::Append));
    QTRY_VERIFY(shown(*view).contains(QStringLiteral("appended 339")));
    QVERIFY(writeFile(logPath, QByteArray("\xbc-split\n"), QIODevice::Append));
    QTRY_VERIFY(shown(*view).endsWith(QStringLiteral("xü-split\n")));

    QVERIFY(shown(*view).startsWith(QStringLiteral("line 0 ")));
    QVERIFY(!changes.isEmpty());
    for (const QList<int> &change : std::as_const(changes)) {
        QCOMPARE(change.at(1), 0); // nothing re-rendered
        QVERIFY(change.at(0) >= endBefore - 1);
    }
    QTRY_COMPARE(bar->value(), bar->maximum());
    QVERIFY(view->isFollowingEnd());
}

void TestLogViewer::readerWhoScrolledUpKeepsPlace()
{
    QVERIFY(writeFile(logPath, numberedLines(0, 300)));
    QVERIFY(follow());
    QScrollBar *bar = view->browser()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    const int readingAt = bar->maximum() / 3;
    bar->setValue(readingAt);
    const int maximumBefore = bar->maximum();

    QVERIFY(writeFile(logPath, numberedLines(300, 200, "appended"), QIODevice::Append));
    QTRY_VERIFY(shown(*view).contains(QStringLiteral("appended 499")));
    QTRY_VERIFY(bar->maximum() > maximumBefore);
    QCOMPARE(bar->value(), readingAt);
    QVERIFY(!view->isFollowingEnd());

    // Back at the end, the reader is followed again.
    bar->setValue(bar->maximum());
    QVERIFY(writeFile(logPath, numberedLines(500, 100, "later"), QIODevice::Append));
    QTRY_VERIFY(shown(*view).contains(QStringLiteral("later 599")));
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestLogViewer::changedFileIsReadAgain_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("truncated and rewritten shorter") << QStringLiteral("truncate");
    QTest::newRow("replaced by a shorter file") << QStringLiteral("rename-short");
    QTest::newRow("replaced by a longer file") << QStringLiteral("rename-long");
    QTest::newRow("moved away and created anew") << QStringLiteral("move-create");
}

void TestLogViewer::changedFileIsReadAgain()
{
    QFETCH(QString, how);
    QVERIFY(writeFile(logPath, numberedLines(0, 50, "old")));
    QVERIFY(follow());
    QVERIFY(shown(*view).contains(QStringLiteral("old 49")));

    const QByteArray fresh
        = how == QLatin1String("rename-long") ? numberedLines(0, 80, "new") : numberedLines(0, 5, "new");
    const QString staged = dir->filePath(QStringLiteral("staged.log"));
    if (how == QLatin1String("truncate")) {
        QVERIFY(writeFile(logPath, fresh));
    } else if (how.startsWith(QLatin1String("rename"))) {
        QVERIFY(writeFile(staged, fresh));
        QVERIFY(::rename(QFile::encodeName(staged).constData(), QFile::encodeName(logPath).constData()) == 0);
    } else {
        QVERIFY(QFile::rename(logPath, dir->filePath(QStringLiteral("tunwarden.log.1"))));
        QVERIFY(writeFile(logPath, fresh));
    }
    QTRY_COMPARE(shown(*view), QString::fromUtf8(fresh));

    // The new file is followed as the old one was.
    QVERIFY(writeFile(logPath, "after the change\n", QIODevice::Append));
    QTRY_COMPARE(shown(*view), QString::fromUtf8(fresh + "after the change\n"));
    if (how == QLatin1String("move-create")) {
        // Writes to the moved-away file are no longer shown.
        QVERIFY(writeFile(dir->filePath(QStringLiteral("tunwarden.log.1")), "to the old file\n", QIODevice::Append));
        QVERIFY(writeFile(logPath, "last\n", QIODevice::Append));
        QTRY_VERIFY(shown(*view).endsWith(QStringLiteral("last\n")));
        QVERIFY(!shown(*view).contains(QStringLiteral("to the old file")));
    }
}

void TestLogViewer::unreadableFileKeepsLastContent_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("removed") << false;
    QTest::newRow("a directory in its place") << true;
}

void TestLogViewer::unreadableFileKeepsLastContent()
{
    QFETCH(bool, directory);
    const QByteArray content = numberedLines(0, 20);
    QVERIFY(writeFile(logPath, content));
    QVERIFY(follow());
    QVERIFY(QFile::remove(logPath));
    if (directory)
        QVERIFY(QDir().mkdir(logPath));
    // Something else in the directory changes too; the view is not emptied.
    QVERIFY(writeFile(dir->filePath(QStringLiteral("other.txt")), "x"));
    QTest::qWait(300);
    QCOMPARE(shown(*view), QString::fromUtf8(content));

    if (directory)
        QVERIFY(QDir().rmdir(logPath));
    QVERIFY(writeFile(logPath, "back again\n"));
    QTRY_COMPARE(shown(*view), QStringLiteral("back again\n"));
}

void TestLogViewer::specialFileIsNeverOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("whileFollowed");
    QTest::newRow("FIFO when opened") << QStringLiteral("fifo") << false;
    QTest::newRow("link to a device when opened") << QStringLiteral("device") << false;
    QTest::newRow("FIFO replacing the followed log") << QStringLiteral("fifo") << true;
    QTest::newRow("link to a device replacing the followed log") << QStringLiteral("device") << true;
}

// Opening a FIFO waits for a writer, on the GUI thread: the window froze for
// good. Only a plain file is read; anything else is refused at once.
void TestLogViewer::specialFileIsNeverOpened()
{
    QFETCH(QString, kind);
    QFETCH(bool, whileFollowed);
    const int releaseAfterMs = 2500;
    QElapsedTimer elapsed;
    std::unique_ptr<QThread> releaser;
    const auto joinReleaser = qScopeGuard([&] {
        if (releaser)
            releaser->wait();
    });

    if (!whileFollowed) {
        TestEnv env;
        const QString path = env.tempDir() + QStringLiteral("/tunwarden.log");
        QVERIFY(makeSpecialFile(path, kind));
        if (kind == QLatin1String("fifo"))
            releaser.reset(startFifoReleaser(path, releaseAfterMs));
        QWidget window;
        AboutTab about(&window);
        QString boxText;
        closeNextModalBox(&boxText, 10000);
        elapsed.start();
        std::unique_ptr<TextBrowser> viewer(about.openLogViewer());
        QVERIFY2(elapsed.elapsed() < releaseAfterMs, "the open waited");
        QVERIFY(!viewer);
        QCOMPARE(boxText, QStringLiteral("Couldn't open log file"));
        return;
    }

    const QByteArray content = numberedLines(0, 20);
    QVERIFY(writeFile(logPath, content));
    QVERIFY(follow());
    const QString staged = dir->filePath(QStringLiteral("staged"));
    QVERIFY(makeSpecialFile(staged, kind));
    if (kind == QLatin1String("fifo"))
        releaser.reset(startFifoReleaser(logPath, releaseAfterMs));
    elapsed.start();
    QVERIFY(::rename(QFile::encodeName(staged).constData(), QFile::encodeName(logPath).constData()) == 0);
    // Time for the change to be seen and handled.
    QTest::qWait(500);
    QVERIFY2(elapsed.elapsed() < releaseAfterMs, "the window froze");
    QCOMPARE(shown(*view), QString::fromUtf8(content));

    // A plain file at the path is followed again.
    QVERIFY(QFile::remove(logPath));
    QVERIFY(writeFile(logPath, "plain again\n"));
    QTRY_COMPARE(shown(*view), QStringLiteral("plain again\n"));
}

void TestLogViewer::viewHoldsAtMostTenMebibytes()
{
    const qsizetype limit = LogFollower::maxHeldCharacters;
    QCOMPARE(limit, qsizetype(10 * 1024 * 1024));
    QByteArray bytes;
    int lines = 0;
    while (bytes.size() < limit + 2 * 1024 * 1024) {
        bytes += numberedLines(lines, 1000);
        lines += 1000;
    }
    QVERIFY(writeFile(logPath, bytes));
    QVERIFY(follow());
    const auto check = [&](int lastLine) {
        const QString text = shown(*view);
        QVERIFY2(view->heldCharacters() <= limit, QByteArray::number(view->heldCharacters()).constData());
        QVERIFY(view->heldCharacters() > limit - limit / 10 - 1024);
        QVERIFY(text.startsWith(QStringLiteral("line ")) || text.startsWith(QStringLiteral("more ")));
        QVERIFY(text.endsWith(
            QString::fromUtf8(numberedLines(lastLine, 1, text.contains(QStringLiteral("more ")) ? "more" : "line"))));
    };
    check(lines - 1);
    QVERIFY(!shown(*view).contains(QStringLiteral("line 0 ")));

    // Growth past the bound drops the oldest lines.
    QVERIFY(writeFile(logPath, numberedLines(lines, 20000, "more"), QIODevice::Append));
    QTRY_VERIFY_WITH_TIMEOUT(shown(*view).contains(QStringLiteral("more %1 ").arg(lines + 19999)), 20000);
    check(lines + 19999);
}

void TestLogViewer::tipsFollowSystemLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("chineseInterface");
    QTest::addColumn<bool>("chineseTips");
    QTest::newRow("en_US") << QStringLiteral("en_US") << false << false;
    QTest::newRow("zh_TW") << QStringLiteral("zh_TW") << false << false;
    QTest::newRow("zh_CN") << QStringLiteral("zh_CN") << false << true;
    QTest::newRow("en_US, Chinese interface") << QStringLiteral("en_US") << true << false;
    QTest::newRow("zh (no territory)") << QStringLiteral("zh") << false << false;
}

void TestLogViewer::tipsFollowSystemLocale()
{
    QFETCH(QString, locale);
    QFETCH(bool, chineseInterface);
    QFETCH(bool, chineseTips);
    QTranslator translator;
    if (chineseInterface) {
        QVERIFY(translator.load(QStringLiteral(":/i18n/orvalin_zh_CN.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    QWidget window;
    AboutTab about(&window);
    std::unique_ptr<TextBrowser> tips(about.openSecurityTips(locale));
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(tips);
    QCOMPARE(tips->windowTitle(), QStringLiteral("安全提示"));
    QCOMPARE(tips->parentWidget(), &window);
    QCOMPARE(tips->minimumWidth(), 600);
    QCOMPARE(tips->maximumWidth(), 600);
    const QString text = tips->browser()->toPlainText();
    QCOMPARE(text.startsWith(QStringLiteral("安全提醒")), chineseTips);
    QCOMPARE(text.startsWith(QStringLiteral("Security")), !chineseTips);
    QVERIFY(tips->browser()->openExternalLinks());
    QCOMPARE(tips->browser()->document()->defaultStyleSheet(),
             QStringLiteral("a{outline:none;text-decoration:underline;}"));
    if (chineseTips) {
        // The contact link is rendered as a link, underlined.
        bool foundLink = false;
        for (QTextBlock block = tips->browser()->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (format.isAnchor() && format.anchorHref().startsWith(QLatin1String("mailto:"))) {
                    foundLink = true;
                    QVERIFY(format.fontUnderline());
                }
            }
        }
        QVERIFY(foundLink);
    }
}

void TestLogViewer::windowButtonsOpenTheReaders()
{
    TestEnv env;
    Orvalin window;
    auto *viewLog = window.findChild<QPushButton *>(QStringLiteral("buttonViewLog"));
    auto *tips = window.findChild<QPushButton *>(QStringLiteral("buttonSecurityTips"));
    QVERIFY(viewLog && tips);

    // No log yet: the error box, no viewer.
    QString boxText;
    closeNextModalBox(&boxText);
    viewLog->click();
    QCOMPARE(boxText, QStringLiteral("Couldn't open log file"));

    const QString path = env.tempDir() + QStringLiteral("/tunwarden.log");
    QVERIFY(writeFile(path, "first line\n"));
    QString title, before, after;
    bool modal = false;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    bool appended = false;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<TextBrowser *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (waited.elapsed() > 10000)
                poll.stop();
            return;
        }
        if (!appended) {
            title = dialog->windowTitle();
            modal = dialog->isModal() && dialog->parentWidget() == &window;
            before = dialog->browser()->toPlainText();
            appended = writeFile(path, "second line\n", QIODevice::Append);
            waited.restart();
            return;
        }
        after = dialog->browser()->toPlainText();
        if (after.contains(QLatin1String("second")) || waited.elapsed() > 10000) {
            poll.stop();
            dialog->done(QDialog::Accepted);
        }
    });
    poll.start(20);
    viewLog->click();
    QCOMPARE(title, QStringLiteral("Log Viewer"));
    QVERIFY(modal);
    QCOMPARE(before, QStringLiteral("first line\n"));
    QCOMPARE(after, QStringLiteral("first line\nsecond line\n"));
    QVERIFY(window.findChildren<TextBrowser *>().isEmpty());

    QString tipsTitle;
    QTimer tipsPoll;
    connect(&tipsPoll, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<TextBrowser *>(QApplication::activeModalWidget())) {
            tipsTitle = dialog->windowTitle();
            tipsPoll.stop();
            dialog->done(QDialog::Accepted);
        }
    });
    tipsPoll.start(20);
    tips->click();
    QCOMPARE(tipsTitle, QStringLiteral("安全提示"));
    QVERIFY(window.findChildren<TextBrowser *>().isEmpty());
}

QTEST_MAIN(TestLogViewer)
#include "tst_logviewer.moc"
