#include "appscanner.h"
#include "filedigest.h"
#include "inventorysource.h"
#include "pefixture.h"
#include "scanrules.h"
#include "signerchecks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMetaType>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

// The scanner's private operations, for the tests only.
class AppScannerTestAccess
{
public:
    static QString extractExecutablePath(AppScanner &s, const QString &v) { return s.extractExecutablePath(v); }
    static QString extractProcessName(AppScanner &s, const QString &v) { return s.extractProcessName(v); }
    static QString findMainExecutable(AppScanner &s, const QString &dir, const QString &name)
    {
        return s.findMainExecutable(dir, name);
    }
    static QString getListeningPorts(AppScanner &s) { return s.getListeningPorts(); }
    static QList<SoftwareInfo> scanRunningProcesses(AppScanner &s) { return s.scanRunningProcesses(); }
    static QList<SoftwareInfo> scanUninstallRoots(AppScanner &s, const std::vector<InventorySource::UninstallRoot *> &r)
    {
        return s.scanUninstallRoots(r);
    }
    static QString calculateFileHash(AppScanner &s, const QString &path, QCryptographicHash::Algorithm a)
    {
        return s.calculateFileHash(path, a);
    }
};

namespace {

// Creates a file of the given size (sparse) under root; "x" makes it executable.
QString makeFile(const QString &root, const QString &relative, qint64 size = 16, bool executable = false)
{
    const QString path = root + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("MZ");
    file.resize(size);
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (executable)
        permissions |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    file.setPermissions(permissions);
    return path;
}

// "rel/path:size[:x]" entries.
void makeTree(const QString &root, const QStringList &files)
{
    for (const QString &entry : files) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        makeFile(root, parts.at(0), parts.value(1, QStringLiteral("16")).toLongLong(),
                 parts.value(2) == QLatin1String("x"));
    }
}

QString opensslDigest(const QString &algorithm, const QString &path)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("dgst"), QLatin1Char('-') + algorithm, QStringLiteral("-r"), path});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return QStringLiteral("openssl failed");
    return QString::fromLatin1(openssl.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0);
}

// How far this process has read the open file at path, from /proc/self/fdinfo; -1 when not open.
qint64 readPosition(const QString &path)
{
    const QFileInfoList fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System);
    for (const QFileInfo &fd : fds) {
        if (fd.symLinkTarget() != path)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd.fileName());
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("pos:"))
                return line.mid(4).trimmed().toLongLong();
        }
    }
    return -1;
}

// Uninstall entries as the Windows registry holds them, in memory.
class RegistryShapedRoot : public InventorySource::UninstallRoot
{
public:
    void add(const QString &key, const QHash<QString, QString> &values) { m_keys.append({key, values}); }
    QStringList entries() override
    {
        QStringList keys;
        for (const auto &key : std::as_const(m_keys))
            keys.append(key.first);
        return keys;
    }
    QString value(const QString &entry, const QString &name) override
    {
        for (const auto &key : std::as_const(m_keys)) {
            if (key.first == entry)
                return key.second.value(name);
        }
        return QString();
    }

private:
    QList<QPair<QString, QHash<QString, QString>>> m_keys;
};

} // namespace

class TestAppScanner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void recordListCrossesThreads();

    void extractExecutablePath_data();
    void extractExecutablePath();
    void extractProcessName_data();
    void extractProcessName();
    void installDate_data();
    void installDate();
    void findMainExecutable_data();
    void findMainExecutable();
    void netstatPorts_data();
    void netstatPorts();
    void procNetTcpPorts();
    void listeningPortsOfThisMachine();

    void installedSoftwareFromPackageDatabase();
    void installedSoftwareFromRegistryShapedEntries();

    void directoryScan_data();
    void directoryScan();
    void directoryScanOnThePool();

    void processScanOfThisMachine();
    void processScanRules();

    void digests_data();
    void digests();
    void hashesOfEmptyFile();
    void hashesOfMissingFileChangeNothing();
    void failedReadGivesNoDigest();
    void singleDigest_data();
    void singleDigest();

    void signersInRecordOrderAndKept();

    void destroyingDuringScansWaitsForTasks();

private:
    QTemporaryDir m_dir;
};

void TestAppScanner::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestAppScanner::recordListCrossesThreads()
{
    AppScanner scanner;
    QVERIFY(QMetaType::fromName("QList<SoftwareInfo>").isValid());

    QObject context;
    QList<SoftwareInfo> received;
    bool delivered = false;
    QThread *deliveredOn = nullptr;
    connect(&scanner, &AppScanner::processScanFinished, &context, [&](QList<SoftwareInfo> list) {
        received = list;
        deliveredOn = QThread::currentThread();
        delivered = true;
    });
    scanner.startProcessScan();
    QTRY_VERIFY_WITH_TIMEOUT(delivered, 30000);
    QCOMPARE(deliveredOn, QThread::currentThread());
    QVERIFY(!received.isEmpty());
}

