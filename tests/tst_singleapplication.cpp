#include "instanceprotocol.h"
#include "singleapplication.h"
#include "username.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <memory>

using namespace InstanceProtocol;

namespace {
const QString hostPath = QStringLiteral(ORVALIN_BIN_DIR "/singleinstancehost");

// One run of the host program; collects what it reports.
class Host
{
public:
    Host(const QString &program, const QString &key, const QString &stopFile, int options = ScopeUser,
         const QStringList &extra = {})
        : stopFile(stopFile)
    {
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
    void badHelloClosesConnection_data();
    void badHelloClosesConnection();

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

    QSharedMemory block(name);
    if (killed) {
        first->process.kill(); // SIGKILL: no destructor clears the block
        QVERIFY(first->process.waitForFinished(10000));
        QCOMPARE(first->process.exitStatus(), QProcess::CrashExit);
        // What the next start finds: a block that still names the dead primary.
        QVERIFY(block.attach(QSharedMemory::ReadOnly));
        QVERIFY(block.lock());
        const auto *b = static_cast<const InstanceBlock *>(block.constData());
        const bool stale = b->hasPrimary && b->primaryProcessId == firstPid && isConsistent(*b);
        block.unlock();
        // Stays attached: the last detach would remove the block, which a
        // real crash never does.
        QVERIFY(stale);
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
    const QString key = freshKey();
    const QString name = computeBlockName(hostInputs(hostPath, key));
    QSharedMemory block(name);
    QVERIFY2(block.create(int(sizeof(InstanceBlock))), qPrintable(block.errorString()));
    {
        QVERIFY(block.lock());
        auto *b = static_cast<InstanceBlock *>(block.data());
        resetBlock(*b);
        // A live process id, so only the checksum can free the block.
        b->hasPrimary = true;
        b->primaryProcessId = QCoreApplication::applicationPid();
        b->checksum = quint16(infoChecksum(*b) ^ 0x5a5a);
        QVERIFY(block.unlock());
    }

    Host host(hostPath, key, stopFile());
    QVERIFY2(host.waitPrimary(20000), host.err.constData());
    QVERIFY2(host.started.elapsed() >= 5000, QByteArray::number(host.started.elapsed()).constData());
    QVERIFY(host.err.contains("SingleApplication: Shared memory block has been in an inconsistent state from "
                              "more than 5s. Assuming primary instance failure."));
    {
        QVERIFY(block.lock());
        const auto *b = static_cast<const InstanceBlock *>(block.constData());
        const bool taken = isConsistent(*b) && b->hasPrimary && b->primaryProcessId == host.process.processId();
        block.unlock();
        QVERIFY(taken);
    }
    stopHosts();
    QVERIFY(host.process.waitForFinished(10000));
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
    socket.connectToServer(name);
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

QTEST_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
