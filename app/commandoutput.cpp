#include "commandoutput.h"

#include "commandline.h"
#include "sessionformat.h"

#include <QDateTime>
#include <QJsonDocument>

using InstanceCommand::Action;
using InstanceCommand::Outcome;
using Result = CommandClient::Result;

namespace {
QString line(const QString &text)
{
    return text.isEmpty() ? QString() : text + QLatin1Char('\n');
}
} // namespace

CommandOutput::Text CommandOutput::notRunning()
{
    return {CommandLine::ExitNotRunning, QString(), line(tr("Kestrum SSLVPN Client is not running."))};
}

CommandOutput::Text CommandOutput::forOutcome(const InstanceCommand::Command &command, bool json,
                                              const CommandClient::Outcome &outcome)
{
    switch (outcome.result) {
    case Result::Replied:
        if (outcome.reply)
            return forReply(command, json, *outcome.reply);
        break;
    case Result::NotRunning:
        return notRunning();
    case Result::NoAnswer:
        return {CommandLine::ExitFailed, QString(), line(tr("The running client does not answer."))};
    case Result::NotTaken:
        return {CommandLine::ExitFailed, QString(),
                line(tr("The running client did not take the command; it may be an older version. Quit it and "
                        "start it again."))};
    case Result::BadReply:
        break;
    case Result::Gone:
        return {CommandLine::ExitFailed, QString(), line(tr("The client ended before the outcome was known."))};
    case Result::TimedOut:
        return {CommandLine::ExitTimedOut, QString(),
                line(command.wait ? tr("No outcome within 60 seconds.")
                                  : tr("The running client did not answer "
                                       "in time."))};
    }
    return {CommandLine::ExitFailed, QString(), line(tr("The running client's answer was not understood."))};
}

CommandOutput::Text CommandOutput::forReply(const InstanceCommand::Command &command, bool json,
                                            const InstanceCommand::Reply &reply)
{
    switch (reply.outcome) {
    case Outcome::Done:
        break;
    case Outcome::Refused:
        return {CommandLine::ExitFailed, QString(), line(refusalText(reply))};
    case Outcome::Usage:
        return {CommandLine::ExitUsage, QString(), line(tr("The running client did not understand the command."))};
    case Outcome::TimedOut:
        return {CommandLine::ExitTimedOut, QString(), line(tr("No outcome within 60 seconds."))};
    case Outcome::Accepted:
        return {CommandLine::ExitFailed, QString(), line(tr("The running client's answer was not understood."))};
    }

    Text text;
    switch (command.action) {
    case Action::Connect:
        if (command.wait)
            text.output = line(reply.vpnAddress);
        break;
    case Action::Status:
        if (!reply.status)
            return {CommandLine::ExitFailed, QString(), line(tr("The running client's answer was not understood."))};
        text.output = json ? statusJson(*reply.status) : statusLines(*reply.status);
        break;
    case Action::Profiles:
        for (const QString &name : reply.profiles.value_or(QStringList()))
            text.output += name + QLatin1Char('\n');
        break;
    case Action::Disconnect:
    case Action::Show:
    case Action::Quit:
        break;
    }
    return text;
}

QString CommandOutput::statusJson(const InstanceCommand::Status &status)
{
    return QString::fromUtf8(QJsonDocument(status.toJson()).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

QString CommandOutput::statusLines(const InstanceCommand::Status &status)
{
    QString text;
    const auto add = [&text](const QString &pattern, const QString &value) {
        if (!value.isEmpty())
            text += pattern.arg(value) + QLatin1Char('\n');
    };
    add(tr("State: %1"), stateText(status.state));
    add(tr("Profile: %1"), status.profile);
    add(tr("Gateway: %1"), status.host);
    add(tr("VPN address: %1"), status.vpnAddress);
    const QDateTime since = QDateTime::fromString(status.since, Qt::ISODate);
    if (since.isValid())
        add(tr("Since: %1"), since.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (status.bytesSent >= 0)
        add(tr("Bytes sent: %1"), SessionFormat::formatBytes(double(status.bytesSent)));
    if (status.bytesReceived >= 0)
        add(tr("Bytes received: %1"), SessionFormat::formatBytes(double(status.bytesReceived)));
    return text;
}

QString CommandOutput::stateText(const QString &state)
{
    if (state == QLatin1String("idle"))
        return tr("Not connected");
    if (state == QLatin1String("connecting"))
        return tr("Connecting");
    if (state == QLatin1String("connected"))
        return tr("Connected");
    if (state == QLatin1String("disconnecting"))
        return tr("Disconnecting");
    if (state == QLatin1String("agent-unreachable"))
        return tr("Agent unreachable");
    return state;
}

QString CommandOutput::refusalText(const InstanceCommand::Reply &reply)
{
    namespace Reason = InstanceCommand::Reason;
    if (reply.reason == Reason::agentUnreachable)
        return tr("The agent (tunwarden) cannot be reached.");
    if (reply.reason == Reason::noSuchProfile)
        return tr("There is no profile named '%1'.").arg(reply.profile);
    if (reply.reason == Reason::sessionUp) {
        return reply.profile.isEmpty() ? tr("A session is already up.")
                                       : tr("A session is already up with the profile '%1'.").arg(reply.profile);
    }
    if (reply.reason == Reason::noSession)
        return tr("No session is up.");
    if (reply.reason == Reason::busy)
        return tr("A connection or disconnection is under way.");
    // The agent's own words, as the window's error box shows them.
    if (reply.reason == Reason::agentRefused && !reply.message.isEmpty())
        return reply.message;
    if (reply.reason == Reason::agentRefused)
        return tr("The agent refused the connection.");
    if (reply.reason == Reason::cancelled)
        return tr("The password prompt was cancelled; nothing was sent.");
    if (reply.reason == Reason::ended)
        return reply.message.isEmpty() ? tr("The attempt ended without a session.") : reply.message;
    return reply.message.isEmpty() ? tr("The running client refused the command.") : reply.message;
}
