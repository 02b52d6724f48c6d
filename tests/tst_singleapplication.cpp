#include "commandclient.h"
#include "instancecommand.h"
#include "instanceipc.h"
#include "instanceprotocol.h"
#include "singleapplication.h"
#include "username.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace InstanceProtocol;

namespace {
const QString hostPath = QStringLiteral(ORVALIN_BIN_DIR "/singleinstancehost");

// One run of the host program; collects what it reports.
class Host
{
public:
    Host(const QString &program, const QString &key, const QString &stopFile, int options = ScopeUser,
         const QStringList &extra = {}, const QProcessEnvironment &environment = QProcessEnvironment())
        : stopFile(stopFile)
    {
        if (!environment.isEmpty())
            process.setProcessEnvironment(environment);
        process.setProgram(program);
        process.setArguments(QStringList{QStringLiteral("--key"), key, QStringLiteral("--stop"), stopFile,
                                         QStringLiteral("--options"), QString::number(options)}
                             + extra);
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { err += process.readAllStandardError(); });
        started.start();
        process.start();
    }
    // A test that failed half-way still ends its hosts normally, so no
    // block outlives the run.
    ~Host()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        QFile(stopFile).open(QIODevice::WriteOnly);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool waitPrimary(int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!out.contains("primary ") && process.state() != QProcess::NotRunning && t.elapsed() < timeoutMs)
            QTest::qWait(10);
        return out.contains("primary ") && out.contains('\n');
    }
    QString blockName() const
    {
        const int at = out.indexOf("primary ");
        return at < 0 ? QString() : QString::fromLatin1(out.mid(at + 8, out.indexOf('\n', at) - at - 8));
    }
    int count(const QByteArray &what) const { return out.count(what); }

    QString stopFile;
    QProcess process;
    QByteArray out;
    QByteArray err;
    QElapsedTimer started;
};

BlockNameInputs hostInputs(const QString &program, const QString &key, int options = ScopeUser)
{
    BlockNameInputs in;
    in.applicationName = QStringLiteral("OrvalinSingleTest");
    in.extraKeyData = QStringList{key};
    in.applicationFilePath = QFileInfo(program).canonicalFilePath();
    in.userName = currentUserName();
    in.options = options;
    return in;
}

QString freshKey()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Writes the block of `name` as a primary with process id `pid` would leave it.
bool writeBlock(const QString &name, qint64 pid, bool consistent = true)
{
    InstanceMemory memory(name);
    if (!memory.create(int(sizeof(InstanceBlock))) && !memory.attach())
        return false;
    if (memory.size() < int(sizeof(InstanceBlock)) || !memory.lock())
        return false;
    auto *block = static_cast<InstanceBlock *>(memory.data());
    resetBlock(*block);
    block->hasPrimary = true;
    block->primaryProcessId = pid;
    block->checksum = consistent ? infoChecksum(*block) : quint16(infoChecksum(*block) ^ 0x5a5a);
    return memory.unlock();
}

struct BlockState
{
    bool consistent = false;
    bool hasPrimary = false;
    qint64 pid = 0;
};

BlockState readBlock(const QString &name)
{
    InstanceMemory memory(name);
    BlockState state;
    if (!memory.attach() || memory.size() < int(sizeof(InstanceBlock)) || !memory.lock())
        return state;
    const auto *block = static_cast<const InstanceBlock *>(memory.data());
    state = BlockState{isConsistent(*block), block->hasPrimary, block->primaryProcessId};
    memory.unlock();
    return state;
}

// The state letter of /proc/PID/stat ('Z' for a zombie).
char processState(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const qsizetype at = line.lastIndexOf(')');
    return at >= 0 && at + 2 < line.size() ? line.at(at + 2) : 0;
}

