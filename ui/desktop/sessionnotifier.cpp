#include "sessionnotifier.h"

#include "appglobals.h"
#include "boundedtext.h"
#include "configmanager.h"
#include "connectionhistory.h"
#include "desktopnotice.h"
#include "redaction.h"

#include <QWidget>

namespace {

enum Group { SessionGroup, AgentGroup };

int groupOf(SessionNotifier::Kind kind)
{
    return kind == SessionNotifier::Kind::AgentUnreachable || kind == SessionNotifier::Kind::AgentBack ? AgentGroup
                                                                                                       : SessionGroup;
}

} // namespace

SessionNotifier::SessionNotifier(QWidget *window, DesktopNotice *poster, QObject *parent)
    : QObject(parent)
    , window(window)
    , poster(poster)
{
    steady.start();
    dueTimer.setSingleShot(true);
    connect(&dueTimer, &QTimer::timeout, this, &SessionNotifier::showDue);
}

void SessionNotifier::setSecretsSource(std::function<QStringList()> source)
{
    secrets = std::move(source);
}

void SessionNotifier::setQuietInterval(qint64 ms)
{
    throttle = NoticeThrottle(ms);
}

qint64 SessionNotifier::now() const
{
    return steady.elapsed();
}

QString SessionNotifier::boundedAgentText(const QString &text)
{
    // One line: the agent's line breaks and control characters become spaces.
    // A little beyond the bound is kept, so the cut sees whole characters.
    const qsizetype collected = maxAgentTextLength + 16;
    QString line;
    line.reserve(qMin(text.size(), collected));
    for (const QChar c : text) {
        if (line.size() >= collected)
            break;
        const bool blank = c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        if (blank && (line.isEmpty() || line.endsWith(QLatin1Char(' '))))
            continue;
        line += blank ? QChar(QLatin1Char(' ')) : c;
    }
    return BoundedText::cut(line.trimmed(), maxAgentTextLength);
}

SessionNotifier::Notice SessionNotifier::compose(Kind kind, const QJsonObject &event)
{
    const QString profile = event.value(QLatin1String("profile")).toString();
    const QString address = boundedAgentText(event.value(QLatin1String("address")).toString());
    const QString message = boundedAgentText(event.value(QLatin1String("message")).toString());
    const QString session = address.isEmpty() ? profile : tr("%1 (VPN address %2)").arg(profile, address);
    auto orProfile = [&profile](const QString &text) { return text.isEmpty() ? profile : text; };

    switch (kind) {
    case Kind::Connected:
        return {tr("VPN connected"), session};
    case Kind::Lost:
        return {tr("VPN session lost"), tr("Reconnecting to %1…").arg(profile)};
    case Kind::Reconnected:
        return {tr("VPN reconnected"), session};
    case Kind::ReconnectRefused:
        return {tr("Reconnection refused"), tr("Starting a new connection to %1…").arg(profile)};
    case Kind::Refused:
        return {tr("VPN connection refused"), orProfile(message)};
    case Kind::ClosedByServer:
        return {tr("VPN session ended by the server"), orProfile(message)};
    case Kind::AgentUnreachable:
        return {tr("tunwarden unreachable"), tr("The VPN service does not answer; trying again.")};
    case Kind::AgentBack:
        return {tr("tunwarden is back"), tr("The VPN service answers again.")};
    }
    return {};
}

void SessionNotifier::onSessionEvent(const QJsonObject &event)
{
    static const QHash<QString, Kind> kinds{
        {ConnectionHistory::connected, Kind::Connected},
        {ConnectionHistory::lost, Kind::Lost},
        {ConnectionHistory::reconnected, Kind::Reconnected},
        {ConnectionHistory::reconnectRefused, Kind::ReconnectRefused},
        {ConnectionHistory::refused, Kind::Refused},
        {ConnectionHistory::closedByServer, Kind::ClosedByServer},
    };
    const QString name = event.value(QLatin1String("event")).toString();
    const auto kind = kinds.constFind(name);
    if (kind != kinds.constEnd()) {
        notify(kind.value(), event);
    } else if (name == ConnectionHistory::disconnected || name == ConnectionHistory::takenOver) {
        // Asked for or seen in the window, or a session the agent kept
        // through its restart: nothing to tell, but what was held back about
        // the session is out of date.
        throttle.observe(-1, SessionGroup);
    }
}

void SessionNotifier::onAgentLost()
{
    notify(Kind::AgentUnreachable, QJsonObject());
}

void SessionNotifier::onAgentBack()
{
    notify(Kind::AgentBack, QJsonObject());
}

bool SessionNotifier::wanted() const
{
    if (!configManager || !configManager->config.value(QLatin1String("notifications")).toBool(true))
        return false;
    // Only while the user cannot see the window.
    return window && (!window->isVisible() || window->isMinimized());
}

void SessionNotifier::notify(Kind kind, const QJsonObject &event)
{
    QJsonObject kept = event;
    // What the agent said may echo what the user typed.
    const QString message = event.value(QLatin1String("message")).toString();
    if (!message.isEmpty())
        kept.insert(QStringLiteral("message"), redactSecrets(message, secrets ? secrets() : QStringList()));
    latest.insert(int(kind), kept);
    if (!wanted()) {
        throttle.observe(int(kind), groupOf(kind));
        return;
    }
    if (throttle.offer(int(kind), groupOf(kind), now()))
        post(kind);
    scheduleDue();
}

void SessionNotifier::post(Kind kind)
{
    const Notice notice = compose(kind, latest.value(int(kind)));
    poster->show(notice.title, notice.body);
}

void SessionNotifier::showDue()
{
    const QList<int> due = throttle.due(now());
    // The window may have come back, or notices been turned off, meanwhile.
    if (wanted()) {
        for (int kind : due)
            post(Kind(kind));
    }
    scheduleDue();
}

void SessionNotifier::scheduleDue()
{
    const qint64 next = throttle.nextDue();
    if (next < 0) {
        dueTimer.stop();
        return;
    }
    dueTimer.start(int(qBound<qint64>(0, next - now(), throttle.interval())));
}
