#pragma once

#include "instancecommand.h"

#include <QObject>
#include <QHash>
#include <QPointer>

#include <functional>

namespace Ui {
class Orvalin;
}

class CommandChannel;
class ProfileManager;
class SessionController;
class TrafficStatistics;
class QWidget;

// Runs the commands that later starts of the program send to this one (and
// the one a start with --connect brings along) on the window's own session:
// a connect selects the profile and presses Connect as the user would, so the
// same checks hold (link down, no such profile, session already up), and the
// outcome comes from the session's own signals.
class CommandHandler : public QObject
{
    Q_OBJECT

public:
    using ReplySink = std::function<void(const InstanceCommand::Reply &reply)>;

    // How long a command may wait for its outcome, and for the window to be
    // ready for it (the first try of the link, the agent's answer whether it
    // runs a session, the profile's password read back).
    static constexpr int defaultWaitLimitMs = 60000;
    static constexpr int defaultReadyLimitMs = 15000;
    // How long --status waits for the traffic counters it asks for.
    static constexpr int statisticsLimitMs = 2000;

    CommandHandler(QWidget *window, Ui::Orvalin *form, SessionController *session, ProfileManager *profiles);

    void setStatistics(TrafficStatistics *statistics);
    void setWaitLimit(int ms);
    void setReadyLimit(int ms);

    // A command from another process: decoded, acknowledged as accepted (or
    // answered as a usage error) and run; the replies go back through the
    // channel, and the command is dropped when that process hangs up.
    void takeCommand(const QByteArray &command, CommandChannel *channel);

    // Runs a command; each reply goes to `sink`, the last one final. Nothing
    // more happens once `requester` is destroyed.
    void run(const InstanceCommand::Command &command, QObject *requester, const ReplySink &sink);

    // The session as --status reports it, without the traffic counters.
    InstanceCommand::Status currentStatus() const;

    // Commands under way.
    int pendingCount() const;

private:
    class Job;
    friend class Job;

    bool isReady(const InstanceCommand::Command &command) const;

    QWidget *window;
    Ui::Orvalin *ui;
    QPointer<SessionController> session;
    QPointer<ProfileManager> profileManager;
    QPointer<TrafficStatistics> statistics;
    int waitLimitMs = defaultWaitLimitMs;
    int readyLimitMs = defaultReadyLimitMs;
    // Profiles loaded at start whose credential reads (password and secret)
    // have not all ended yet, with the number still out.
    QHash<QString, int> readsOut;
};
