// The signer checks of a directory scan: 200 signed PE files of about 2.5 MB
// (osslsigncode, under a test CA that only this process trusts), a first scan
// and a second one, beside `openssl dgst -sha256` over the same files in the
// same run, page cache warm. Processor times are printed too: on a machine
// busy with other work they show the cost that wall-clock times blur.
#include "appscanner.h"
#include "pefixture.h"
#include "signerchecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <openssl/x509.h>
#include <sys/resource.h>

namespace {

constexpr int FileCount = 200;
constexpr int CodeSize = 2560 * 1024; // with the headers and signature: about 2.5 MB
const QString Publisher = QStringLiteral("Orvalin Test Publisher");

void run(const QString &program, const QStringList &arguments, const QString &directory = QString())
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAll().constData());
}

// Signs every unsigned image, as many osslsigncode processes at a time as there are cores.
void signAll(const QString &fixtures, const QStringList &unsignedFiles, const QString &appsDir)
{
    std::vector<std::unique_ptr<QProcess>> running;
    const auto finishOne = [&running] {
        QProcess &process = *running.front();
        if (!process.waitForFinished(300000) || process.exitCode() != 0)
            qFatal("osslsigncode failed: %s", process.readAllStandardError().constData());
        running.erase(running.begin());
    };
    for (int i = 0; i < unsignedFiles.size(); ++i) {
        if (int(running.size()) >= QThread::idealThreadCount())
            finishOne();
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral("osslsigncode"),
                       {QStringLiteral("sign"), QStringLiteral("-certs"), fixtures + QStringLiteral("/publisher.pem"),
                        QStringLiteral("-key"), fixtures + QStringLiteral("/publisher.key"), QStringLiteral("-h"),
                        QStringLiteral("sha256"), QStringLiteral("-in"), unsignedFiles.at(i), QStringLiteral("-out"),
                        appsDir + QStringLiteral("/app%1.exe").arg(i, 3, 10, QLatin1Char('0'))});
        running.push_back(std::move(process));
    }
    while (!running.empty())
        finishOne();
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall-clock seconds of `work`; `cpu` receives the processor time it took
// (this process's, or its children's for a command).
double seconds(const std::function<void()> &work, double *cpu = nullptr, int who = RUSAGE_SELF)
{
    const double cpuBefore = cpuSeconds(who);
    QElapsedTimer timer;
    timer.start();
    work();
    const double wall = timer.nsecsElapsed() / 1e9;
    if (cpu)
        *cpu = cpuSeconds(who) - cpuBefore;
    return wall;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString fixtures = dir.filePath(QStringLiteral("fixtures"));
    const QString apps = dir.filePath(QStringLiteral("apps"));
    QDir().mkpath(fixtures);
    QDir().mkpath(apps);

    // The test CA and its publisher, from the Authenticode tests' script.
    if (!PeFixture::writeFile(fixtures + QStringLiteral("/unsigned64.exe"), PeFixture::minimalImage(true))
        || !PeFixture::writeFile(fixtures + QStringLiteral("/unsigned32.exe"), PeFixture::minimalImage(false)))
        qFatal("cannot write the fixtures");
    run(QStringLiteral("bash"), {QStringLiteral(AUTHENTICODE_FIXTURE_SCRIPT), fixtures});

    out << "signing " << FileCount << " images with osslsigncode..." << Qt::endl;
    QStringList unsignedFiles;
    for (int i = 0; i < FileCount; ++i) {
        const QString path = dir.filePath(QStringLiteral("unsigned%1.exe").arg(i));
        if (!PeFixture::writeFile(path, PeFixture::minimalImage(true, CodeSize, quint32(i + 1))))
            qFatal("cannot write %s", qPrintable(path));
        unsignedFiles << path;
    }
    signAll(fixtures, unsignedFiles, apps);
    for (const QString &path : std::as_const(unsignedFiles))
        QFile::remove(path);

    // The system's roots and the test CA, trusted by this process alone.
    QByteArray bundle = PeFixture::readFile(QFile::decodeName(X509_get_default_cert_file()));
    bundle += PeFixture::readFile(fixtures + QStringLiteral("/ca.pem"));
    const QString bundlePath = dir.filePath(QStringLiteral("roots.pem"));
    PeFixture::writeFile(bundlePath, bundle);
    qputenv(X509_get_default_cert_file_env(), QFile::encodeName(bundlePath));

    QStringList files;
    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(apps).entryInfoList(QDir::Files, QDir::Name)) {
        files << file.absoluteFilePath();
        bytes += file.size();
    }
    const QStringList dgstArguments = QStringList{QStringLiteral("dgst"), QStringLiteral("-sha256")} + files;
    run(QStringLiteral("openssl"), dgstArguments); // warms the page cache
    double sha256 = std::numeric_limits<double>::max();
    double sha256Cpu = std::numeric_limits<double>::max();
    for (int i = 0; i < 3; ++i) {
        double cpu = 0;
        sha256
            = std::min(sha256, seconds([&] { run(QStringLiteral("openssl"), dgstArguments); }, &cpu, RUSAGE_CHILDREN));
        sha256Cpu = std::min(sha256Cpu, cpu);
    }

    AppScanner scanner;
    const auto check = [&](const QList<SoftwareInfo> &list) {
        if (list.size() != FileCount)
            qFatal("the scan found %d files", int(list.size()));
        for (const SoftwareInfo &info : list) {
            if (info.digitalSigner != Publisher)
                qFatal("%s: signer \"%s\"", qPrintable(info.executablePath), qPrintable(info.digitalSigner));
        }
    };
    QList<SoftwareInfo> list;
    const quint64 checksBefore = SignerChecks::checksRun();
    double firstCpu = 0;
    const double first = seconds([&] { list = scanner.scanDirectory(apps); }, &firstCpu);
    check(list);
    const quint64 checksFirst = SignerChecks::checksRun() - checksBefore;
    double second = std::numeric_limits<double>::max();
    for (int i = 0; i < 3; ++i)
        second = std::min(second, seconds([&] { list = scanner.scanDirectory(apps); }));
    check(list);
    const quint64 checksSecond = SignerChecks::checksRun() - checksBefore - checksFirst;

    out << QStringLiteral("%1 signed PE files, %2 MB in all, %3 cores, page cache warm\n")
               .arg(FileCount)
               .arg(bytes / 1e6, 0, 'f', 1)
               .arg(QThread::idealThreadCount());
    out << QStringLiteral("  baseline: openssl dgst -sha256 over the files   %1 s (best of 3; processor time %2 s)\n")
               .arg(sha256, 0, 'f', 3)
               .arg(sha256Cpu, 0, 'f', 3);
    out << QStringLiteral("  first directory scan (%1 files checked)         %2 s  ratio %3 (target <= 1.50; "
                          "processor time %4 s, ratio %5)\n")
               .arg(checksFirst)
               .arg(first, 0, 'f', 3)
               .arg(first / sha256, 0, 'f', 2)
               .arg(firstCpu, 0, 'f', 3)
               .arg(firstCpu / sha256Cpu, 0, 'f', 2);
    out << QStringLiteral(
               "  second directory scan (%1 files checked)         %2 s  ratio %3 (target <= 0.10, best of 3)\n")
               .arg(checksSecond)
               .arg(second, 0, 'f', 3)
               .arg(second / sha256, 0, 'f', 3);
    return 0;
}
