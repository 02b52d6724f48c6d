#include "sessionrecorder.h"

#include <utility>

SessionRecorder::SessionRecorder(const QString &path)
    : connectionHistory(path)
{
}

ConnectionHistory &SessionRecorder::history()
{
    return connectionHistory;
}

void SessionRecorder::setSubject(const QString &profileName, const QString &hostName)
{
    profile = profileName;
    host = hostName;
}

void SessionRecorder::record(const QString &event, const QJsonObject &fields)
{
    flushPendingUp();
    QJsonObject entry = fields;
    entry.insert(QStringLiteral("profile"), profile);
    entry.insert(QStringLiteral("host"), host);
    if (up && ConnectionHistory::endsSession(event))
        entry.insert(QStringLiteral("duration"), startedAt.secsTo(connectionHistory.now()));
    connectionHistory.record(event, entry);
}

void SessionRecorder::sessionUp(bool byReconnect)
{
    flushPendingUp();
    up = true;
    startedAt = connectionHistory.now();
    pendingUpEvent = byReconnect ? ConnectionHistory::reconnected : ConnectionHistory::connected;
}

void SessionRecorder::firstStatus(const QString &vpnAddress)
{
    flushPendingUp(vpnAddress);
}

void SessionRecorder::sessionTakenOver(const QString &vpnAddress, const QDateTime &since)
{
    flushPendingUp();
    up = true;
    const QDateTime now = connectionHistory.now();
    startedAt = since.isValid() && since <= now ? since : now;
    connectionHistory.record(ConnectionHistory::takenOver, QJsonObject{{QStringLiteral("profile"), profile},
                                                                       {QStringLiteral("host"), host},
                                                                       {QStringLiteral("address"), vpnAddress}});
}

void SessionRecorder::sessionDown()
{
    flushPendingUp();
    up = false;
}

void SessionRecorder::linkLost(bool sessionWasUp)
{
    if (sessionWasUp) {
        record(ConnectionHistory::linkLost);
        return;
    }
    // No session went with it: the event is the link's alone.
    connectionHistory.record(ConnectionHistory::linkLost);
}

void SessionRecorder::linkRestored()
{
    connectionHistory.record(ConnectionHistory::linkRestored);
}

QJsonObject SessionRecorder::unendedSession() const
{
    const QList<QJsonObject> events = connectionHistory.events();
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        const QString event = it->value(QLatin1String("event")).toString();
        if (ConnectionHistory::endsSession(event))
            return QJsonObject();
        if (ConnectionHistory::startsSession(event))
            return *it;
    }
    return QJsonObject();
}

void SessionRecorder::flushPendingUp(const QString &vpnAddress)
{
    if (pendingUpEvent.isEmpty())
        return;
    const QString event = std::exchange(pendingUpEvent, QString());
    connectionHistory.record(event,
                             QJsonObject{{QStringLiteral("profile"), profile},
                                         {QStringLiteral("host"), host},
                                         {QStringLiteral("address"), vpnAddress}},
                             startedAt);
}