// A socket file nobody listens on, as a primary that died leaves behind.
bool leaveStaleSocket(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(native.size()) >= sizeof(address.sun_path))
        return false;
    memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void blockName_data();
    void blockName();
    void parseHello_data();
    void parseHello();
    void secondStartExitsAndBringsWindowForward();
    void busyPrimaryKeepsItsPlace();
    void separatePrimaries_data();
    void separatePrimaries();
    void nextStartAfterPrimaryEnds_data();
    void nextStartAfterPrimaryEnds();
    void inconsistentBlockIsTakenOverAfterFiveSeconds();
    void unansweringPrimaryIsReplaced_data();
    void unansweringPrimaryIsReplaced();
    void namesOfAnotherAccountAreNoObstacle_data();
    void namesOfAnotherAccountAreNoObstacle();
    void smallBlockSaysWhatIsWrong();
    void badHelloClosesConnection_data();
    void badHelloClosesConnection();
    void commandGetsItsReply_data();
    void commandGetsItsReply();
    void badCommandFrameClosesConnection_data();
    void badCommandFrameClosesConnection();
    void anotherAccountCannotCommand();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString stopFile() const { return dir->filePath(QStringLiteral("stop")); }
    void stopHosts()
    {
        QFile f(stopFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
};

void TestSingleApplication::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestSingleApplication::blockName_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("expected");
    // Digests computed independently of this code from the same inputs.
    QTest::newRow("user scope") << int(ScopeUser) << QStringLiteral("alice")
                                << QStringLiteral("1jDQV+8lhbUgOKKFwxKaJ_47SpJvj_HMQJFwKhqhTSU=");
    QTest::newRow("no version, no user") << int(KeyWithoutVersion) << QStringLiteral("alice")
                                         << QStringLiteral("vjhnfGOd1be3BjhV7JBHYoxIgNoNjCARUJwEVpAgQqY=");
}

void TestSingleApplication::blockName()
{
    QFETCH(int, options);
    QFETCH(QString, user);
    QFETCH(QString, expected);
    BlockNameInputs in;
    in.applicationName = QStringLiteral("Orvalin");
    in.applicationVersion = QStringLiteral("1.6.0");
    in.applicationFilePath = QStringLiteral("C:/Program Files/Kestrum/KestrumSSLVPN.exe");
    in.userName = user;
    in.options = options;
    const QString name = computeBlockName(in);
    QCOMPARE(name, expected);
    QCOMPARE(name.size(), 44);
    QVERIFY(!name.contains(QLatin1Char('/')));

    // The path counts without regard to case; the user only with the user scope.
    in.applicationFilePath = in.applicationFilePath.toUpper();
    QCOMPARE(computeBlockName(in), expected);
    in.userName = QStringLiteral("bob");
    QCOMPARE(computeBlockName(in) == expected, !(options & ScopeUser));
}

void TestSingleApplication::parseHello_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("valid");
    const QByteArray name("ab/cd=");
    const QByteArray good = encodeHello(name, KindNewInstance, 7);
    QByteArray damaged = good;
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 0x01);
    QByteArray changedId = good;
    changedId[4 + name.size() + 2] = char(changedId.at(4 + name.size() + 2) ^ 0x10);
    QByteArray huge = good;
    qToBigEndian<quint32>(0x7ffffff0u, huge.data());
    QByteArray nullName = good;
    qToBigEndian<quint32>(0xffffffffu, nullName.data());

    QTest::newRow("good") << good << true;
    QTest::newRow("damaged checksum") << damaged << false;
    QTest::newRow("field changed after checksum") << changedId << false;
    QTest::newRow("truncated") << good.left(good.size() - 1) << false;
    QTest::newRow("trailing byte") << good + '\0' << false;
    QTest::newRow("name longer than body") << huge << false;
    QTest::newRow("null name") << nullName << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestSingleApplication::parseHello()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, valid);
    const std::optional<Hello> hello = InstanceProtocol::parseHello(body);
    QCOMPARE(hello.has_value(), valid);
    if (valid) {
        QCOMPARE(hello->blockName, QByteArray("ab/cd="));
        QCOMPARE(hello->kind, qint8(KindNewInstance));
        QCOMPARE(hello->instanceId, 7);
        // What QDataStream writes is what the parser reads.
        QCOMPARE(body.size(), 4 + 6 + 1 + 4 + 2);
        QCOMPARE(qFromBigEndian<quint32>(body.constData()), 6u);
    }
}

