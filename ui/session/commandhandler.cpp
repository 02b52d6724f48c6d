#include "commandhandler.h"
#include "ui_orvalin.h"

#include "agentlink.h"
#include "commandchannel.h"
#include "keychainclass.h"
#include "profilemanager.h"
#include "sessioncontroller.h"
#include "trafficstatistics.h"
#include "windowforward.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QStringListModel>
#include <QTimer>

using InstanceCommand::Action;
using InstanceCommand::Outcome;
using InstanceCommand::Reply;
using State = SessionController::State;
namespace Reason = InstanceCommand::Reason;

namespace {

QString stateName(State state)
{
    switch (state) {
    case State::Idle:
        break;
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Connected:
        return QStringLiteral("connected");
    case State::Disconnecting:
        return QStringLiteral("disconnecting");
    case State::AgentUnreachable:
        return QStringLiteral("agent-unreachable");
    }
    return QStringLiteral("idle");
}

Reply refused(const QString &reason, const QString &message = QString(), const QString &profile = QString())
{
    Reply reply;
    reply.outcome = Outcome::Refused;
    reply.reason = reason;
    reply.message = message;
    reply.profile = profile;
    return reply;
}

Reply done()
{
    return Reply();
}

// Local time with its offset, "+00:00" included (Qt writes "Z" for it).
QString isoWithOffset(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
           + QStringLiteral("%1%2:%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// One command under way. Whatever it waits for (the window getting ready, the
// outcome of a connect, the traffic counters), every signal that could bring
// it runs step(), which looks at the session as it is now.
class CommandHandler::Job : public QObject
{
public:
    Job(CommandHandler *owner, const InstanceCommand::Command &command, QObject *requester, ReplySink sink)
        : QObject(owner)
        , handler(owner)
        , command(command)
        , requester(requester)
        , sink(std::move(sink))
    {
    }

    void start()
    {
        connect(requester, &QObject::destroyed, this, [this] {
            finished = true;
            deleteLater();
        });
        SessionController *session = handler->session;
        connect(session, &SessionController::stateChanged, this, &Job::step);
        connect(session, &SessionController::statusReceived, this, &Job::step);
        connect(session, &SessionController::connectRefused, this, [this](const QString &message) {
            if (phase == Phase::Outcome && command.action == Action::Connect)
                refusal = message;
            step();
        });
        if (ProfileManager *profiles = handler->profileManager) {
            // After the handler has counted the read that ended.
            connect(profiles, &ProfileManager::keyRestored, this, &Job::step);
            for (KeyChainClass *chain : {&profiles->keyChain, &profiles->secretChain}) {
                connect(chain, &KeyChainClass::keyRestored, this, &Job::step);
                connect(chain, &KeyChainClass::readFailed, this, &Job::step);
            }
        }
        if (handler->statistics)
            connect(handler->statistics, &TrafficStatistics::updated, this, [this] {
                if (phase == Phase::Statistics)
                    countersArrived = true;
                step();
            });

        readyTimer.setSingleShot(true);
        connect(&readyTimer, &QTimer::timeout, this, [this] {
            readyExpired = true;
            step();
        });
        readyTimer.start(handler->readyLimitMs);
        // A command that waits for its outcome gets the same minute from the
        // start, whatever part of it goes into getting ready.
        if (command.wait) {
            connect(&waitTimer, &QTimer::timeout, this, [this] {
                Reply reply;
                reply.outcome = Outcome::TimedOut;
                finish(reply);
            });
            waitTimer.setSingleShot(true);
            waitTimer.start(handler->waitLimitMs);
        }
        step();
    }

private:
    enum class Phase { Preparing, Outcome, Statistics };

    void step()
    {
        if (finished || !handler->session)
            return;
        switch (phase) {
        case Phase::Preparing:
            if (!readyExpired && !handler->isReady(command))
                return;
            readyTimer.stop();
            act();
            break;
        case Phase::Outcome:
            followOutcome();
            break;
        case Phase::Statistics:
            followStatistics();
            break;
        }
    }

    void act()
    {
        SessionController *session = handler->session;
        const State state = session->state();
        switch (command.action) {
        case Action::Connect:
            connectProfile(state);
            return;
        case Action::Disconnect:
            if (state == State::AgentUnreachable)
                return finish(refused(Reason::agentUnreachable));
            if (state == State::Idle)
                return finish(refused(Reason::noSession));
            if (state == State::Connecting)
                return finish(refused(Reason::busy));
            // As the Disconnect button; one already under way is left to end.
            if (state == State::Connected)
                session->disconnectVPN();
            if (!command.wait)
                return finish(done());
            phase = Phase::Outcome;
            followOutcome();
            return;
        case Action::Status:
            // The counters are only known by asking; the session's other
            // figures are at hand.
            if (state == State::Connected && handler->statistics && handler->statistics->request()) {
                phase = Phase::Statistics;
                statisticsSince = session->sessionSince();
                statisticsTimer.setSingleShot(true);
                connect(&statisticsTimer, &QTimer::timeout, this, [this] { reportStatus(false); });
                statisticsTimer.start(statisticsLimitMs);
                return;
            }
            return reportStatus(false);
        case Action::Profiles: {
            Reply reply;
            reply.profiles = handler->profileManager ? handler->profileManager->model->stringList() : QStringList();
            return finish(reply);
        }
        case Action::Show:
            bringWindowForward(handler->window);
            return finish(done());
        case Action::Quit:
            finish(done());
            // As the tray's "退出", after this event; the window's quit
            // handler disconnects a session that is up. Not quit(): that asks
            // the windows first, and one that minimises for want of a
            // notification area would keep the program running.
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
            return;
        }
    }

    void connectProfile(State state)
    {
        SessionController *session = handler->session;
        const QString &name = command.profile;
        if (state == State::AgentUnreachable)
            return finish(refused(Reason::agentUnreachable));
        const int row = handler->ui->comboBoxHost->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!handler->profileManager || !handler->profileManager->profiles.contains(name) || row < 0)
            return finish(refused(Reason::noSuchProfile, QString(), name));
        if (state == State::Connected)
            return finish(refused(Reason::sessionUp, QString(), session->sessionProfileName()));
        if (state != State::Idle)
            return finish(refused(Reason::busy));

        // What the user would do: pick the profile, type the one-time
        // password (or leave the field empty) and press Connect.
        handler->ui->comboBoxHost->setCurrentIndex(row);
        handler->ui->lineEditOTP->setText(command.oneTimePassword);
        phase = Phase::Outcome;
        // The window may ask for the password in a dialog of its own, whose
        // event loop can end this job (the requesting process went away).
        const QPointer<Job> alive(this);
        session->connectVPN(false);
        if (!alive)
            return;
        if (session->state() == State::Idle)
            return finish(refused(Reason::cancelled, QString(), name));
        if (!command.wait)
            return finish(done());
        followOutcome();
    }

    void followOutcome()
    {
        SessionController *session = handler->session;
        const State state = session->state();
        if (command.action == Action::Disconnect) {
            if (state == State::Idle)
                return finish(done());
            if (state == State::AgentUnreachable)
                return finish(refused(Reason::agentUnreachable));
            return;
        }
        if (!refusal.isNull())
            return finish(refused(Reason::agentRefused, refusal, command.profile));
        switch (state) {
        case State::Connecting:
            attemptSeen = true;
            return;
        case State::Connected:
            // Connected, with the address the first status brings.
            if (session->hasSessionStatus()) {
                Reply reply;
                reply.profile = session->sessionProfileName();
                reply.vpnAddress = session->sessionVpnAddress();
                finish(reply);
            }
            return;
        case State::AgentUnreachable:
            return finish(refused(Reason::agentUnreachable));
        case State::Idle:
            // The attempt ended without a refusal of the agent's (the link
            // went, the session was closed at once).
            if (attemptSeen)
                finish(refused(Reason::ended, QString(), command.profile));
            return;
        case State::Disconnecting:
            return;
        }
    }

    void followStatistics()
    {
        if (countersArrived || handler->session->state() != State::Connected)
            reportStatus(countersArrived);
    }

    void reportStatus(bool withCounters)
    {
        SessionController *session = handler->session;
        Reply reply;
        reply.status = handler->currentStatus();
        // Figures that came for the same session that is still up.
        if (withCounters && session->state() == State::Connected && session->sessionSince() == statisticsSince) {
            reply.status->bytesSent = qint64(handler->statistics->bytesSent());
            reply.status->bytesReceived = qint64(handler->statistics->bytesReceived());
        }
        finish(reply);
    }

    void finish(const Reply &reply)
    {
        if (finished)
            return;
        finished = true;
        readyTimer.stop();
        waitTimer.stop();
        statisticsTimer.stop();
        sink(reply);
        deleteLater();
    }

    CommandHandler *handler;
    const InstanceCommand::Command command;
    QPointer<QObject> requester;
    ReplySink sink;
    Phase phase = Phase::Preparing;
    bool finished = false;
    bool readyExpired = false;
    bool attemptSeen = false;
    bool countersArrived = false;
    QString refusal;
    QDateTime statisticsSince;
    QTimer readyTimer;
    QTimer waitTimer;
    QTimer statisticsTimer;
};

CommandHandler::CommandHandler(QWidget *owner, Ui::Orvalin *form, SessionController *controller,
                               ProfileManager *profiles)
    : QObject(owner)
    , window(owner)
    , ui(form)
    , session(controller)
    , profileManager(profiles)
{
    if (!profiles)
        return;
    // The store tells of a restored password only when there is one; the
    // reads themselves end either way, one per credential.
    for (auto it = profiles->profiles.constBegin(); it != profiles->profiles.constEnd(); ++it)
        readsOut.insert(it.key(), 2);
    const auto settled = [this](const QString &profile) {
        const auto it = readsOut.find(profile);
        if (it != readsOut.end() && --it.value() <= 0)
            readsOut.erase(it);
    };
    for (KeyChainClass *chain : {&profiles->keyChain, &profiles->secretChain}) {
        connect(chain, &KeyChainClass::keyRestored, this, [settled](const QString &key) { settled(key); });
        connect(chain, &KeyChainClass::readFailed, this, settled);
    }
    connect(profiles, &ProfileManager::keyRestored, this, [this](const QString &profile) { readsOut.remove(profile); });
}

void CommandHandler::setStatistics(TrafficStatistics *trafficStatistics)
{
    statistics = trafficStatistics;
}

void CommandHandler::setWaitLimit(int ms)
{
    waitLimitMs = ms;
}

void CommandHandler::setReadyLimit(int ms)
{
    readyLimitMs = ms;
}

void CommandHandler::takeCommand(const QByteArray &bytes, CommandChannel *channel)
{
    if (!channel)
        return;
    QPointer<CommandChannel> guarded(channel);
    const ReplySink sink = [guarded](const Reply &reply) {
        if (!guarded)
            return;
        guarded->send(InstanceCommand::encodeReply(reply));
        // A final reply leaves before anything else happens: "quit" ends
        // the process next.
        if (reply.outcome != Outcome::Accepted)
            guarded->flush();
    };
    const std::optional<InstanceCommand::Command> command = InstanceCommand::decode(bytes);
    if (!command) {
        Reply reply;
        reply.outcome = Outcome::Usage;
        sink(reply);
        return;
    }
    Reply accepted;
    accepted.outcome = Outcome::Accepted;
    sink(accepted);
    run(*command, channel, sink);
}

void CommandHandler::run(const InstanceCommand::Command &command, QObject *requester, const ReplySink &sink)
{
    if (!requester || !session)
        return;
    auto *job = new Job(this, command, requester, sink);
    job->start();
}

int CommandHandler::pendingCount() const
{
    return int(findChildren<Job *>(QString(), Qt::FindDirectChildrenOnly).size());
}

bool CommandHandler::isReady(const InstanceCommand::Command &command) const
{
    const AgentLink *link = session ? session->agentLink() : nullptr;
    // The window's deferred set-up has not made the link yet, or its try is
    // under way.
    if (!link || link->state() == AgentLink::State::Closed || link->state() == AgentLink::State::Connecting)
        return false;
    // Up, but the agent has not said yet whether it already runs a session.
    if (link->state() == AgentLink::State::Up && !session->isAgentSessionKnown())
        return false;
    return command.action != Action::Connect || !readsOut.contains(command.profile);
}

InstanceCommand::Status CommandHandler::currentStatus() const
{
    InstanceCommand::Status status;
    const State state = session ? session->state() : State::AgentUnreachable;
    status.state = stateName(state);
    if (state == State::Idle || state == State::AgentUnreachable)
        return status;
    status.profile = session->sessionProfileName();
    status.host = session->sessionHost();
    if (state == State::Connecting)
        return status;
    status.vpnAddress = session->sessionVpnAddress();
    status.since = isoWithOffset(session->sessionSince());
    return status;
}
