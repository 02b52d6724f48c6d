// Start-up benchmark: time from process start to the first "config" request
// arriving at the agent's address, for the real client, for a minimal Qt
// Widgets program (bench_floor) and for a window with the client's first
// screen and nothing behind it (bench_content), median of several interleaved
// runs each; then the resident memory of the client and the content floor
// 3 s after start.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

constexpr quint16 AgentPort = 6210;
constexpr int RunTimeoutMs = 20000;

// Listens where the client looks for its agent and reports each "config".
class ConfigCatcher : public QObject
{
    Q_OBJECT

public:
    bool listen()
    {
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray &bytes) {
                    if (QJsonDocument::fromJson(bytes).object().value(QLatin1String("method")).toString()
                        == QLatin1String("config"))
                        emit configReceived();
                });
            }
        });
        return server.listen(QHostAddress::LocalHost, AgentPort);
    }
    QString errorString() const { return server.errorString(); }

signals:
    void configReceived();

private:
    QWebSocketServer server{QStringLiteral("bench-agent"), QWebSocketServer::NonSecureMode};
};

// A killed Qt program leaves its System V shared memory and semaphores behind;
// their keys come from the "qipc_*" files in its temporary directory.
void removeStaleIpc(const QString &tempDir)
{
    const QStringList files = QDir(tempDir).entryList({QStringLiteral("qipc_*")}, QDir::Files);
    for (const QString &name : files) {
        const key_t key = ftok(QFile::encodeName(QDir(tempDir).filePath(name)).constData(), 'Q');
        if (key == -1)
            continue;
        const int shm = shmget(key, 0, 0);
        if (shm != -1)
            shmctl(shm, IPC_RMID, nullptr);
        const int sem = semget(key, 0, 0);
        if (sem != -1)
            semctl(sem, 0, IPC_RMID);
    }
}

// Resident memory of a running process in KiB, from /proc; 0 if unknown.
qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

struct Run
{
    double configMs = 0;
    qint64 rssKiB = 0;
};