void TestAppScanner::extractExecutablePath_data()
{
    // %D stands for a directory holding app.exe (executable), setup.exe (not
    // executable), tool.DLL and app.ico.
    QTest::addColumn<QString>("displayIcon");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plain exe") << "%D/setup.exe"
                               << "%D/setup.exe";
    QTest::newRow("quoted exe") << "\"%D/setup.exe\""
                                << "%D/setup.exe";
    QTest::newRow("icon index, executable") << "%D/app.exe,0"
                                            << "%D/app.exe";
    QTest::newRow("icon index with blank") << "%D/app.exe , 2"
                                           << "%D/app.exe";
    QTest::newRow("icon index, not executable") << "%D/setup.exe,0" << QString();
    QTest::newRow("quoted, then index") << "\"%D/app.exe\",0" << QString();
    QTest::newRow("suffix any case") << "%D/tool.DLL"
                                     << "%D/tool.DLL";
    QTest::newRow("icon file") << "%D/app.ico" << QString();
    QTest::newRow("missing file") << "%D/gone.exe" << QString();
    QTest::newRow("comma first") << ",%D/app.exe" << QString();
}

void TestAppScanner::extractExecutablePath()
{
    QFETCH(QString, displayIcon);
    QFETCH(QString, expected);
    const QString dir = m_dir.filePath(QStringLiteral("icons"));
    makeFile(dir, QStringLiteral("app.exe"), 16, true);
    makeFile(dir, QStringLiteral("setup.exe"));
    makeFile(dir, QStringLiteral("tool.DLL"));
    makeFile(dir, QStringLiteral("app.ico"));
    AppScanner scanner;
    QCOMPARE(AppScannerTestAccess::extractExecutablePath(scanner, displayIcon.replace(QLatin1String("%D"), dir)),
             expected.replace(QLatin1String("%D"), dir));
}

void TestAppScanner::extractProcessName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("windows exe") << "C:\\Program Files\\App\\app.exe"
                                 << "app";
    QTest::newRow("last extension only") << "\"C:\\tools\\pack.tar.gz\""
                                         << "pack.tar";
    QTest::newRow("directory") << "C:\\Program Files\\App"
                               << "App";
    QTest::newRow("trailing backslash") << "C:\\Program Files\\App\\"
                                        << "C:\\Program Files\\App\\";
    QTest::newRow("trailing slash") << "/opt/app/"
                                    << "/opt/app/";
    QTest::newRow("unix program") << "/usr/bin/python3.11"
                                  << "python3";
    QTest::newRow("no separator") << "app.exe"
                                  << "app.exe";
    QTest::newRow("dot file") << "C:\\x\\.hidden"
                              << ".hidden";
}

void TestAppScanner::extractProcessName()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    AppScanner scanner;
    QCOMPARE(AppScannerTestAccess::extractProcessName(scanner, path), expected);
}

void TestAppScanner::installDate_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("yyyyMMdd") << "20240131"
                              << "2024-01-31";
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("seven digits") << "2024131"
                                  << "2024131";
    QTest::newRow("nine digits") << "202401310"
                                 << "202401310";
    QTest::newRow("not a number") << "2024-1-3"
                                  << "2024-1-3";
    QTest::newRow("zero") << "00000000"
                          << "00000000";
    QTest::newRow("negative") << "-2024013"
                              << "-2024013";
}

void TestAppScanner::installDate()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(ScanRules::normaliseInstallDate(value), expected);
}

void TestAppScanner::findMainExecutable_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<QString>("expected");
    const QString big = QString::number(2 * 1048576);
    const QString mib = QString::number(1048576);
    QTest::newRow("name contained in product") << QStringList{"zeta.exe", "bar.exe"} << "Foo Bar"
                                               << "bar.exe";
    QTest::newRow("name contains product") << QStringList{"a.exe", "notepad.exe"} << "Note"
                                           << "notepad.exe";
    QTest::newRow("name beats size") << QStringList{"big.exe:" + big, "tool.exe"} << "Tool"
                                     << "tool.exe";
    QTest::newRow("larger than 1 MiB") << QStringList{"a.exe", "updater.exe:" + big} << "Product"
                                       << "updater.exe";
    QTest::newRow("exactly 1 MiB is not larger") << QStringList{"w.exe", "x.exe:" + mib} << "Product"
                                                 << "w.exe";
    QTest::newRow("first in name order") << QStringList{"b.exe", "a.exe"} << "Product"
                                         << "a.exe";
    QTest::newRow("subdirectories not searched")
        << QStringList{"bin/product.exe", "readme.txt"} << "Product" << QString();
    QTest::newRow("no executable") << QStringList{"readme.txt"} << "Product" << QString();
}

void TestAppScanner::findMainExecutable()
{
    QFETCH(QStringList, files);
    QFETCH(QString, displayName);
    QFETCH(QString, expected);
    QTemporaryDir dir(m_dir.filePath(QStringLiteral("main-XXXXXX")));
    makeTree(dir.path(), files);
    AppScanner scanner;
    const QString found = AppScannerTestAccess::findMainExecutable(scanner, dir.path(), displayName);
    QCOMPARE(found, expected.isEmpty() ? QString() : dir.filePath(expected));
    QCOMPARE(AppScannerTestAccess::findMainExecutable(scanner, dir.filePath(QStringLiteral("none")), displayName),
             QString());
}