void TestSingleApplication::secondStartExitsAndBringsWindowForward()
{
    const QString key = freshKey();
    Host first(hostPath, key, stopFile());
    QVERIFY(first.waitPrimary());
    QCOMPARE(first.blockName(), computeBlockName(hostInputs(hostPath, key)));

    Host second(hostPath, key, stopFile());
    QVERIFY(second.process.waitForFinished(10000));
    const qint64 took = second.started.elapsed();
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY2(!second.out.contains("primary"), second.out.constData());
    // The contact itself is quick; the margin is for a loaded machine.
    QVERIFY2(took < 5000, QByteArray::number(took).constData());

    QTRY_COMPARE(first.count("instanceStarted"), 1);
    QVERIFY2(first.out.contains("instanceStarted visible=1 minimized=0"), first.out.constData());
    QTest::qWait(200);
    QCOMPARE(first.count("instanceStarted"), 1);
    QCOMPARE(first.process.state(), QProcess::Running);

    stopHosts();
    QVERIFY(first.process.waitForFinished(10000));
    QCOMPARE(first.process.exitCode(), 0);
}

void TestSingleApplication::busyPrimaryKeepsItsPlace()
{
    const QString key = freshKey();
    Host busy(hostPath, key, stopFile(), ScopeUser, {QStringLiteral("--busy"), QStringLiteral("4000")});
    QVERIFY(busy.waitPrimary());

    // The primary cannot answer within the second start's time-out, yet it is
    // alive: the second start must not take its place.
    Host second(hostPath, key, stopFile());
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY2(!second.out.contains("primary"), second.out.constData());
    QCOMPARE(busy.process.state(), QProcess::Running);
    QVERIFY(!busy.out.contains("idle"));

    // Once free again it serves the next start.
    QTRY_VERIFY_WITH_TIMEOUT(busy.out.contains("idle"), 10000);
    Host third(hostPath, key, stopFile());
    QVERIFY(third.process.waitForFinished(10000));
    QCOMPARE(third.process.exitCode(), 0);
    QTRY_VERIFY(busy.count("instanceStarted") >= 1);
    stopHosts();
    QVERIFY(busy.process.waitForFinished(10000));
}

void TestSingleApplication::separatePrimaries_data()
{
    QTest::addColumn<QString>("otherProgram");
    QTest::addColumn<int>("otherOptions");
    QTest::newRow("copy of the executable elsewhere") << QStringLiteral("copy") << int(ScopeUser);
    QTest::newRow("without the user scope") << hostPath << 0;
}

void TestSingleApplication::separatePrimaries()
{
    QFETCH(QString, otherProgram);
    QFETCH(int, otherOptions);
    if (otherProgram == QLatin1String("copy")) {
        otherProgram = dir->filePath(QStringLiteral("elsewhere/singleinstancehost"));
        QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::copy(hostPath, otherProgram));
    }
    const QString key = freshKey();
    Host first(hostPath, key, stopFile());
    QVERIFY(first.waitPrimary());
    Host other(otherProgram, key, stopFile(), otherOptions);
    QVERIFY2(other.waitPrimary(), other.err.constData());
    QVERIFY(other.blockName() != first.blockName());
    QTest::qWait(300);
    QCOMPARE(other.process.state(), QProcess::Running);
    QCOMPARE(first.count("instanceStarted"), 0);
    stopHosts();
    QVERIFY(first.process.waitForFinished(10000));
    QVERIFY(other.process.waitForFinished(10000));
}

void TestSingleApplication::nextStartAfterPrimaryEnds_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("normal exit") << false;
    QTest::newRow("kill -9") << true;
}

void TestSingleApplication::nextStartAfterPrimaryEnds()
{
    QFETCH(bool, killed);
    const QString key = freshKey();
    auto first = std::make_unique<Host>(hostPath, key, stopFile());
    QVERIFY(first->waitPrimary());
    const qint64 firstPid = first->process.processId();
    const QString name = first->blockName();

    if (killed) {
        first->process.kill(); // SIGKILL: no destructor clears the block
        QVERIFY(first->process.waitForFinished(10000));
        QCOMPARE(first->process.exitStatus(), QProcess::CrashExit);
        // What the next start finds: a block that still names the dead primary.
        const BlockState stale = readBlock(name);
        QVERIFY(stale.consistent && stale.hasPrimary);
        QCOMPARE(stale.pid, firstPid);
    } else {
        stopHosts();
        QVERIFY(first->process.waitForFinished(10000));
        QCOMPARE(first->process.exitCode(), 0);
        QFile::remove(stopFile());
    }
    first.reset();

    Host next(hostPath, key, stopFile());
    QVERIFY2(next.waitPrimary(), next.err.constData());
    QCOMPARE(next.process.state(), QProcess::Running);
    QCOMPARE(next.err.contains("no longer exists"), killed);

    // The new primary answers the start after it.
    Host after(hostPath, key, stopFile());
    QVERIFY(after.process.waitForFinished(10000));
    QCOMPARE(after.process.exitCode(), 0);
    QTRY_COMPARE(next.count("instanceStarted"), 1);
    stopHosts();
    QVERIFY(next.process.waitForFinished(10000));
}

