// Start-up benchmark: time from process start to the first "config" request
// arriving at the agent's address, for the real client and for a minimal
// Qt Widgets program (bench_floor), median of several interleaved runs each.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
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

// One start of the program in a fresh environment; the milliseconds until
// its "config" arrived, or nothing on failure.
std::optional<double> measure(ConfigCatcher &catcher, const QString &program)
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

    process.kill();
    process.waitForFinished(5000);
    removeStaleIpc(temp);
    if (!arrived) {
        std::fprintf(stderr, "%s: no \"config\" request within %d ms (%s)\n", qPrintable(program), RunTimeoutMs,
                     qPrintable(process.errorString()));
        return std::nullopt;
    }
    return elapsedMs;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString listOf(const QList<double> &values)
{
    QStringList parts;
    for (double value : values)
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
                       "the client (KestrumSSLVPN) beside a minimal Qt Widgets program (bench_floor)."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"),
                      QStringLiteral("Measured runs of each program (default 11, at least 10)."), QStringLiteral("N"),
                      QStringLiteral("11")});
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
    for (const QString &program : {client, floor}) {
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

    // One unmeasured start of each warms the file cache; then the two
    // alternate so that drift in the machine's load hits both alike.
    if (!measure(catcher, floor) || !measure(catcher, client))
        return 1;
    QList<double> floorTimes, clientTimes;
    for (int i = 0; i < runs; ++i) {
        const std::optional<double> f = measure(catcher, floor);
        const std::optional<double> c = measure(catcher, client);
        if (!f || !c)
            return 1;
        floorTimes.append(*f);
        clientTimes.append(*c);
    }

    const double floorMedian = median(floorTimes);
    const double clientMedian = median(clientTimes);
    std::printf("runs each:            %d\n", runs);
    std::printf("floor  (bench_floor)  median %7.1f ms   [%s]\n", floorMedian, qPrintable(listOf(floorTimes)));
    std::printf("client (KestrumSSLVPN) median %7.1f ms   [%s]\n", clientMedian, qPrintable(listOf(clientTimes)));
    std::printf("ratio client/floor:   %.2f (target <= 1.30)\n", clientMedian / floorMedian);
    return 0;
}

#include "startup.moc"
