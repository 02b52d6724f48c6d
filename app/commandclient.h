#pragma once

#include "instancecommand.h"

#include <QString>

#include <optional>

// The sending end of a command: connects to the running client's server,
// introduces itself as a command connection, sends the command and reads the
// replies, blocking (it runs in a process that does nothing else meanwhile).
class CommandClient
{
public:
    enum class Result {
        Replied,    // `reply` holds the final reply
        NotRunning, // nothing listens on the server's name, or it hung up on the hello
        NoAnswer,   // it did not acknowledge in time
        NotTaken,   // it took the command without a reply: a version without commands
        BadReply,   // it answered something that is not a reply
        Gone,       // it ended before the outcome was known
        TimedOut,   // no outcome within the time allowed
    };

    struct Outcome
    {
        Result result = Result::NotRunning;
        std::optional<InstanceCommand::Reply> reply;
    };

    // For every wait of the contact itself, and for the first reply that
    // tells the command was understood.
    static constexpr int contactTimeoutMs = 5000;
    // A command that waits for its outcome gets this long; the primary answers
    // a timeout itself at 60 s, this is the fallback.
    static constexpr int waitTimeoutMs = 65000;
    // Others answer as soon as the running client is ready (its link and
    // profiles), which takes some seconds at its start.
    static constexpr int answerTimeoutMs = 30000;
    // After "quit" is done, how long the running client may take to end.
    static constexpr int quitTimeoutMs = 10000;

    CommandClient(const QString &serverName, const QString &blockName);

    Outcome send(const InstanceCommand::Command &command);

private:
    QString serverName;
    QString blockName;
};
