// Log viewer benchmark: a 100 MB agent log, 1 KB appended to it. Measures the
// time from the append to the view showing it, beside one full reload of the
// same file by the same viewer, and prints both and the ratio.
//
// The baseline is the viewer's own full reload, which reads only the end of
// the file that the view can hold; re-reading and re-rendering all 100 MB on
// every change would make the ratio look far better than this one.
#include "logfollower.h"
#include "textbrowser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Lets the view finish its layout steps and any pending work.
void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QByteArray kilobyteOfLog(int round)
{
    QByteArray chunk;
    int line = 0;
    while (chunk.size() < 1024 - 80)
        chunk += "appended " + QByteArray::number(round) + '.' + QByteArray::number(line++)
                 + " agent: DTLS keepalive, rtt 12 ms\n";
    const QByteArray last = "end " + QByteArray::number(round) + ' ';
    chunk += last + QByteArray(1023 - chunk.size() - last.size(), 'x') + '\n';
    return chunk;
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tunwarden.log"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray line = "2026-12-10 02:00:00.000 debug tunnel: packet 0123456789 routed via tun0, "
                                "len 1380, dtls epoch 3, seq 42\n";
        QByteArray block;
        while (block.size() < 1024 * 1024)
            block += line;
        for (qint64 written = 0; written < 100LL * 1000 * 1000; written += block.size())
            file.write(block);
    }
    const qint64 size = QFileInfo(path).size();

    // Full reload: a fresh viewer reads the file and shows its end.
    QList<double> reloads;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        TextBrowser view(QStringLiteral("Log Viewer"), nullptr);
        LogFollower follower(path, &view);
        if (!follower.start())
            return 1;
        view.show();
        view.browser()->viewport()->repaint();
        reloads.append(t.nsecsElapsed() / 1e6);
        settle(300);
    }

    // Appends: the viewer is open at the end of the log; 1 KB is written.
    TextBrowser view(QStringLiteral("Log Viewer"), nullptr);
    LogFollower follower(path, &view);
    follower.start();
    view.show();
    settle(2000);
    QList<double> appends;
    for (int round = 0; round < 15; ++round) {
        const QByteArray chunk = kilobyteOfLog(round);
        const QString lastLine = QStringLiteral("end %1 ").arg(round);
        QElapsedTimer t;
        t.start();
        {
            QFile file(path);
            file.open(QIODevice::Append);
            file.write(chunk);
        }
        QTextDocument *document = view.browser()->document();
        while (!document->lastBlock().previous().text().startsWith(lastLine)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
            if (t.elapsed() > 30000)
                return 2;
        }
        view.browser()->viewport()->repaint();
        appends.append(t.nsecsElapsed() / 1e6);
        settle(100);
    }

    const double reload = median(reloads);
    const double append = median(appends);
    const double slowest = *std::max_element(appends.cbegin(), appends.cend());
    std::printf("log file                    %.1f MB, view holds %.1f MiB\n", size / 1e6,
                view.heldCharacters() / (1024.0 * 1024.0));
    std::printf("full reload (median of 3)   %9.2f ms\n", reload);
    std::printf("1 KB append shown (med. 15) %9.2f ms\n", append);
    std::printf("slowest append              %9.2f ms  (drops the oldest tenth when the view is full)\n", slowest);
    std::printf("append / full reload        %9.2f %%   (target < 5 %%)\n", 100.0 * append / reload);
    return 0;
}
