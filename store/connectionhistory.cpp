#include "connectionhistory.h"

#include "appglobals.h"
#include "boundedtext.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

const QString ConnectionHistory::connectRequested = QStringLiteral("connect");
const QString ConnectionHistory::connected = QStringLiteral("connected");
const QString ConnectionHistory::refused = QStringLiteral("refused");
const QString ConnectionHistory::lost = QStringLiteral("lost");
const QString ConnectionHistory::reconnectSent = QStringLiteral("reconnect");
const QString ConnectionHistory::reconnected = QStringLiteral("reconnected");
const QString ConnectionHistory::reconnectRefused = QStringLiteral("reconnect-refused");
const QString ConnectionHistory::closedByServer = QStringLiteral("closed");
const QString ConnectionHistory::disconnected = QStringLiteral("disconnected");
const QString ConnectionHistory::linkLost = QStringLiteral("link-lost");
const QString ConnectionHistory::linkRestored = QStringLiteral("link-restored");
const QString ConnectionHistory::takenOver = QStringLiteral("taken-over");

namespace {

constexpr qint64 daySeconds = 24 * 60 * 60;

// Texts of an event cut to the stored bound; the agent decides how long its
// messages are.
QJsonObject bounded(QJsonObject event)
{
    for (const QString &key : event.keys()) {
        const QJsonValue value = event.value(key);
        if (!value.isString())
            continue;
        const QString text = value.toString();
        const QString kept = BoundedText::cutUtf8(text, BoundedText::storedBytes);
        if (kept.size() != text.size())
            event.insert(key, kept);
    }
    return event;
}

// The event held by one line, or an empty object when the line is damaged.
QJsonObject parseLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QJsonObject();
    const QJsonObject event = document.object();
    if (!event.value(QLatin1String("event")).isString() || !ConnectionHistory::eventTime(event).isValid())
        return QJsonObject();
    return bounded(event);
}

QList<QByteArray> readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeIf([](const QByteArray &line) { return line.trimmed().isEmpty(); });
    return lines;
}

} // namespace

ConnectionHistory::ConnectionHistory(const QString &path)
    : filePath(path)
{
}

QString ConnectionHistory::defaultPath()
{
    return configLocation + QStringLiteral("/history.jsonl");
}

QString ConnectionHistory::path() const
{
    return filePath;
}

QString ConnectionHistory::previousPath() const
{
    return filePath + QStringLiteral(".1");
}

void ConnectionHistory::setClock(Clock source)
{
    clock = std::move(source);
}

QDateTime ConnectionHistory::now() const
{
    return clock ? clock() : QDateTime::currentDateTime();
}

QDateTime ConnectionHistory::eventTime(const QJsonObject &event)
{
    return QDateTime::fromString(event.value(QLatin1String("time")).toString(), Qt::ISODate);
}

bool ConnectionHistory::endsSession(const QString &event)
{
    return event == lost || event == closedByServer || event == disconnected || event == linkLost;
}

void ConnectionHistory::setObserver(Observer newObserver)
{
    observer = std::move(newObserver);
}

bool ConnectionHistory::startsSession(const QString &event)
{
    return event == connected || event == reconnected || event == takenOver;
}

bool ConnectionHistory::record(const QString &event, const QJsonObject &fields, const QDateTime &at)
{
    QJsonObject entry = bounded(fields);
    // With the offset written out, so a change of time zone or daylight
    // saving keeps the order and the durations readable.
    const QDateTime time = at.isValid() ? at : now();
    entry.insert(QStringLiteral("time"), time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate));
    entry.insert(QStringLiteral("event"), event);
    // Told whether or not the file takes it: what happened, happened.
    if (observer)
        observer(entry);

    if (lineCount < 0)
        lineCount = int(readLines(filePath).size());

    QFile file(filePath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    // A write cut short (a crash, a full disk) leaves a line without its end;
    // the new event starts on a line of its own so only the cut one is lost.
    // A file just as this object's last write left it needs no look.
    const qint64 size = file.size();
    if (size > 0 && size != sizeAfterWrite && file.seek(size - 1) && file.read(1) != "\n")
        line.prepend('\n');
    if (file.write(line) != line.size() || !file.flush())
        return false;
    file.close();
    sizeAfterWrite = size + line.size();

    // A full file is not rewritten: it moves aside, whole, in one rename.
    if (++lineCount >= maxEvents && !rotate() && !rotationFailed) {
        rotationFailed = true;
        qWarning("The connection history could not move %s aside; it goes on growing", qUtf8Printable(filePath));
    }
    return true;
}

bool ConnectionHistory::rotate()
{
    const QString previous = previousPath();
    // A rename does not replace a file everywhere; what is lost if the
    // program stops in between is the oldest part only.
    if (QFile::exists(previous) && !QFile::remove(previous))
        return false;
    if (!QFile::rename(filePath, previous))
        return false;
    lineCount = 0;
    sizeAfterWrite = -1;
    return true;
}

QList<QJsonObject> ConnectionHistory::events() const
{
    QList<QJsonObject> out;
    for (const QString &path : {previousPath(), filePath}) {
        for (const QByteArray &line : readLines(path)) {
            const QJsonObject event = parseLine(line);
            if (!event.isEmpty())
                out.append(event);
        }
    }
    if (out.size() > maxEvents)
        out.remove(0, out.size() - maxEvents);
    return out;
}

bool ConnectionHistory::clear()
{
    lineCount = 0;
    sizeAfterWrite = -1;
    bool removed = true;
    for (const QString &path : {previousPath(), filePath})
        removed = (!QFile::exists(path) || QFile::remove(path)) && removed;
    return removed;
}

ConnectionHistory::Summary ConnectionHistory::summarise(const QList<QJsonObject> &events, const QDateTime &now)
{
    Summary summary;
    const QDateTime windowStart = now.addSecs(-daySeconds);
    auto inWindow = [&](const QDateTime &time) { return time > windowStart && time <= now; };
    auto addStretch = [&](const QDateTime &from, const QDateTime &to) {
        const QDateTime start = std::max(from, windowStart);
        const QDateTime end = std::min(to, now);
        if (end > start)
            summary.connectedSeconds += start.secsTo(end);
    };

    QDateTime upSince;
    for (const QJsonObject &event : events) {
        const QString name = event.value(QLatin1String("event")).toString();
        const QDateTime time = eventTime(event);
        if (name == connected && inWindow(time))
            ++summary.sessions;
        if (name == lost && inWindow(time))
            ++summary.losses;
        if (name == connected || name == reconnected) {
            upSince = time;
        } else if (name == takenOver) {
            // A session this client started and never saw end (it was killed)
            // is the one taken over: its stretch runs on from its start.
            if (!upSince.isValid())
                upSince = time;
        } else if (endsSession(name)) {
            // The stored duration holds even when the start fell out of the file.
            if (event.contains(QLatin1String("duration")))
                addStretch(time.addSecs(-event.value(QLatin1String("duration")).toInteger()), time);
            else if (upSince.isValid())
                addStretch(upSince, time);
            upSince = QDateTime();
        }
    }
    if (upSince.isValid())
        addStretch(upSince, now);
    return summary;
}