void TestSingleApplication::inconsistentBlockIsTakenOverAfterFiveSeconds()
{
    // A live primary whose block was damaged: only the checksum frees it.
    const QString key = freshKey();
    const QString oldStop = dir->filePath(QStringLiteral("stop-old"));
    Host old(hostPath, key, oldStop);
    QVERIFY(old.waitPrimary());
    const QString name = old.blockName();
    QVERIFY(writeBlock(name, old.process.processId(), false));

    Host host(hostPath, key, stopFile());
    QVERIFY2(host.waitPrimary(20000), host.err.constData());
    QVERIFY2(host.started.elapsed() >= 5000, QByteArray::number(host.started.elapsed()).constData());
    QVERIFY(host.err.contains("SingleApplication: Shared memory block has been in an inconsistent state from "
                              "more than 5s. Assuming primary instance failure."));
    BlockState taken = readBlock(name);
    QVERIFY(taken.consistent && taken.hasPrimary);
    QCOMPARE(taken.pid, host.process.processId());

    // The replaced primary ends: the record and the socket stay the new one's,
    // so the next start is told apart from it, not made a third primary.
    QFile(oldStop).open(QIODevice::WriteOnly);
    QVERIFY(old.process.waitForFinished(10000));
    taken = readBlock(name);
    QVERIFY(taken.consistent && taken.hasPrimary);
    QCOMPARE(taken.pid, host.process.processId());
    QVERIFY(QFileInfo::exists(instanceServerName(name)));
    Host next(hostPath, key, stopFile());
    QVERIFY(next.process.waitForFinished(10000));
    QCOMPARE(next.process.exitCode(), 0);
    QVERIFY2(!next.out.contains("primary"), next.out.constData());
    QTRY_COMPARE(host.count("instanceStarted"), 1);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

void TestSingleApplication::unansweringPrimaryIsReplaced_data()
{
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<bool>("staleSocket");
    QTest::newRow("process id reused") << QStringLiteral("reused") << false;
    QTest::newRow("process id reused, socket left") << QStringLiteral("reused") << true;
    QTest::newRow("zombie") << QStringLiteral("zombie") << true;
}

// The block names a process that exists, but it is not the primary any more:
// another program got its id, or it died and was never reaped.
void TestSingleApplication::unansweringPrimaryIsReplaced()
{
    QFETCH(QString, recorded);
    QFETCH(bool, staleSocket);
    const QString key = freshKey();
    const QString name = computeBlockName(hostInputs(hostPath, key));
    pid_t pid = ::getpid();
    if (recorded == QLatin1String("zombie")) {
        pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0)
            ::_exit(0);
        // Exited, not reaped: its id still answers to signal 0.
        QTRY_COMPARE(processState(pid), 'Z');
    }
    const auto reap = qScopeGuard([pid] {
        if (pid != ::getpid())
            ::waitpid(pid, nullptr, 0);
    });
    QCOMPARE(::kill(pid, 0), 0);
    QVERIFY(writeBlock(name, pid));
    QFile::remove(instanceServerName(name));
    if (staleSocket)
        QVERIFY(leaveStaleSocket(instanceServerName(name)));

    Host host(hostPath, key, stopFile());
    QVERIFY2(host.waitPrimary(), QByteArray(host.out + host.err).constData());
    QVERIFY2(host.err.contains(QStringLiteral("The primary instance (process %1) does not answer on its socket; taking "
                                              "its place.")
                                   .arg(pid)
                                   .toUtf8()),
             host.err.constData());
    const BlockState taken = readBlock(name);
    QVERIFY(taken.consistent && taken.hasPrimary);
    QCOMPARE(taken.pid, host.process.processId());

    Host next(hostPath, key, stopFile());
    QVERIFY(next.process.waitForFinished(10000));
    QCOMPARE(next.process.exitCode(), 0);
    QVERIFY2(!next.out.contains("primary"), next.out.constData());
    QTRY_COMPARE(host.count("instanceStarted"), 1);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

void TestSingleApplication::namesOfAnotherAccountAreNoObstacle_data()
{
    QTest::addColumn<bool>("runtimeDirectory");
    QTest::newRow("with a runtime directory") << true;
    QTest::newRow("without one, its temporary folder taken") << false;
}

// Another account starts first and takes every name it can compute from
// public inputs in the shared temporary directory: the block's key, the
// socket, and the folder a start without a runtime directory would make.
// The user's own client still starts, and a second start still finds it.
void TestSingleApplication::namesOfAnotherAccountAreNoObstacle()
{
    QFETCH(bool, runtimeDirectory);
    if (::geteuid() != 0)
        QSKIP("running the other account's process needs root (setpriv)");
    // The shared temporary directory, as /tmp is: open to all, sticky.
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
    const QString sharedStop = shared.filePath(QStringLiteral("stop"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), shared.path());
    // A short path, as a home usually has: a socket's name is bounded.
    QTemporaryDir homeDir(QStringLiteral("/tmp/oh-XXXXXX"));
    QVERIFY(homeDir.isValid());
    const QString home = homeDir.path();
    if (!runtimeDirectory) {
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.remove(QStringLiteral("XDG_CACHE_HOME"));
        environment.insert(QStringLiteral("HOME"), home);
    }

    const QString key = freshKey();
    const QString name = computeBlockName(hostInputs(hostPath, key));
    QProcess squatter;
    squatter.setProcessEnvironment(environment);
    QByteArray squatterOut;
    QObject::connect(&squatter, &QProcess::readyReadStandardOutput,
                     [&] { squatterOut += squatter.readAllStandardOutput(); });
    squatter.start(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                    hostPath, QStringLiteral("--squat"), name, QStringLiteral("--stop"), sharedStop,
                    QStringLiteral("--squat-folder"), shared.filePath(QStringLiteral("orvalin-%1").arg(::geteuid()))});
    const auto stopSquatter = qScopeGuard([&] {
        QFile(sharedStop).open(QIODevice::WriteOnly);
        if (!squatter.waitForFinished(5000))
            squatter.kill();
    });
    QTRY_VERIFY2_WITH_TIMEOUT(squatterOut.contains("squat"), squatterOut.constData(), 10000);
    QVERIFY2(squatterOut.contains("squatting"), squatterOut.constData());

    Host first(hostPath, key, stopFile(), ScopeUser, {}, environment);
    QVERIFY2(first.waitPrimary(), QByteArray(first.out + first.err).constData());
    QCOMPARE(first.blockName(), name);
    QCOMPARE(first.process.state(), QProcess::Running);
    // Its socket is in a folder of this user that nobody else may enter.
    const QString socketFolder = runtimeDirectory
                                     ? qEnvironmentVariable("XDG_RUNTIME_DIR")
                                     : home + QStringLiteral("/.cache/orvalin-instance-%1").arg(::geteuid());
    QVERIFY2(QFileInfo::exists(socketFolder + QLatin1Char('/') + name), qPrintable(socketFolder));
    struct stat folder;
    QCOMPARE(::lstat(QFile::encodeName(socketFolder).constData(), &folder), 0);
    QCOMPARE(folder.st_uid, ::geteuid());
    QCOMPARE(folder.st_mode & 077, 0u);

    Host second(hostPath, key, stopFile(), ScopeUser, {}, environment);
    QVERIFY(second.process.waitForFinished(10000));
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY2(!second.out.contains("primary"), second.out.constData());
    QTRY_COMPARE(first.count("instanceStarted"), 1);
    stopHosts();
    QVERIFY(first.process.waitForFinished(10000));
}

