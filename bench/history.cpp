// The connection history under a burst of events: ConnectionHistory::record
// for 20,000 events beside 20,000 plain appends of the same lines to a file
// (open, write, close). Prints the time and the bytes written of each and the
// ratios. Linux: the bytes are those handed to write(), from /proc/self/io.
//
// Usage: bench_history [EVENTS] [DIRECTORY]   (default 20000, a temporary
// folder in the current directory, so on the same disk as the build)
#include "connectionhistory.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

namespace {

qint64 bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

struct Figures
{
    double seconds = 0;
    qint64 bytes = 0;
};

Figures measure(const std::function<void()> &work)
{
    const qint64 before = bytesWritten();
    QElapsedTimer timer;
    timer.start();
    work();
    return Figures{timer.nsecsElapsed() / 1e9, bytesWritten() - before};
}

// One event of a reconnecting session, as the session control records them.
struct Event
{
    QString name;
    QJsonObject fields;
    QDateTime at;
};

QList<Event> makeEvents(int count)
{
    const QString names[]
        = {ConnectionHistory::connectRequested, ConnectionHistory::connected,   ConnectionHistory::lost,
           ConnectionHistory::reconnectSent,    ConnectionHistory::reconnected, ConnectionHistory::disconnected};
    const QDateTime start = QDateTime::fromString(QStringLiteral("2025-03-01T08:00:00+08:00"), Qt::ISODate);
    QList<Event> events;
    for (int i = 0; i < count; ++i) {
        Event event{names[i % 6],
                    {{QStringLiteral("profile"), QStringLiteral("Head office")},
                     {QStringLiteral("host"), QStringLiteral("vpn.example.com")}},
                    start.addSecs(i)};
        if (event.name == ConnectionHistory::lost)
            event.fields.insert(QStringLiteral("message"), QStringLiteral("DTLS keepalive timed out, link lost"));
        if (event.name == ConnectionHistory::connected || event.name == ConnectionHistory::reconnected)
            event.fields.insert(QStringLiteral("address"), QStringLiteral("10.8.0.12"));
        events << event;
    }
    return events;
}

// The line record() writes for an event.
QByteArray lineOf(const Event &event)
{
    QJsonObject entry = event.fields;
    entry.insert(QStringLiteral("time"), event.at.toOffsetFromUtc(event.at.offsetFromUtc()).toString(Qt::ISODate));
    entry.insert(QStringLiteral("event"), event.name);
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args.at(1).toInt() : 20000;
    QTemporaryDir dir(args.size() > 2 ? args.at(2) + QStringLiteral("/bench-history-XXXXXX")
                                      : QDir::currentPath() + QStringLiteral("/bench-history-XXXXXX"));
    if (count <= 0 || !dir.isValid())
        qFatal("usage: bench_history [EVENTS] [DIRECTORY]");
    const QList<Event> events = makeEvents(count);
    QList<QByteArray> lines;
    for (const Event &event : events)
        lines << lineOf(event);

    ConnectionHistory history(dir.filePath(QStringLiteral("history.jsonl")));
    const Figures recorded = measure([&] {
        for (const Event &event : events)
            history.record(event.name, event.fields, event.at);
    });
    const Figures appended = measure([&] {
        const QString path = dir.filePath(QStringLiteral("plain.jsonl"));
        for (const QByteArray &line : std::as_const(lines)) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size())
                qFatal("append failed");
        }
    });

    QTextStream out(stdout);
    out << "events: " << count << ", kept: " << history.events().size() << " (files "
        << QFile(history.path()).size() + QFile(history.previousPath()).size() << " bytes)\n";
    const auto row = [&](const char *what, const Figures &figures) {
        out << what << QString::number(figures.seconds * 1000, 'f', 1) << " ms, "
            << QString::number(figures.seconds * 1e6 / count, 'f', 1) << " us per event, " << figures.bytes
            << " bytes written\n";
    };
    row("history.record: ", recorded);
    row("plain appends:  ", appended);
    out << "ratio (history / plain): time " << QString::number(recorded.seconds / appended.seconds, 'f', 2)
        << ", bytes " << QString::number(double(recorded.bytes) / appended.bytes, 'f', 2) << '\n';
    return 0;
}