void TestAppScanner::netstatPorts_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("expected");
    const QByteArray windows = "\r\nActive Connections\r\n\r\n"
                               "  Proto  Local Address          Foreign Address        State           PID\r\n"
                               "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       1044\r\n"
                               "  TCP    127.0.0.1:6210         0.0.0.0:0              LISTENING       3312\r\n"
                               "  TCP    192.168.1.20:50412     140.82.112.4:443       ESTABLISHED     8840\r\n"
                               "  TCP    [::]:135               [::]:0                 LISTENING       1044\r\n"
                               "  TCP    [::1]:49664            [::]:0                 LISTENING       720\r\n"
                               "  UDP    0.0.0.0:5353           *:*                                    2204\r\n";
    QTest::newRow("windows sample") << windows << QStringList{"135", "6210", "49664"};
    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("lower-case state") << QByteArray("  TCP 0.0.0.0:80 0.0.0.0:0 listening 4\n") << QStringList();
    QTest::newRow("one field") << QByteArray("LISTENING\n") << QStringList();
    QTest::newRow("no colon, zero, text")
        << QByteArray("  TCP 0.0.0.0 x LISTENING 1\n  TCP 0.0.0.0:0 x LISTENING 1\n  TCP [::]:* x LISTENING 1\n"
                      "  TCP 0.0.0.0:445 x LISTENING 4\n")
        << QStringList{"445"};
}

void TestAppScanner::netstatPorts()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, expected);
    QCOMPARE(ScanRules::parseNetstatListeningPorts(output), expected);
}

void TestAppScanner::procNetTcpPorts()
{
    const QByteArray tcp
        = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
          "   0: 0100007F:1842 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1 1\n"
          "   1: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 2 1\n"
          "   2: 0100007F:1842 0100007F:C350 01 00000000:00000000 00:00000000 00000000     0        0 3 1\n"
          "   3: 0100007F:9C40 0100007F:1842 01 00000000:00000000 00:00000000 00000000     0        0 4 1\n";
    const QByteArray tcp6
        = "  sl  local_address                         remote_address                        st\n"
          "   0: 00000000000000000000000000000000:0016 00000000000000000000000000000000:0000 0A 0 0 0\n"
          "   1: 00000000000000000000000001000000:0277 00000000000000000000000000000000:0000 0A 0 0 0\n";
    QStringList ports = ScanRules::parseProcNetTcpListeningPorts(tcp);
    QCOMPARE(ports, (QStringList{"6210", "22"}));
    ScanRules::mergePorts(ports, ScanRules::parseProcNetTcpListeningPorts(tcp6));
    QCOMPARE(ports, (QStringList{"6210", "22", "631"}));
}

void TestAppScanner::listeningPortsOfThisMachine()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpServer server6;
    const bool haveIpv6 = server6.listen(QHostAddress::LocalHostIPv6, 0);
    AppScanner scanner;
    QStringList ports = AppScannerTestAccess::getListeningPorts(scanner).split(QLatin1Char(','));
    QVERIFY2(ports.contains(QString::number(server.serverPort())), qPrintable(ports.join(',')));
    if (haveIpv6)
        QVERIFY(ports.contains(QString::number(server6.serverPort())));
    QCOMPARE(ports.removeDuplicates(), 0);
}

