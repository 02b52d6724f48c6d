#include "leftoversavefiles.h"

#include "storedfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#endif

// The copies a save cut short leaves beside the settings, profile and history
// files: which names count, and which of the planted files start-up removes.
namespace {

bool plant(const QString &path, const QDateTime &modified, const QByteArray &content = "{}")
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime);
}

} // namespace

class TestLeftoverSaveFiles : public QObject
{
    Q_OBJECT

private slots:
    void saveCopyNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("copy");
        QTest::newRow("profile") << QStringLiteral("profile.json.AbCdEf") << true;
        QTest::newRow("settings") << QStringLiteral("config.json.zzzzzz") << true;
        QTest::newRow("history") << QStringLiteral("history.jsonl.QWERTY") << true;
        QTest::newRow("the file itself") << QStringLiteral("profile.json") << false;
        QTest::newRow("five letters") << QStringLiteral("profile.json.AbCdE") << false;
        QTest::newRow("seven letters") << QStringLiteral("profile.json.AbCdEfG") << false;
        QTest::newRow("a digit") << QStringLiteral("profile.json.Ab1dEf") << false;
        QTest::newRow("no dot") << QStringLiteral("profile.jsonxAbCdEf") << false;
        QTest::newRow("older history") << QStringLiteral("history.jsonl.1") << false;
        QTest::newRow("another file") << QStringLiteral("other.json.AbCdEf") << false;
        QTest::newRow("longer name") << QStringLiteral("myprofile.json.AbCdEf") << false;
        QTest::newRow("binary profile") << QStringLiteral("profile.dat.AbCdEf") << false;
    }
    void saveCopyNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, copy);
        QCOMPARE(LeftoverSaveFiles::storeFileNames(),
                 (QStringList{QStringLiteral("config.json"), QStringLiteral("profile.json"),
                              QStringLiteral("history.jsonl")}));
        QCOMPARE(LeftoverSaveFiles::isSaveCopyOf(name, LeftoverSaveFiles::storeFileNames()), copy);
    }

    // The names Qt itself gives the copy, seen as a real save makes them: on
    // Linux the new content is written to an unnamed file, linked in under
    // the copy's name when the target exists, and renamed over the target.
    // That copy, once linked, is a whole file; a kill before the rename leaves
    // it. Kept here, as such a kill would, and removed at the next start.
    void copyNamedAsQtNamesIt()
    {
#ifndef Q_OS_LINUX
        QSKIP("the file events are read with inotify");
#else
        QTemporaryDir dir;
        const QString profile = dir.filePath(QStringLiteral("profile.json"));
        QVERIFY(writeFileSafely(profile, "{}"));
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(), IN_CREATE | IN_MOVED_FROM) >= 0);
        for (int i = 0; i < 3; ++i)
            QVERIFY(writeFileSafely(profile, R"({"office":{"password":"pw"}})"));
        QStringList created;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t size; (size = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char *at = buffer; at < buffer + size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                if ((event->mask & IN_CREATE) && event->len > 0)
                    created << QFile::decodeName(event->name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        close(watch);
        QCOMPARE(created.size(), 3);
        for (const QString &name : std::as_const(created))
            QVERIFY2(LeftoverSaveFiles::isSaveCopyOf(name, {QStringLiteral("profile.json")}), qPrintable(name));

        // The last save again, cut short after the copy was linked in.
        const QString copy = dir.filePath(created.constLast());
        QVERIFY(plant(copy, QDateTime::currentDateTime().addSecs(-60), R"({"office":{"password":"pw"}})"));
        QCOMPARE(
            LeftoverSaveFiles::remove(dir.path(), LeftoverSaveFiles::storeFileNames(), QDateTime::currentDateTime()),
            QStringList{created.constLast()});
        QVERIFY(!QFile::exists(copy));
        QVERIFY(QFile::exists(profile));
#endif
    }

    void removesOnlyOwnOldCopies()
    {
        QTemporaryDir root;
        const QDir config(root.filePath(QStringLiteral("Orvalin")));
        QVERIFY(QDir().mkpath(config.path()) && config.mkdir(QStringLiteral("sub")));
        const QDateTime startedAt = QDateTime::currentDateTime();
        const QDateTime before = startedAt.addSecs(-3600);
        const auto at = [&](const QString &name) { return config.filePath(name); };

        // Left by saves cut short before this start: removed.
        QVERIFY(plant(at(QStringLiteral("profile.json.AbCdEf")), before, R"({"office":{"password":"pw"}})"));
        QVERIFY(plant(at(QStringLiteral("config.json.QwErTy")), before));
        QVERIFY(plant(at(QStringLiteral("history.jsonl.ZzZzZz")), before));
        // Everything else stays.
        const QStringList kept{QStringLiteral("profile.json"), QStringLiteral("history.jsonl.1"),
                               QStringLiteral("other.json.AbCdEf"), QStringLiteral("sub/profile.json.AbCdEf"),
                               QStringLiteral("profile.json.NewOne")};
        for (const QString &name : kept)
            QVERIFY(plant(at(name), name.endsWith(QLatin1String("NewOne")) ? startedAt.addSecs(1) : before));
        QVERIFY(config.mkdir(QStringLiteral("config.json.DirAbc")));
        QVERIFY(plant(root.filePath(QStringLiteral("target")), before, "not ours to remove"));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("target")), at(QStringLiteral("profile.json.LinkXy"))));
        QStringList alsoKept{QStringLiteral("config.json.DirAbc"), QStringLiteral("profile.json.LinkXy")};
#ifdef Q_OS_UNIX
        // Only the super-user can plant a file of another user.
        if (geteuid() == 0) {
            QVERIFY(plant(at(QStringLiteral("history.jsonl.Others")), before));
            QCOMPARE(::chown(QFile::encodeName(at(QStringLiteral("history.jsonl.Others"))).constData(), 65534, 65534),
                     0);
            alsoKept << QStringLiteral("history.jsonl.Others");
        } else {
            qWarning("Not running as root: no file of another user planted");
        }
#endif

        QStringList removed = LeftoverSaveFiles::remove(config.path(), LeftoverSaveFiles::storeFileNames(), startedAt);
        removed.sort();
        QCOMPARE(removed, (QStringList{QStringLiteral("config.json.QwErTy"), QStringLiteral("history.jsonl.ZzZzZz"),
                                       QStringLiteral("profile.json.AbCdEf")}));
        for (const QString &name : removed)
            QVERIFY2(!QFile::exists(at(name)), qPrintable(name));
        for (const QString &name : kept + alsoKept)
            QVERIFY2(QFileInfo::exists(at(name)) || QFileInfo(at(name)).isSymLink(), qPrintable(name));
        QFile target(root.filePath(QStringLiteral("target")));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("not ours to remove"));
    }
};

QTEST_GUILESS_MAIN(TestLeftoverSaveFiles)
#include "tst_leftoversavefiles.moc"
