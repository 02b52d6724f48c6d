#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// The record of what the VPN sessions did, one JSON object a line in
// configLocation + "/history.jsonl", appended as events happen. When that file
// holds maxEvents lines it becomes "history.jsonl.1", replacing the one
// before, and a new file starts: an event costs one append however long the
// history, and the two files hold the newest maxEvents and at most twice
// that many. Each object
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

    // The history keeps the newest this many events.
    static constexpr int maxEvents = 1000;

    explicit ConnectionHistory(const QString &path = defaultPath());

    static QString defaultPath();
    QString path() const;
    // The file the events before those of path() moved to: path() + ".1".
    QString previousPath() const;

    // The time source for "time" and for the summary; the system clock unless
    // a test sets its own.
    void setClock(Clock clock);
    QDateTime now() const;

    // Called with every event as it is recorded (with its "time" and "event").
    using Observer = std::function<void(const QJsonObject &event)>;
    void setObserver(Observer observer);

    // Appends one event stamped with `at`, or now() when it is not valid;
    // `fields` adds the members besides "time" and "event". Their texts (the
    // agent's message among them) are kept up to BoundedText::storedBytes.
    // False when the file could not be written.
    bool record(const QString &event, const QJsonObject &fields = QJsonObject(), const QDateTime &at = QDateTime());
    // The newest maxEvents readable events, oldest first. Lines that do not
    // hold a JSON object with a "time" and an "event" are skipped; texts are
    // bounded as record() bounds them, also in a file written before.
    QList<QJsonObject> events() const;
    // Empties the history; false when a file could not be removed.
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
    bool rotate();

    QString filePath;
    Clock clock;
    Observer observer;
    // Lines in the current file, counted at the first append; -1 until then.
    int lineCount = -1;
    // The file's size after this object last wrote it, a line end last.
    qint64 sizeAfterWrite = -1;
    // Told once: the full file could not be moved aside.
    bool rotationFailed = false;
};