void TestAppScanner::installedSoftwareFromPackageDatabase()
{
    QTemporaryDir rootDir(m_dir.filePath(QStringLiteral("dpkg-XXXXXX")));
    const QString root = rootDir.path();
    const QString info = root + QStringLiteral("/var/lib/dpkg/info/");
    QDir().mkpath(info);
    const QByteArray status
        = "Package: alpha\nStatus: install ok installed\nMaintainer: Alice Example <alice@example.org>\n"
          "Architecture: all\nVersion: 1.2-3\nDescription: first\n multi-line description\n\n"
          "Package: docsonly\nStatus: install ok installed\nVersion: 1\n\n"
          "Package: ghost\nStatus: install ok installed\nVersion: 2\n\n"
          "Package: removed\nStatus: deinstall ok config-files\nVersion: 3\n\n"
          "Package: optapp\nStatus: hold ok installed\nMaintainer: Opt Team <opt@example.org>\nVersion: 4.0\n\n"
          "Package: multi\nStatus: install ok installed\nArchitecture: amd64\nMulti-Arch: same\nVersion: 5\n";
    auto write = [](const QString &path, const QByteArray &data) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    };
    write(root + QStringLiteral("/var/lib/dpkg/status"), status);
    write(info + QStringLiteral("alpha.list"),
          "/.\n/usr\n/usr/bin\n/usr/bin/alpha\n/usr/bin/alpha-helper\n/usr/share/doc/alpha/README\n");
    write(info + QStringLiteral("docsonly.list"), "/.\n/usr/share/doc/docsonly/README\n");
    write(info + QStringLiteral("ghost.list"), "/.\n/usr/bin/ghost\n");
    write(info + QStringLiteral("removed.list"), "/usr/bin/removed\n");
    write(info + QStringLiteral("optapp.list"),
          "/opt\n/opt/optapp\n/opt/optapp/lib.so\n/opt/optapp/updater\n/opt/optapp/zz\n");
    write(info + QStringLiteral("multi:amd64.list"), "/usr/sbin\n/usr/sbin/multid\n/usr/sbin/aaa\n");
    makeTree(root, {"usr/bin/alpha:5000:x", "usr/bin/alpha-helper:90000:x", "usr/share/doc/alpha/README:10",
                    "usr/bin/removed:10:x", "opt/optapp/lib.so:3000000", "opt/optapp/updater:2097153:x",
                    "opt/optapp/zz:10:x", "usr/sbin/multid:10:x", "usr/sbin/aaa:10:x"});
    {
        QFile list(info + QStringLiteral("alpha.list"));
        QVERIFY(list.open(QIODevice::ReadWrite));
        QVERIFY(list.setFileTime(QDateTime(QDate(2024, 1, 31), QTime(12, 0)), QFileDevice::FileModificationTime));
    }

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    AppScanner scanner(root);
    QObject context;
    QList<QPair<int, int>> progress;
    QList<SoftwareInfo> list;
    bool finished = false;
    connect(&scanner, &AppScanner::scanProgress, &context, [&](int current, int total) {
        QVERIFY(!finished);
        progress.append({current, total});
    });
    connect(&scanner, &AppScanner::scanFinished, &context, [&](QList<SoftwareInfo> result) {
        list = result;
        finished = true;
    });
    scanner.startScan();
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);

    // ghost is counted (its list names a program) but skipped: nothing of it is on disk.
    QCOMPARE(progress, (QList<QPair<int, int>>{{1, 4}, {2, 4}, {3, 4}}));
    QCOMPARE(list.size(), 3);

    const SoftwareInfo &alpha = list.at(0);
    QCOMPARE(alpha.name, QStringLiteral("alpha"));
    QCOMPARE(alpha.version, QStringLiteral("1.2-3"));
    QCOMPARE(alpha.publisher, QStringLiteral("Alice Example"));
    QCOMPARE(alpha.installDate, QStringLiteral("2024-01-31"));
    QCOMPARE(alpha.executablePath, root + QStringLiteral("/usr/bin/alpha"));
    QCOMPARE(alpha.installPath, root + QStringLiteral("/usr/bin"));
    QCOMPARE(alpha.processName, QStringLiteral("alpha"));
    QCOMPARE(alpha.fileSize, qint64(5000));
    QCOMPARE(alpha.uninstallString, QStringLiteral("apt-get remove alpha"));
    QVERIFY(alpha.fileHashMd5.isEmpty() && alpha.fileHashSha256.isEmpty());

    QCOMPARE(list.at(1).name, QStringLiteral("optapp"));
    QCOMPARE(list.at(1).executablePath, root + QStringLiteral("/opt/optapp/updater"));
    QCOMPARE(list.at(1).publisher, QStringLiteral("Opt Team"));
    QCOMPARE(list.at(2).name, QStringLiteral("multi"));
    QCOMPARE(list.at(2).executablePath, root + QStringLiteral("/usr/sbin/multid"));
    QCOMPARE(list.at(2).installDate.size(), 10);

    const QString ports = list.at(0).portList;
    QVERIFY(ports.split(QLatin1Char(',')).contains(QString::number(server.serverPort())));
    for (const SoftwareInfo &record : std::as_const(list))
        QCOMPARE(record.portList, ports);
}