// A block that is not one of this program's (too small) ends the start with
// status 1 and a log that says what was wrong, and where it was found.
void TestSingleApplication::smallBlockSaysWhatIsWrong()
{
    const QString key = freshKey();
    const QString name = computeBlockName(hostInputs(hostPath, key));
    {
        InstanceMemory memory(name);
        QVERIFY2(memory.create(10), qPrintable(memory.errorString()));
    }
    Host host(hostPath, key, stopFile());
    QVERIFY(host.process.waitForFinished(10000));
    QCOMPARE(host.process.exitCode(), 1);
    QVERIFY2(!host.out.contains("primary"), host.out.constData());
    QList<QByteArray> lines;
    for (const QByteArray &line : host.err.split('\n')) {
        if (line.contains("SingleApplication"))
            lines << line;
    }
    QCOMPARE(lines.size(), 2);
    const QRegularExpression where(QStringLiteral("^critical:\\[[^\\]]*singleapplication\\.cpp:[1-9][0-9]*\\]  "));
    for (const QByteArray &line : lines)
        QVERIFY2(where.match(QString::fromUtf8(line)).hasMatch(), line.constData());
    QVERIFY(lines.at(0).endsWith("  SingleApplication: Shared memory block is smaller than expected."));
    QVERIFY2(lines.at(1).endsWith("  SingleApplication: InvalidSize the block holds 10 bytes, 152 expected"),
             lines.at(1).constData());
}

