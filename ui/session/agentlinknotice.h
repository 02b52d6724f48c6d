#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class AgentLink;
class QLabel;

// The status line while the link to the agent is down: the fixed failure
// text (or the identity refusal while the listener is refused) and when the
// next try comes, counted down once a second until the link is up again.
class AgentLinkNotice : public QObject
{
    Q_OBJECT

public:
    AgentLinkNotice(AgentLink *link, QLabel *statusLine, QObject *parent = nullptr);

    // Writes the notice now; the link-failure steps call it first.
    void show();

    // The line for a link refused by the identity check or not reached, with
    // the seconds until the next try (0: a try is under way).
    static QString text(bool refused, int secondsToNextTry);

private:
    void tick();

    AgentLink *link;
    QPointer<QLabel> statusLine;
    QTimer ticker;
    // What the notice last wrote: a message written over it since (a saved
    // report, say) stays until the next try's outcome.
    QString written;
};
