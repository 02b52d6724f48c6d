#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// A command one process of the client sends to the running one, and the
// replies it gets back: compact JSON objects, each in one frame of the
// single-instance channel. Both ends treat what they read as hostile: every
// member is checked for its type and bounded, and anything else is no command
// (the primary answers it with a usage reply) or no reply.
namespace InstanceCommand {

enum class Action { Connect, Disconnect, Status, Profiles, Show, Quit };

struct Command
{
    Action action = Action::Status;
    // Connect: the profile, by name.
    QString profile;
    // Connect: appended to the stored password, as typed into the window.
    QString oneTimePassword;
    // Connect and disconnect: answer once the outcome is known.
    bool wait = false;
};

// Longest profile name and one-time password a command may carry.
constexpr qsizetype maxProfileLength = 1024;
constexpr qsizetype maxOneTimePasswordLength = 256;

QString actionName(Action action);
QByteArray encode(const Command &command);
// Empty for a body that is not a well-formed command.
std::optional<Command> decode(const QByteArray &body);

enum class Outcome {
    Accepted, // the command is understood; the final reply follows
    Done,
    Refused,
    Usage,
    TimedOut,
};

// Why a command was refused.
namespace Reason {
inline const QString agentUnreachable = QStringLiteral("agent-unreachable");
inline const QString noSuchProfile = QStringLiteral("no-such-profile");
inline const QString sessionUp = QStringLiteral("session-up");
inline const QString noSession = QStringLiteral("no-session");
inline const QString busy = QStringLiteral("busy");
// The agent refused the connection; the message is its own.
inline const QString agentRefused = QStringLiteral("agent-refused");
// The attempt or the session ended before the outcome the command waited for.
inline const QString ended = QStringLiteral("ended");
// The window asked for the password and the user cancelled: nothing was sent.
inline const QString cancelled = QStringLiteral("cancelled");
} // namespace Reason

// The session as `--status` reports it. Members that are not known are left
// out: -1 for the counters, empty strings, an invalid time.
struct Status
{
    QString state; // "idle", "connecting", "connected", "disconnecting", "agent-unreachable"
    QString profile;
    QString host;
    QString vpnAddress;
    QString since; // ISO 8601 with the offset
    qint64 bytesSent = -1;
    qint64 bytesReceived = -1;

    QJsonObject toJson() const;
    static std::optional<Status> fromJson(const QJsonObject &object);
    static bool isState(const QString &state);
};

struct Reply
{
    Outcome outcome = Outcome::Done;
    QString reason;
    // The agent's message (Refused), or what was wrong (Usage).
    QString message;
    QString profile;
    QString vpnAddress;
    std::optional<Status> status;
    std::optional<QStringList> profiles;
};

QByteArray encodeReply(const Reply &reply);
// Empty for a body that is not a well-formed reply.
std::optional<Reply> decodeReply(const QByteArray &body);

} // namespace InstanceCommand