void TestSingleApplication::badHelloClosesConnection_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("good hello") << QString();
    QTest::newRow("other block name") << QStringLiteral("name");
    QTest::newRow("damaged checksum") << QStringLiteral("checksum");
    QTest::newRow("oversized length") << QStringLiteral("oversized");
    QTest::newRow("huge length") << QStringLiteral("huge");
    QTest::newRow("negative length") << QStringLiteral("negative");
}

void TestSingleApplication::badHelloClosesConnection()
{
    QFETCH(QString, fault);
    const QString key = freshKey();
    Host host(hostPath, key, stopFile());
    QVERIFY(host.waitPrimary());
    const QString name = host.blockName();

    QByteArray body
        = encodeHello(fault == QLatin1String("name") ? QByteArray(44, 'A') : name.toLatin1(), KindNewInstance, 0);
    if (fault == QLatin1String("checksum"))
        body[body.size() - 2] = char(body.at(body.size() - 2) ^ 0x40);
    qint64 announced = body.size();
    if (fault == QLatin1String("oversized"))
        announced = maxHelloLength + 1;
    else if (fault == QLatin1String("huge"))
        announced = qint64(1) << 40;
    else if (fault == QLatin1String("negative"))
        announced = -1;

    QLocalSocket socket;
    socket.connectToServer(instanceServerName(name));
    QVERIFY(socket.waitForConnected(5000));
    QByteArray received;
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] { received += socket.readAll(); });
    socket.write(encodeFrameHeader(announced));
    socket.flush();
    const bool badHeader = announced != body.size();
    if (!badHeader) {
        QTRY_COMPARE(received, QByteArray("\n"));
        socket.write(body);
        socket.flush();
    }

    if (fault.isEmpty()) {
        QTRY_COMPARE(received, QByteArray("\n\n"));
        QTRY_COMPARE(host.count("instanceStarted"), 1);
        QCOMPARE(socket.state(), QLocalSocket::ConnectedState);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QLocalSocket::UnconnectedState, 10000);
        QCOMPARE(received, QByteArray(badHeader ? "" : "\n"));
        QTest::qWait(200);
        QCOMPARE(host.count("instanceStarted"), 0);
    }
    // The primary still serves a proper start afterwards.
    Host next(hostPath, key, stopFile());
    QVERIFY(next.process.waitForFinished(10000));
    QCOMPARE(next.process.exitCode(), 0);
    QTRY_COMPARE(host.count("instanceStarted"), fault.isEmpty() ? 2 : 1);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

void TestSingleApplication::commandGetsItsReply_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("primary that takes commands") << true;
    // Takes the hello and the command, raises nothing and never replies, as
    // a primary of the version before commands does.
    QTest::newRow("primary without commands") << false;
}

