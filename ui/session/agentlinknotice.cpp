#include "agentlinknotice.h"

#include "agentlink.h"

#include <QCoreApplication>
#include <QLabel>

AgentLinkNotice::AgentLinkNotice(AgentLink *link, QLabel *statusLine, QObject *parent)
    : QObject(parent)
    , link(link)
    , statusLine(statusLine)
{
    ticker.setInterval(1000);
    ticker.setTimerType(Qt::CoarseTimer);
    connect(&ticker, &QTimer::timeout, this, &AgentLinkNotice::tick);
    connect(link, &AgentLink::retryFailed, this, &AgentLinkNotice::show);
    connect(link, &AgentLink::stateChanged, this, [this](AgentLink::State state) {
        if (state == AgentLink::State::Up) {
            // The reply to "config" takes the line from here.
            ticker.stop();
            written.clear();
        } else if (state == AgentLink::State::Connecting && ticker.isActive()) {
            tick();
        }
    });
}

QString AgentLinkNotice::text(bool refused, int secondsToNextTry)
{
    const QString failure = refused ? QCoreApplication::translate(
                                "Orvalin", "tunwarden identity check failed, please contact your administrator")
                                    : QStringLiteral("无法连接到 tunwarden，请重新安装软件！");
    const QString next = secondsToNextTry > 0
                             ? QCoreApplication::translate("Orvalin", "(retry in %n s)", nullptr, secondsToNextTry)
                             : QCoreApplication::translate("Orvalin", "(retrying…)");
    // A full-width bracket brings its own spacing.
    if (next.startsWith(QChar(0xFF08)))
        return failure + next;
    return failure + QLatin1Char(' ') + next;
}

void AgentLinkNotice::show()
{
    if (!statusLine || link->isUp())
        return;
    written = text(link->isRefused(), int((qMax<qint64>(link->msUntilNextAttempt(), 0) + 999) / 1000));
    statusLine->setText(written);
    ticker.start();
}

void AgentLinkNotice::tick()
{
    if (!statusLine || link->isUp()) {
        ticker.stop();
        return;
    }
    if (statusLine->text() != written)
        return;
    show();
}