void TestAppScanner::installedSoftwareFromRegistryShapedEntries()
{
    QTemporaryDir dir(m_dir.filePath(QStringLiteral("registry-XXXXXX")));
    const QString app = makeFile(dir.path(), QStringLiteral("App/app.exe"), 3000, true);
    makeFile(dir.path(), QStringLiteral("Suite/helper.exe"), 100);
    const QString suiteMain = makeFile(dir.path(), QStringLiteral("Suite/main.exe"), 2 * 1048576);

    RegistryShapedRoot machine;
    machine.add(QStringLiteral("{A}"), {{"DisplayName", "Alpha"},
                                        {"DisplayVersion", "1.0"},
                                        {"Publisher", "Alpha Ltd"},
                                        {"DisplayIcon", app + ",0"},
                                        {"InstallDate", "20240131"},
                                        {"UninstallString", "uninst.exe /S"}});
    machine.add(QStringLiteral("{B}"), {{"DisplayVersion", "9"}, {"DisplayIcon", app}});
    machine.add(QStringLiteral("{C}"), {{"DisplayName", "Widget Suite"},
                                        {"InstallLocation", dir.filePath("Suite")},
                                        {"DisplayIcon", dir.filePath("Suite/suite.ico")},
                                        {"InstallDate", "2024"}});
    machine.add(QStringLiteral("{D}"), {{"DisplayName", "Gone"}, {"InstallLocation", "C:\\Program Files\\Gone\\"}});
    RegistryShapedRoot wow64;
    RegistryShapedRoot user;
    user.add(QStringLiteral("{A}"), {{"DisplayName", "Alpha"}, {"DisplayVersion", "2.0"}});

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    AppScanner scanner;
    QSignalSpy progress(&scanner, &AppScanner::scanProgress);
    const QList<SoftwareInfo> list = AppScannerTestAccess::scanUninstallRoots(scanner, {&machine, &wow64, &user});

    // {B} has no name: counted, not listed, and current does not move for it.
    QCOMPARE(progress.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(progress.at(i), (QVariantList{i + 1, 5}));
    QCOMPARE(list.size(), 4);

    QCOMPARE(list.at(0).name, QStringLiteral("Alpha"));
    QCOMPARE(list.at(0).executablePath, app);
    QCOMPARE(list.at(0).processName, QStringLiteral("app"));
    QCOMPARE(list.at(0).fileSize, qint64(3000));
    QCOMPARE(list.at(0).installDate, QStringLiteral("2024-01-31"));
    QCOMPARE(list.at(0).uninstallString, QStringLiteral("uninst.exe /S"));

    QCOMPARE(list.at(1).executablePath, suiteMain);
    QCOMPARE(list.at(1).processName, QStringLiteral("main"));
    QCOMPARE(list.at(1).fileSize, qint64(2 * 1048576));
    QCOMPARE(list.at(1).installDate, QStringLiteral("2024"));

    QCOMPARE(list.at(2).processName, QStringLiteral("C:\\Program Files\\Gone\\"));
    QVERIFY(list.at(2).executablePath.isEmpty());
    QCOMPARE(list.at(2).fileSize, qint64(0));

    // The same product under two roots gives two records, in root order.
    QCOMPARE(list.at(3).name, QStringLiteral("Alpha"));
    QCOMPARE(list.at(3).version, QStringLiteral("2.0"));

    QVERIFY(list.at(0).portList.split(QLatin1Char(',')).contains(QString::number(server.serverPort())));
    for (const SoftwareInfo &record : list)
        QCOMPARE(record.portList, list.at(0).portList);
}

void TestAppScanner::directoryScan_data()
{
    QTest::addColumn<QString>("dirName");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("expected"); // relative paths, in result order

    QTest::newRow("top level only") << "Tools" << QStringList{"a.exe:100", "sub/b.exe:500"} << QStringList{"a.exe"};
    QTest::newRow("one level down, not two")
        << "Tools" << QStringList{"readme.txt", "sub/b.exe:100", "sub/deeper/c.exe:900", "other/d.EXE:300"}
        << QStringList{"other/d.EXE", "sub/b.exe"};
    QTest::newRow("named like the directory first")
        << "App" << QStringList{"updater.exe:3000", "APP.exe:10", "tool.exe:200"}
        << QStringList{"APP.exe", "updater.exe", "tool.exe"};
    QTest::newRow("programs without .exe") << "bin" << QStringList{"script.sh:50:x", "data.bin:5000", "runner:700:x"}
                                           << QStringList{"runner", "script.sh"};
    QTest::newRow("nothing to run") << "Docs" << QStringList{"readme.txt", "a/b/c.exe"} << QStringList();
}

void TestAppScanner::directoryScan()
{
    QFETCH(QString, dirName);
    QFETCH(QStringList, files);
    QFETCH(QStringList, expected);
    QTemporaryDir parent(m_dir.filePath(QStringLiteral("scan-XXXXXX")));
    const QString directory = parent.filePath(dirName);
    QDir().mkpath(directory);
    makeTree(directory, files);

    AppScanner scanner;
    QSignalSpy finished(&scanner, &AppScanner::directoryScanFinished);
    const QList<SoftwareInfo> list = scanner.scanDirectory(directory);
    QStringList found;
    for (const SoftwareInfo &info : list) {
        const QFileInfo file(info.executablePath);
        found.append(QDir(directory).relativeFilePath(info.executablePath));
        QCOMPARE(info.installPath, directory);
        QCOMPARE(info.name, file.baseName());
        QCOMPARE(info.processName, file.baseName());
        QCOMPARE(info.fileSize, file.size());
        QVERIFY(info.portList.isEmpty() && info.fileHashMd5.isEmpty());
    }
    QCOMPARE(found, expected);
    QCOMPARE(finished.size(), 0);
}

void TestAppScanner::directoryScanOnThePool()
{
    QTemporaryDir dir(m_dir.filePath(QStringLiteral("pool-XXXXXX")));
    makeTree(dir.path(), {"one.exe:10"});
    AppScanner scanner;
    QObject context;
    QString directory;
    QList<SoftwareInfo> list;
    connect(&scanner, &AppScanner::directoryScanFinished, &context, [&](QString d, QList<SoftwareInfo> l) {
        directory = d;
        list = l;
    });
    scanner.startDirectoryScan(dir.path());
    QTRY_COMPARE_WITH_TIMEOUT(list.size(), 1, 30000);
    QCOMPARE(directory, dir.path());
    QCOMPARE(list.first().executablePath, dir.filePath(QStringLiteral("one.exe")));

    list.clear();
    bool missingDone = false;
    connect(&scanner, &AppScanner::directoryScanFinished, &context, [&] { missingDone = true; });
    scanner.startDirectoryScan(dir.filePath(QStringLiteral("missing")));
    QTRY_VERIFY_WITH_TIMEOUT(missingDone, 30000);
    QVERIFY(list.isEmpty());
}

void TestAppScanner::processScanOfThisMachine()
{
    // Three processes of one program give one record.
    QList<std::shared_ptr<QProcess>> sleepers;
    for (int i = 0; i < 3; ++i) {
        auto sleeper = std::make_shared<QProcess>();
        sleeper->start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(sleeper->waitForStarted());
        sleepers.append(sleeper);
    }

    AppScanner scanner;
    const QList<SoftwareInfo> list = AppScannerTestAccess::scanRunningProcesses(scanner);
    for (auto &sleeper : sleepers)
        sleeper->kill();

    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    int selfCount = 0;
    int sleepCount = 0;
    for (const SoftwareInfo &info : list) {
        QVERIFY2(!ScanRules::excludedProcesses().contains(info.processName, Qt::CaseInsensitive),
                 qPrintable(info.processName));
        QVERIFY(info.portList.isEmpty() && info.fileHashMd5.isEmpty() && info.fileHashSha256.isEmpty());
        if (info.processName == QFileInfo(self).fileName()) {
            ++selfCount;
            QCOMPARE(info.name, info.processName);
            // Another build tree's copy of this test may run at the same time
            // and come first; the record then describes that one.
            if (info.executablePath != self)
                QCOMPARE(QFileInfo(info.executablePath).fileName(), QFileInfo(self).fileName());
            QCOMPARE(info.installPath, QFileInfo(info.executablePath).absolutePath());
            QCOMPARE(info.fileSize, QFileInfo(info.executablePath).size());
            QVERIFY(info.fileSize > 0);
        }
        if (info.processName == QLatin1String("sleep"))
            ++sleepCount;
    }
    QCOMPARE(selfCount, 1);
    QCOMPARE(sleepCount, 1);

    // Kernel threads are the system's, not programs: kthreadd (pid 2) heads them.
    QFile kthreadd(QStringLiteral("/proc/2/comm"));
    if (kthreadd.open(QIODevice::ReadOnly) && kthreadd.readAll().trimmed() == "kthreadd") {
        for (const SoftwareInfo &info : list)
            QVERIFY(info.processName != QLatin1String("kthreadd"));
    }
    for (auto &sleeper : sleepers)
        sleeper->waitForFinished();
}

void TestAppScanner::processScanRules()
{
    // Real processes under Windows-style names: copies of sleep. The listed
    // ones carry this test's pid, so that no other process on the machine
    // shares their names.
    QTemporaryDir dir(m_dir.filePath(QStringLiteral("procs-XXXXXX")));
    const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    QVERIFY(!sleep.isEmpty());
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString svchost2 = QStringLiteral("svchost2-%1.exe").arg(pid);
    const QString setup = QStringLiteral("Setup%1.EXE").arg(pid);
    const QString vanished = QStringLiteral("vanished%1").arg(pid);
    const QStringList names{"SVCHOST.EXE", svchost2, setup, "tunwarden-sim", "KestrumSSLVPN", vanished};
    QList<std::shared_ptr<QProcess>> processes;
    for (const QString &name : names) {
        const QString copy = dir.filePath(name);
        QVERIFY(QFile::copy(sleep, copy));
        auto process = std::make_shared<QProcess>();
        process->start(copy, {QStringLiteral("60")});
        QVERIFY2(process->waitForStarted(), qPrintable(name));
        processes.append(process);
    }
    // A program removed from the disk while it runs keeps its path but has no size.
    QVERIFY(QFile::remove(dir.filePath(vanished)));

    AppScanner scanner;
    const QList<SoftwareInfo> list = AppScannerTestAccess::scanRunningProcesses(scanner);
    for (auto &process : processes) {
        process->kill();
        process->waitForFinished();
    }

    QHash<QString, SoftwareInfo> byProcess;
    for (const SoftwareInfo &info : list) {
        if (info.executablePath.startsWith(dir.path()))
            byProcess.insert(info.processName, info);
    }
    QCOMPARE(byProcess.size(), 3);
    const SoftwareInfo gone = byProcess.value(vanished);
    QCOMPARE(gone.executablePath, dir.filePath(vanished));
    QCOMPARE(gone.fileSize, qint64(0));
    QVERIFY(gone.digitalSigner.isEmpty());
    QCOMPARE(byProcess.value(svchost2).name, QStringLiteral("svchost2-") + pid);
    QCOMPARE(byProcess.value(setup).name, QStringLiteral("Setup") + pid);
    QCOMPARE(byProcess.value(setup).executablePath, dir.filePath(setup));
    QCOMPARE(byProcess.value(setup).installPath, dir.path());
}

void TestAppScanner::digests_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("singleThread");
    QTest::newRow("few MiB, two threads") << qint64(3 * 1048576 + 123) << false;
    QTest::newRow("few MiB, one thread") << qint64(3 * 1048576 + 123) << true;
    QTest::newRow("below one block") << qint64(1000) << false;
}

