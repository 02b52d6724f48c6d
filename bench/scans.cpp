// The installed-software and process scans of this machine beside the
// system's own listings: `dpkg-query -W` and `ps -e`, same run.
#include "appscanner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTextStream>

namespace {

struct Figure
{
    qint64 count = 0;
    double seconds = 0;
};

Figure runCommand(const QString &program, const QStringList &arguments, int headerLines)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    const qint64 lines = process.readAllStandardOutput().count('\n') - headerLines;
    return Figure{lines, timer.nsecsElapsed() / 1e9};
}

template<typename Signal>
Figure runScan(AppScanner &scanner, Signal signal, void (AppScanner::*start)())
{
    QEventLoop loop;
    qint64 count = 0;
    const auto connection = QObject::connect(&scanner, signal, &loop, [&](QList<SoftwareInfo> list) {
        count = list.size();
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    (scanner.*start)();
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(connection);
    return Figure{count, seconds};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    AppScanner scanner;

    // One run each first, so that both sides read from a warm cache.
    runScan(scanner, &AppScanner::scanFinished, &AppScanner::startScan);
    runCommand(QStringLiteral("dpkg-query"), {QStringLiteral("-W")}, 0);

    int counted = 0;
    QObject::connect(&scanner, &AppScanner::scanProgress, &scanner, [&](int, int total) { counted = total; });
    const Figure installed = runScan(scanner, &AppScanner::scanFinished, &AppScanner::startScan);
    const Figure dpkg = runCommand(QStringLiteral("dpkg-query"), {QStringLiteral("-W")}, 0);
    const Figure processes = runScan(scanner, &AppScanner::processScanFinished, &AppScanner::startProcessScan);
    const Figure ps = runCommand(QStringLiteral("ps"), {QStringLiteral("-e")}, 1);

    out << QStringLiteral("installed software: %1 records (%6 counted) in %2 s; baseline dpkg-query -W: %3 packages "
                          "in %4 s; time ratio %5\n")
               .arg(installed.count)
               .arg(installed.seconds, 0, 'f', 3)
               .arg(dpkg.count)
               .arg(dpkg.seconds, 0, 'f', 3)
               .arg(installed.seconds / dpkg.seconds, 0, 'f', 2)
               .arg(counted);
    out << QStringLiteral("running processes: %1 records in %2 s; baseline ps -e: %3 processes in %4 s; "
                          "time ratio %5\n")
               .arg(processes.count)
               .arg(processes.seconds, 0, 'f', 3)
               .arg(ps.count)
               .arg(ps.seconds, 0, 'f', 3)
               .arg(processes.seconds / ps.seconds, 0, 'f', 2);
    return 0;
}
