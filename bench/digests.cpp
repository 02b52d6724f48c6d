// Digests of one 256 MiB file: AppScanner::calculateFileHashes beside
// `openssl dgst -md5` followed by `openssl dgst -sha256` on the same file, page
// cache warm, best of several runs each. Also shows the single-thread path and
// the two-pass QCryptographicHash way for reference.
#include "appscanner.h"
#include "filedigest.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

constexpr qint64 FileSize = 256 * 1024 * 1024;

double bestSeconds(int runs, const std::function<void()> &work)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

void runOpenssl(const QString &algorithm, const QString &path)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QLatin1Char('-') + algorithm, path});
    if (!openssl.waitForFinished(120000) || openssl.exitCode() != 0)
        qFatal("openssl dgst failed");
}

QByteArray qtDigest(const QString &path, QCryptographicHash::Algorithm algorithm)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(algorithm);
    char buffer[8192];
    while (!file.atEnd()) {
        const qint64 n = file.read(buffer, sizeof(buffer));
        if (n <= 0)
            break;
        hash.addData(QByteArrayView(buffer, n));
    }
    return hash.result().toHex();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = app.arguments().size() > 1 ? app.arguments().at(1).toInt() : 3;
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("digest.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the test file");
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(1);
        for (qint64 written = 0; written < FileSize; written += block.size()) {
            generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            file.write(block);
        }
    }
    FileDigest::md5AndSha256(path); // warms the page cache

    AppScanner scanner;
    SoftwareInfo info;
    info.executablePath = path;
    // Runs alternate between the three, so that a change in the machine's load
    // touches each alike.
    double ours = std::numeric_limits<double>::max();
    double single = ours;
    double openssl = ours;
    for (int i = 0; i < runs; ++i) {
        ours = std::min(ours, bestSeconds(1, [&] { scanner.calculateFileHashes(info); }));
        single = std::min(single,
                          bestSeconds(1, [&] { FileDigest::md5AndSha256(path, {}, FileDigest::Threads::Single); }));
        openssl = std::min(openssl, bestSeconds(1, [&] {
                               runOpenssl(QStringLiteral("md5"), path);
                               runOpenssl(QStringLiteral("sha256"), path);
                           }));
    }
    const double qt = bestSeconds(1, [&] {
        qtDigest(path, QCryptographicHash::Md5);
        qtDigest(path, QCryptographicHash::Sha256);
    });

    const double megabytes = FileSize / 1e6;
    out << "digests of a 256 MiB file, page cache warm, best of " << runs << " runs, " << QThread::idealThreadCount()
        << " cores\n";
    out << QStringLiteral("  calculateFileHashes        %1 s  %2 MB/s  ratio %3\n")
               .arg(ours, 0, 'f', 3)
               .arg(megabytes / ours, 0, 'f', 0)
               .arg(ours / openssl, 0, 'f', 2);
    out << QStringLiteral("  one thread, one read       %1 s  %2 MB/s  ratio %3\n")
               .arg(single, 0, 'f', 3)
               .arg(megabytes / single, 0, 'f', 0)
               .arg(single / openssl, 0, 'f', 2);
    out << QStringLiteral("  QCryptographicHash, 2 reads %1 s  %2 MB/s  ratio %3 (one run)\n")
               .arg(qt, 0, 'f', 3)
               .arg(megabytes / qt, 0, 'f', 0)
               .arg(qt / openssl, 0, 'f', 2);
    out << QStringLiteral("  baseline: openssl dgst -md5, then -sha256  %1 s  %2 MB/s\n")
               .arg(openssl, 0, 'f', 3)
               .arg(megabytes / openssl, 0, 'f', 0);
    out << "  (ratio = time / baseline time; target <= 0.80)\n";
    return 0;
}
