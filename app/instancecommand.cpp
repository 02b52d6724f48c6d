#include "instancecommand.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <array>
#include <cmath>
#include <utility>

namespace InstanceCommand {

namespace {

const QLatin1String commandKey("command");
const QLatin1String profileKey("profile");
const QLatin1String otpKey("otp");
const QLatin1String waitKey("wait");

const QLatin1String outcomeKey("outcome");
const QLatin1String reasonKey("reason");
const QLatin1String messageKey("message");
const QLatin1String vpnAddressKey("vpn_address");
const QLatin1String statusKey("status");
const QLatin1String profilesKey("profiles");

const QLatin1String stateKey("state");
const QLatin1String hostKey("host");
const QLatin1String sinceKey("since");
const QLatin1String bytesSentKey("bytes_sent");
const QLatin1String bytesReceivedKey("bytes_received");

// A reply's texts come from the agent or the profile file; anything longer
// than this is not one the primary would send.
constexpr qsizetype maxTextLength = 4096;

const std::array<std::pair<Action, QLatin1String>, 6> actions{{
    {Action::Connect, QLatin1String("connect")},
    {Action::Disconnect, QLatin1String("disconnect")},
    {Action::Status, QLatin1String("status")},
    {Action::Profiles, QLatin1String("profiles")},
    {Action::Show, QLatin1String("show")},
    {Action::Quit, QLatin1String("quit")},
}};

const std::array<std::pair<Outcome, QLatin1String>, 5> outcomes{{
    {Outcome::Accepted, QLatin1String("accepted")},
    {Outcome::Done, QLatin1String("done")},
    {Outcome::Refused, QLatin1String("refused")},
    {Outcome::Usage, QLatin1String("usage")},
    {Outcome::TimedOut, QLatin1String("timeout")},
}};

std::optional<QJsonObject> parseObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Only the named members, and each of its type: a newer client's member this
// build does not know is not silently dropped.
bool onlyMembers(const QJsonObject &object, const QSet<QString> &allowed)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!allowed.contains(it.key()))
            return false;
    }
    return true;
}

// A string member: absent (empty), or a string of at most `limit` characters.
bool readText(const QJsonObject &object, QLatin1String key, qsizetype limit, QString &into)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    if (!value.isString() || value.toString().size() > limit)
        return false;
    into = value.toString();
    return true;
}

// A counter: a whole number of bytes, 0 up to what a double holds exactly.
bool readCounter(const QJsonObject &object, QLatin1String key, qint64 &into)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    const double number = value.toDouble(-1);
    if (!value.isDouble() || !(number >= 0) || number > 9007199254740992.0 || std::floor(number) != number)
        return false;
    into = qint64(number);
    return true;
}

void putText(QJsonObject &object, QLatin1String key, const QString &text)
{
    if (!text.isEmpty())
        object.insert(key, text);
}

} // namespace

QString actionName(Action action)
{
    for (const auto &[known, name] : actions) {
        if (known == action)
            return name;
    }
    return QString();
}

