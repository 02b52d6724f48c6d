#pragma once

#include <QHash>
#include <QList>
#include <QSet>

// Keeps desktop notices from piling up: a notice of a kind already shown in
// the last 30 s is held back. When that time is over, a held notice is shown
// only if it is still the newest of its group and what the user was last
// told in that group is something else, so a session that keeps dropping and
// coming back gives one notice of each, yet a loss that lasts is never left
// untold.
//
// Kinds and groups are the caller's numbers; times are milliseconds of a
// steady clock.
class NoticeThrottle
{
public:
    static constexpr qint64 defaultIntervalMs = 30000;

    explicit NoticeThrottle(qint64 intervalMs = defaultIntervalMs);
    qint64 interval() const { return intervalMs; }

    // A notice of `kind` happened: true when it is to be shown now.
    bool offer(int kind, int group, qint64 now);
    // Something of `kind` happened that needs no notice (the user saw it in
    // the window): it still makes the held notices of its group stale.
    void observe(int kind, int group);
    // The held kinds whose time is over and that still tell something new,
    // now counted as shown; the others are dropped.
    QList<int> due(qint64 now);
    // When the next held notice's time is over, or -1 when none is held.
    qint64 nextDue() const;

private:
    void markShown(int kind, int group, qint64 now);

    qint64 intervalMs;
    QHash<int, qint64> lastShown;
    QHash<int, int> groupOf;
    // Per group: the kind last shown, and the kind that happened last.
    QHash<int, int> lastShownInGroup;
    QHash<int, int> newestInGroup;
    QSet<int> held;
};