// One start of the program in a fresh environment: the milliseconds until its
// "config" arrived and, when `rssAfterMs` is set, its resident memory that
// long after the start; nothing on failure.
std::optional<Run> measure(ConfigCatcher &catcher, const QString &program, int rssAfterMs = 0)
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return std::nullopt;
    const QString config = sandbox.filePath(QStringLiteral("config"));
    const QString temp = sandbox.filePath(QStringLiteral("tmp"));
    QDir().mkpath(config);
    QDir().mkpath(temp);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("TMPDIR"), temp);

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProgram(program);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    QEventLoop loop;
    bool arrived = false;
    double elapsedMs = 0;
    QElapsedTimer clock;
    const auto onConfig = QObject::connect(&catcher, &ConfigCatcher::configReceived, &loop, [&] {
        if (!arrived) {
            arrived = true;
            elapsedMs = double(clock.nsecsElapsed()) / 1e6;
            loop.quit();
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(RunTimeoutMs, &loop, &QEventLoop::quit);

    clock.start();
    process.start();
    loop.exec();
    QObject::disconnect(onConfig);

    Run run;
    run.configMs = elapsedMs;
    if (arrived && rssAfterMs > 0) {
        QEventLoop settle;
        QTimer::singleShot(std::max<qint64>(0, rssAfterMs - clock.elapsed()), &settle, &QEventLoop::quit);
        settle.exec();
        run.rssKiB = residentKiB(process.processId());
    }

    process.kill();
    process.waitForFinished(5000);
    removeStaleIpc(temp);
    if (!arrived) {
        std::fprintf(stderr, "%s: no \"config\" request within %d ms (%s)\n", qPrintable(program), RunTimeoutMs,
                     qPrintable(process.errorString()));
        return std::nullopt;
    }
    return run;
}

template<typename T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

template<typename T>
QString listOf(const QList<T> &values)
{
    QStringList parts;
    for (T value : values)
        parts.append(QString::number(value, 'f', 1));
    return parts.join(QStringLiteral(" "));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Time from process start to the first \"config\" request on ws://127.0.0.1:6210/rpc:\n"
                       "the client (KestrumSSLVPN) beside a minimal Qt Widgets program (bench_floor)\n"
                       "and a window with the client's first screen (bench_content); then resident memory\n"
                       "3 s after start of the client and of bench_content."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"),
                      QStringLiteral("Measured runs of each program (default 15, at least 10)."), QStringLiteral("N"),
                      QStringLiteral("15")});
    parser.addOption({QStringLiteral("memory-runs"),
                      QStringLiteral("Runs of the client and bench_content for resident memory (default 3)."),
                      QStringLiteral("N"), QStringLiteral("3")});
    parser.addOption({QStringLiteral("bin"), QStringLiteral("Directory holding both programs (default: this one's)."),
                      QStringLiteral("DIR")});
    parser.process(app);

    bool ok = false;
    const int runs = parser.value(QStringLiteral("runs")).toInt(&ok);
    if (!ok || runs < 10) {
        std::fprintf(stderr, "--runs wants a whole number of at least 10\n");
        return 2;
    }
    const QDir bin(parser.isSet(QStringLiteral("bin")) ? parser.value(QStringLiteral("bin"))
                                                       : QCoreApplication::applicationDirPath());
    const QString client = bin.filePath(QStringLiteral("KestrumSSLVPN"));
    const QString floor = bin.filePath(QStringLiteral("bench_floor"));
    const QString content = bin.filePath(QStringLiteral("bench_content"));
    const int memoryRuns = std::max(1, parser.value(QStringLiteral("memory-runs")).toInt());
    for (const QString &program : {client, floor, content}) {
        if (!QFileInfo(program).isExecutable()) {
            std::fprintf(stderr, "missing program: %s (build the project first)\n", qPrintable(program));
            return 2;
        }
    }

    ConfigCatcher catcher;
    if (!catcher.listen()) {
        std::fprintf(stderr,
                     "cannot listen on 127.0.0.1:%u (%s): stop whatever uses the port (an agent or the simulator) "
                     "and try again\n",
                     unsigned(AgentPort), qPrintable(catcher.errorString()));
        return 1;
    }

    // One unmeasured start of each warms the file cache; then the three
    // alternate so that drift in the machine's load hits them alike.
    if (!measure(catcher, floor) || !measure(catcher, content) || !measure(catcher, client))
        return 1;
    QList<double> floorTimes, contentTimes, clientTimes;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> f = measure(catcher, floor);
        const std::optional<Run> t = measure(catcher, content);
        const std::optional<Run> c = measure(catcher, client);
        if (!f || !t || !c)
            return 1;
        floorTimes.append(f->configMs);
        contentTimes.append(t->configMs);
        clientTimes.append(c->configMs);
    }
    QList<double> contentRss, clientRss;
    for (int i = 0; i < memoryRuns; ++i) {
        const std::optional<Run> t = measure(catcher, content, 3000);
        const std::optional<Run> c = measure(catcher, client, 3000);
        if (!t || !c)
            return 1;
        contentRss.append(double(t->rssKiB) / 1024);
        clientRss.append(double(c->rssKiB) / 1024);
    }

    const double floorMedian = median(floorTimes);
    const double contentMedian = median(contentTimes);
    const double clientMedian = median(clientTimes);
    std::printf("runs each:                %d\n", runs);
    std::printf("floor   (bench_floor)    median %7.1f ms   [%s]\n", floorMedian, qPrintable(listOf(floorTimes)));
    std::printf("content (bench_content)  median %7.1f ms   [%s]\n", contentMedian, qPrintable(listOf(contentTimes)));
    std::printf("client  (KestrumSSLVPN)  median %7.1f ms   [%s]\n", clientMedian, qPrintable(listOf(clientTimes)));
    std::printf("ratio client/floor:       %.2f\n", clientMedian / floorMedian);
    std::printf("ratio client/content:     %.2f (target <= 1.25)\n", clientMedian / contentMedian);
    const double contentMiB = median(contentRss);
    const double clientMiB = median(clientRss);
    std::printf("RSS 3 s after start, median of %d: content %.1f MiB [%s], client %.1f MiB [%s]\n", memoryRuns,
                contentMiB, qPrintable(listOf(contentRss)), clientMiB, qPrintable(listOf(clientRss)));
    std::printf("ratio RSS client/content: %.2f (target <= 1.15)\n", clientMiB / contentMiB);
    return 0;
}

#include "startup.moc"
