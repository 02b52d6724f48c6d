#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// The record of what the VPN sessions did, one JSON object a line in
// configLocation + "/history.jsonl", appended as events happen. Each object
// carries "time" (local time with its offset), "event" (one of the names
// below) and, as they apply, "profile", "host", "address", "message" and,
// for an event that ends a session, "duration" in seconds.
class ConnectionHistory
{
public:
    using Clock = std::function<QDateTime()>;

    // Events as they are stored.
    static const QString connectRequested; // "connect"
    static const QString connected;        // "connected"
    static const QString refused;          // "refused"
    static const QString lost;             // "lost"
    static const QString reconnectSent;    // "reconnect"
    static const QString reconnected;      // "reconnected"
    static const QString reconnectRefused; // "reconnect-refused"
    static const QString closedByServer;   // "closed"
    static const QString disconnected;     // "disconnected"
    static const QString linkLost;         // "link-lost"
    static const QString linkRestored;     // "link-restored"
    static const QString takenOver;        // "taken-over": a session the agent already ran

    // The file keeps the newest this many events.
    static constexpr int maxEvents = 1000;

    explicit ConnectionHistory(const QString &path = defaultPath());

    static QString defaultPath();
    QString path() const;

    // The time source for "time" and for the summary; the system clock unless
    // a test sets its own.
    void setClock(Clock clock);
    QDateTime now() const;

    // Appends one event stamped with `at`, or now() when it is not valid;
    // `fields` adds the members besides "time" and "event". False when the
    // file could not be written.
    bool record(const QString &event, const QJsonObject &fields = QJsonObject(), const QDateTime &at = QDateTime());
    // Every readable event, oldest first. Lines that do not hold a JSON object
    // with a "time" and an "event" are skipped.
    QList<QJsonObject> events() const;
    // Empties the history; false when the file could not be removed.
    bool clear();

    static bool endsSession(const QString &event);
    static bool startsSession(const QString &event);

    struct Summary
    {
        int sessions = 0;
        qint64 connectedSeconds = 0;
        int losses = 0;
    };
    // Sessions begun, time spent connected and sessions lost in the 24 hours
    // before `now`. A session still up at the end of the history counts up to `now`.
    static Summary summarise(const QList<QJsonObject> &events, const QDateTime &now);

    static QDateTime eventTime(const QJsonObject &event);

private:
    bool trim();

    QString filePath;
    Clock clock;
    // Lines in the file, counted at the first append; -1 until then.
    int lineCount = -1;
};