QByteArray encode(const Command &command)
{
    QJsonObject object{{commandKey, actionName(command.action)}};
    if (command.action == Action::Connect) {
        object.insert(profileKey, command.profile);
        putText(object, otpKey, command.oneTimePassword);
    }
    if ((command.action == Action::Connect || command.action == Action::Disconnect) && command.wait)
        object.insert(waitKey, true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Command> decode(const QByteArray &body)
{
    const std::optional<QJsonObject> object = parseObject(body);
    if (!object)
        return std::nullopt;
    const QString name = object->value(commandKey).toString();
    Command command;
    bool known = false;
    for (const auto &[action, actionText] : actions) {
        if (name == actionText) {
            command.action = action;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;

    QSet<QString> allowed{commandKey};
    if (command.action == Action::Connect)
        allowed << profileKey << otpKey << waitKey;
    else if (command.action == Action::Disconnect)
        allowed << waitKey;
    if (!onlyMembers(*object, allowed))
        return std::nullopt;

    if (command.action == Action::Connect) {
        if (!readText(*object, profileKey, maxProfileLength, command.profile) || command.profile.isEmpty()
            || !readText(*object, otpKey, maxOneTimePasswordLength, command.oneTimePassword))
            return std::nullopt;
    }
    const QJsonValue wait = object->value(waitKey);
    if (!wait.isUndefined() && !wait.isBool())
        return std::nullopt;
    command.wait = wait.toBool(false);
    return command;
}

bool Status::isState(const QString &state)
{
    static const QSet<QString> states{QStringLiteral("idle"), QStringLiteral("connecting"), QStringLiteral("connected"),
                                      QStringLiteral("disconnecting"), QStringLiteral("agent-unreachable")};
    return states.contains(state);
}

QJsonObject Status::toJson() const
{
    QJsonObject object{{stateKey, state}};
    putText(object, profileKey, profile);
    putText(object, hostKey, host);
    putText(object, vpnAddressKey, vpnAddress);
    putText(object, sinceKey, since);
    if (bytesSent >= 0)
        object.insert(bytesSentKey, double(bytesSent));
    if (bytesReceived >= 0)
        object.insert(bytesReceivedKey, double(bytesReceived));
    return object;
}

std::optional<Status> Status::fromJson(const QJsonObject &object)
{
    if (!onlyMembers(object, {stateKey, profileKey, hostKey, vpnAddressKey, sinceKey, bytesSentKey, bytesReceivedKey}))
        return std::nullopt;
    Status status;
    if (!readText(object, stateKey, maxTextLength, status.state) || !isState(status.state)
        || !readText(object, profileKey, maxTextLength, status.profile)
        || !readText(object, hostKey, maxTextLength, status.host)
        || !readText(object, vpnAddressKey, maxTextLength, status.vpnAddress)
        || !readText(object, sinceKey, maxTextLength, status.since)
        || !readCounter(object, bytesSentKey, status.bytesSent)
        || !readCounter(object, bytesReceivedKey, status.bytesReceived))
        return std::nullopt;
    // The time is printed as it came; it must be one.
    if (!status.since.isEmpty() && !QDateTime::fromString(status.since, Qt::ISODate).isValid())
        return std::nullopt;
    return status;
}

QByteArray encodeReply(const Reply &reply)
{
    QJsonObject object;
    for (const auto &[outcome, name] : outcomes) {
        if (outcome == reply.outcome)
            object.insert(outcomeKey, name);
    }
    putText(object, reasonKey, reply.reason);
    putText(object, messageKey, reply.message);
    putText(object, profileKey, reply.profile);
    putText(object, vpnAddressKey, reply.vpnAddress);
    if (reply.status)
        object.insert(statusKey, reply.status->toJson());
    if (reply.profiles)
        object.insert(profilesKey, QJsonArray::fromStringList(*reply.profiles));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Reply> decodeReply(const QByteArray &body)
{
    const std::optional<QJsonObject> object = parseObject(body);
    if (!object
        || !onlyMembers(*object,
                        {outcomeKey, reasonKey, messageKey, profileKey, vpnAddressKey, statusKey, profilesKey}))
        return std::nullopt;
    Reply reply;
    const QString outcome = object->value(outcomeKey).toString();
    bool known = false;
    for (const auto &[candidate, name] : outcomes) {
        if (outcome == name) {
            reply.outcome = candidate;
            known = true;
        }
    }
    if (!known || !readText(*object, reasonKey, maxTextLength, reply.reason)
        || !readText(*object, messageKey, maxTextLength, reply.message)
        || !readText(*object, profileKey, maxTextLength, reply.profile)
        || !readText(*object, vpnAddressKey, maxTextLength, reply.vpnAddress))
        return std::nullopt;

    const QJsonValue status = object->value(statusKey);
    if (!status.isUndefined()) {
        if (!status.isObject())
            return std::nullopt;
        reply.status = Status::fromJson(status.toObject());
        if (!reply.status)
            return std::nullopt;
    }
    const QJsonValue profiles = object->value(profilesKey);
    if (!profiles.isUndefined()) {
        if (!profiles.isArray())
            return std::nullopt;
        QStringList names;
        const QJsonArray array = profiles.toArray();
        for (const QJsonValue name : array) {
            if (!name.isString() || name.toString().size() > maxProfileLength)
                return std::nullopt;
            names << name.toString();
        }
        reply.profiles = names;
    }
    return reply;
}

} // namespace InstanceCommand