// A command start gets the primary's reply over its own connection, and the
// primary raises no window for it; one without commands leaves the sender
// saying so, and both still serve a plain start afterwards.
void TestSingleApplication::commandGetsItsReply()
{
    QFETCH(bool, answers);
    const QString key = freshKey();
    Host host(hostPath, key, stopFile(), ScopeUser,
              answers ? QStringList{QStringLiteral("--commands")} : QStringList());
    QVERIFY(host.waitPrimary());
    const QString name = host.blockName();

    InstanceCommand::Command command;
    command.action = InstanceCommand::Action::Connect;
    command.profile = QStringLiteral("office");
    QElapsedTimer clock;
    clock.start();
    const CommandClient::Outcome outcome = CommandClient(instanceServerName(name), name).send(command);
    if (answers) {
        QCOMPARE(outcome.result, CommandClient::Result::Replied);
        QVERIFY(outcome.reply);
        QCOMPARE(outcome.reply->outcome, InstanceCommand::Outcome::Done);
        QCOMPARE(outcome.reply->profile, QStringLiteral("office"));
    } else {
        QCOMPARE(outcome.result, CommandClient::Result::NotTaken);
        QVERIFY2(clock.elapsed() < CommandClient::contactTimeoutMs + 3000, QByteArray::number(clock.elapsed()));
    }
    QTRY_VERIFY2(host.out.contains(R"(command {"command":"connect","profile":"office"})"), host.out.constData());
    QCOMPARE(host.count("instanceStarted"), 0);

    Host next(hostPath, key, stopFile());
    QVERIFY(next.process.waitForFinished(10000));
    QCOMPARE(next.process.exitCode(), 0);
    QTRY_COMPARE(host.count("instanceStarted"), 1);
    QCOMPARE(host.count("command "), 1);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

void TestSingleApplication::badCommandFrameClosesConnection_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("command larger than a command may be") << QStringLiteral("oversized");
    QTest::newRow("a second frame after the command") << QStringLiteral("second");
}

void TestSingleApplication::badCommandFrameClosesConnection()
{
    QFETCH(QString, fault);
    const QString key = freshKey();
    Host host(hostPath, key, stopFile(), ScopeUser, {QStringLiteral("--commands")});
    QVERIFY(host.waitPrimary());
    const QString name = host.blockName();

    QLocalSocket socket;
    socket.connectToServer(instanceServerName(name));
    QVERIFY(socket.waitForConnected(5000));
    QByteArray received;
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] { received += socket.readAll(); });
    const QByteArray hello = encodeHello(name.toLatin1(), KindCommand, 0);
    socket.write(encodeFrameHeader(hello.size()));
    socket.flush();
    QTRY_COMPARE(received, QByteArray("\n"));
    socket.write(hello);
    socket.flush();
    QTRY_COMPARE(received, QByteArray("\n\n"));

    const QByteArray command = R"({"command":"status"})";
    if (fault == QLatin1String("oversized")) {
        // Well within what a plain start's message may be.
        socket.write(encodeFrameHeader(maxCommandLength + 1));
        socket.flush();
    } else {
        socket.write(encodeFrameHeader(command.size()));
        socket.flush();
        QTRY_COMPARE(received, QByteArray("\n\n\n"));
        socket.write(command);
        socket.flush();
        QTRY_VERIFY(received.size() > 4);
        socket.write(encodeFrameHeader(command.size()) + command);
        socket.flush();
    }
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(host.count("command "), fault == QLatin1String("second") ? 1 : 0);

    // The primary still answers the next command.
    const CommandClient::Outcome outcome
        = CommandClient(instanceServerName(name), name).send(InstanceCommand::Command());
    QCOMPARE(outcome.result, CommandClient::Result::Replied);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

// Another local account that knows where the primary's socket is still
// cannot send it a command: the socket's folder and the socket itself are the
// user's own. The same request from the user's own account is answered.
void TestSingleApplication::anotherAccountCannotCommand()
{
    if (::geteuid() != 0)
        QSKIP("running the other account's process needs root (setpriv)");
    const QString key = freshKey();
    Host host(hostPath, key, stopFile(), ScopeUser, {QStringLiteral("--commands")});
    QVERIFY(host.waitPrimary());
    const QString name = host.blockName();
    const QStringList sender{hostPath, QStringLiteral("--send-command"), instanceServerName(name),
                             QStringLiteral("--block"), name};

    QProcess other;
    other.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                       QStringLiteral("--clear-groups")}
                                               + sender);
    QVERIFY(other.waitForFinished(15000));
    const QByteArray otherOut = other.readAllStandardOutput();
    // 1: CommandClient::Result::NotRunning, nothing it may reach.
    QVERIFY2(otherOut.contains("result 1"), QByteArray(otherOut + other.readAllStandardError()).constData());
    QTest::qWait(300);
    QCOMPARE(host.count("command "), 0);

    QProcess own;
    own.start(sender.constFirst(), sender.mid(1));
    QVERIFY(own.waitForFinished(15000));
    const QByteArray ownOut = own.readAllStandardOutput();
    // 0: CommandClient::Result::Replied.
    QVERIFY2(ownOut.contains("result 0"), QByteArray(ownOut + own.readAllStandardError()).constData());
    QTRY_COMPARE(host.count("command "), 1);
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
}

QTEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
