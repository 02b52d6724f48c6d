#include "noticethrottle.h"

NoticeThrottle::NoticeThrottle(qint64 interval)
    : intervalMs(interval)
{
}

bool NoticeThrottle::offer(int kind, int group, qint64 now)
{
    groupOf.insert(kind, group);
    newestInGroup.insert(group, kind);
    const auto shown = lastShown.constFind(kind);
    if (shown == lastShown.constEnd() || now - shown.value() >= intervalMs) {
        markShown(kind, group, now);
        return true;
    }
    held.insert(kind);
    return false;
}

void NoticeThrottle::observe(int kind, int group)
{
    groupOf.insert(kind, group);
    newestInGroup.insert(group, kind);
    // The user has seen the state this kind tells.
    lastShownInGroup.insert(group, kind);
}

QList<int> NoticeThrottle::due(qint64 now)
{
    QList<int> shownNow;
    const QList<int> kinds = held.values();
    for (int kind : kinds) {
        if (now - lastShown.value(kind) < intervalMs)
            continue;
        held.remove(kind);
        const int group = groupOf.value(kind);
        if (newestInGroup.value(group, -1) == kind && lastShownInGroup.value(group, -1) != kind) {
            markShown(kind, group, now);
            shownNow << kind;
        }
    }
    return shownNow;
}

qint64 NoticeThrottle::nextDue() const
{
    qint64 next = -1;
    for (int kind : held) {
        const qint64 at = lastShown.value(kind) + intervalMs;
        if (next < 0 || at < next)
            next = at;
    }
    return next;
}

void NoticeThrottle::markShown(int kind, int group, qint64 now)
{
    lastShown.insert(kind, now);
    lastShownInGroup.insert(group, kind);
    held.remove(kind);
}