void TestAppScanner::digests()
{
    QFETCH(qint64, size);
    QFETCH(bool, singleThread);
    const QString path = m_dir.filePath(QStringLiteral("digest-%1.bin").arg(size));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (qint64 i = 0; i < size; ++i)
            data[i] = char(generator.generate());
        file.write(data);
    }
    int halfCalls = 0;
    const FileDigest::Pair pair = FileDigest::md5AndSha256(
        path, [&] { ++halfCalls; }, singleThread ? FileDigest::Threads::Single : FileDigest::Threads::Auto);
    QVERIFY(pair.ok);
    QCOMPARE(halfCalls, 1);
    QCOMPARE(QString::fromLatin1(pair.md5), opensslDigest(QStringLiteral("md5"), path));
    QCOMPARE(QString::fromLatin1(pair.sha256), opensslDigest(QStringLiteral("sha256"), path));

    AppScanner scanner;
    QSignalSpy progress(&scanner, &AppScanner::hashProgress);
    qint64 positionAtHalf = -2;
    connect(&scanner, &AppScanner::hashProgress, this, [&](const QString &, int percent) {
        if (percent == 50)
            positionAtHalf = readPosition(path);
    });
    SoftwareInfo info;
    info.name = QStringLiteral("kept");
    info.executablePath = path;
    scanner.calculateFileHashes(info);
    QCOMPARE(info.fileSize, size);
    QCOMPARE(info.fileHashMd5, QString::fromLatin1(pair.md5));
    QCOMPARE(info.fileHashSha256, QString::fromLatin1(pair.sha256));
    QCOMPARE(info.name, QStringLiteral("kept"));
    QCOMPARE(progress.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(progress.at(i).at(0).toString(), QFileInfo(path).fileName());
        QCOMPARE(progress.at(i).at(1).toInt(), i * 50);
    }
    // 50 comes once half of the file has been read, not before and not at the end.
    QVERIFY2(positionAtHalf * 2 >= size, qPrintable(QString::number(positionAtHalf)));
    if (size > 1048576)
        QVERIFY2(positionAtHalf < size, qPrintable(QString::number(positionAtHalf)));
}

void TestAppScanner::hashesOfEmptyFile()
{
    const QString path = makeFile(m_dir.path(), QStringLiteral("empty.exe"), 0);
    AppScanner scanner;
    QSignalSpy progress(&scanner, &AppScanner::hashProgress);
    SoftwareInfo info;
    info.executablePath = path;
    info.fileSize = 77;
    scanner.calculateFileHashes(info);
    QCOMPARE(info.fileSize, qint64(0));
    QCOMPARE(info.fileHashMd5, QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(info.fileHashSha256, QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QCOMPARE(progress.size(), 3);
    QCOMPARE(progress.at(1).at(1).toInt(), 50);
}

void TestAppScanner::hashesOfMissingFileChangeNothing()
{
    AppScanner scanner;
    QSignalSpy progress(&scanner, &AppScanner::hashProgress);
    SoftwareInfo info;
    info.executablePath = m_dir.filePath(QStringLiteral("missing.exe"));
    info.fileSize = 5;
    info.fileHashMd5 = QStringLiteral("old");
    const SoftwareInfo before = info;
    scanner.calculateFileHashes(info);
    QCOMPARE(info, before);
    SoftwareInfo noPath;
    scanner.calculateFileHashes(noPath);
    QCOMPARE(noPath, SoftwareInfo());
    QCOMPARE(progress.size(), 0);
}

void TestAppScanner::failedReadGivesNoDigest()
{
    // /proc/self/mem opens but its first page cannot be read.
    const FileDigest::Pair pair = FileDigest::md5AndSha256(QStringLiteral("/proc/self/mem"));
    QVERIFY(!pair.ok);
    QVERIFY(pair.md5.isEmpty() && pair.sha256.isEmpty());
    AppScanner scanner;
    QCOMPARE(
        AppScannerTestAccess::calculateFileHash(scanner, QStringLiteral("/proc/self/mem"), QCryptographicHash::Md5),
        QString());
    QCOMPARE(AppScannerTestAccess::calculateFileHash(scanner, m_dir.filePath(QStringLiteral("missing")),
                                                     QCryptographicHash::Sha256),
             QString());
}

void TestAppScanner::singleDigest_data()
{
    QTest::addColumn<int>("algorithm");
    QTest::addColumn<QString>("opensslName");
    QTest::newRow("md5") << int(QCryptographicHash::Md5) << "md5";
    QTest::newRow("sha256") << int(QCryptographicHash::Sha256) << "sha256";
    QTest::newRow("sha1") << int(QCryptographicHash::Sha1) << "sha1";
    QTest::newRow("sha3-256 through Qt") << int(QCryptographicHash::Sha3_256) << "sha3-256";
}

void TestAppScanner::singleDigest()
{
    QFETCH(int, algorithm);
    QFETCH(QString, opensslName);
    const QString path = makeFile(m_dir.path(), QStringLiteral("single.bin"), 700000);
    AppScanner scanner;
    const QString digest
        = AppScannerTestAccess::calculateFileHash(scanner, path, QCryptographicHash::Algorithm(algorithm));
    QCOMPARE(digest, opensslDigest(opensslName, path));
}

// Sets an environment variable for the life of the object.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QByteArray &value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// The signers of many files are checked in parallel, yet each lands in its
// own record and progress comes in record order; a second scan checks
// nothing again, a replaced file is checked again, and a change of the
// trusted roots drops every signer kept.
void TestAppScanner::signersInRecordOrderAndKept()
{
    QTemporaryDir fixtures(m_dir.filePath(QStringLiteral("signed-XXXXXX")));
    QVERIFY(PeFixture::writeFile(fixtures.filePath(QStringLiteral("unsigned64.exe")), PeFixture::minimalImage(true)));
    QVERIFY(PeFixture::writeFile(fixtures.filePath(QStringLiteral("unsigned32.exe")), PeFixture::minimalImage(false)));
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral(AUTHENTICODE_FIXTURE_SCRIPT), fixtures.path()});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitCode() == 0, script.readAll().constData());

    // The test CA as the system's only root, so the scanner checks exactly
    // as the product does.
    const QString roots = fixtures.filePath(QStringLiteral("roots.pem"));
    QVERIFY(QFile::copy(fixtures.filePath(QStringLiteral("ca.pem")), roots));
    QVERIFY(QDir().mkpath(fixtures.filePath(QStringLiteral("no-certs"))));
    const EnvironmentOverride file("SSL_CERT_FILE", QFile::encodeName(roots));
    const EnvironmentOverride dirs("SSL_CERT_DIR", QFile::encodeName(fixtures.filePath(QStringLiteral("no-certs"))));

    const QList<QPair<QString, QString>> variants{{"signed64.exe", "Orvalin Test Publisher"},
                                                  {"nocn.exe", "Orvalin Signing Unit"},
                                                  {"unsigned64.exe", QString()},
                                                  {"expired-stamped.exe", "Orvalin Former Publisher"}};
    const QString apps = m_dir.filePath(QStringLiteral("Signed"));
    QDir().mkpath(apps);
    QHash<QString, QString> expected; // path -> signer
    const int count = 48;
    for (int i = 0; i < count; ++i) {
        const auto &[source, signer] = variants.at(i % variants.size());
        const QString path = apps + QStringLiteral("/app%1-%2").arg(i, 2, 10, QLatin1Char('0')).arg(source);
        QVERIFY(QFile::copy(fixtures.filePath(source), path));
        expected.insert(path, signer);
    }
    const auto checkSigners = [&](const QList<SoftwareInfo> &list) {
        QCOMPARE(list.size(), count);
        for (const SoftwareInfo &info : list)
            QCOMPARE(info.digitalSigner, expected.value(info.executablePath, QStringLiteral("?")));
    };

    AppScanner scanner;
    quint64 checks = SignerChecks::checksRun();
    checkSigners(scanner.scanDirectory(apps));
    QCOMPARE(SignerChecks::checksRun() - checks, quint64(count));

    checks = SignerChecks::checksRun();
    checkSigners(scanner.scanDirectory(apps));
    QCOMPARE(SignerChecks::checksRun(), checks);

    // The installed-software scan: its progress stays in record order.
    RegistryShapedRoot registry;
    QStringList paths = expected.keys();
    paths.sort();
    for (const QString &path : std::as_const(paths))
        registry.add(path, {{"DisplayName", QFileInfo(path).baseName()}, {"DisplayIcon", path}});
    registry.add(QStringLiteral("{none}"), {{"DisplayName", "no program"}});
    QList<QPair<int, int>> progress;
    connect(&scanner, &AppScanner::scanProgress, this, [&](int current, int total) {
        progress.append({current, total});
    });
    const QList<SoftwareInfo> installed = AppScannerTestAccess::scanUninstallRoots(scanner, {&registry});
    QCOMPARE(installed.size(), count + 1);
    QCOMPARE(progress.size(), count + 1);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(progress.at(i), qMakePair(i + 1, count + 1));
        QCOMPARE(installed.at(i).executablePath, paths.at(i));
        QCOMPARE(installed.at(i).digitalSigner, expected.value(paths.at(i)));
    }
    QVERIFY(installed.last().digitalSigner.isEmpty());
    QCOMPARE(SignerChecks::checksRun(), checks);

    // A file replaced by another (a new inode) is checked again, alone.
    const QString replaced = apps + QStringLiteral("/app00-signed64.exe");
    QVERIFY(QFile::copy(fixtures.filePath(QStringLiteral("unsigned64.exe")), replaced + QStringLiteral(".new")));
    QVERIFY(std::rename(QFile::encodeName(replaced + QStringLiteral(".new")).constData(),
                        QFile::encodeName(replaced).constData())
            == 0);
    expected[replaced] = QString();
    checkSigners(scanner.scanDirectory(apps));
    QCOMPARE(SignerChecks::checksRun() - checks, quint64(1));

    // The test CA leaves the roots: nothing kept from before counts.
    checks = SignerChecks::checksRun();
    QVERIFY(QFile::remove(roots));
    QVERIFY(PeFixture::writeFile(roots, PeFixture::readFile(fixtures.filePath(QStringLiteral("tsa.pem")))));
    for (QString &signer : expected)
        signer.clear();
    checkSigners(scanner.scanDirectory(apps));
    QCOMPARE(SignerChecks::checksRun() - checks, quint64(count));
}

void TestAppScanner::destroyingDuringScansWaitsForTasks()
{
    // A directory scan that has a large tree to walk, beside the real package
    // database and process list.
    QTemporaryDir tree(m_dir.filePath(QStringLiteral("tree-XXXXXX")));
    for (int i = 0; i < 200; ++i)
        makeTree(tree.path(), {QStringLiteral("d%1/e/f/g.exe").arg(i)});

    // The scanner lives in storage that is wiped once its destructor returns:
    // a task still using it would then write into the wiped bytes, or crash
    // emitting from a zeroed object.
    static std::aligned_storage_t<sizeof(AppScanner), alignof(AppScanner)> storage;
    auto *scanner = new (&storage) AppScanner;
    scanner->startScan();
    scanner->startProcessScan();
    scanner->startDirectoryScan(tree.path());
    scanner->~AppScanner();
    std::memset(&storage, 0, sizeof(storage));

    QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    const auto *bytes = reinterpret_cast<const unsigned char *>(&storage);
    QVERIFY(std::all_of(bytes, bytes + sizeof(storage), [](unsigned char byte) { return byte == 0; }));
}

QTEST_GUILESS_MAIN(TestAppScanner)
#include "tst_appscanner.moc"
