#include "commandclient.h"

#include "instanceprotocol.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

using ReplyOutcome = InstanceCommand::Outcome;
using Result = CommandClient::Result;

namespace {

// Reads exactly `size` bytes before the deadline. Sets `gone` when the other
// end closed the connection first.
std::optional<QByteArray> readExactly(QLocalSocket &socket, qint64 size, const QDeadlineTimer &deadline, bool &gone)
{
    while (socket.bytesAvailable() < size) {
        if (socket.state() != QLocalSocket::ConnectedState) {
            gone = true;
            return std::nullopt;
        }
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() < size)
                gone = true;
            if (socket.bytesAvailable() >= size)
                break;
            return std::nullopt;
        }
    }
    return socket.read(size);
}

} // namespace

CommandClient::CommandClient(const QString &server, const QString &block)
    : serverName(server)
    , blockName(block)
{
}

CommandClient::Outcome CommandClient::send(const InstanceCommand::Command &command)
{
    QLocalSocket socket;
    socket.connectToServer(serverName, QIODevice::ReadWrite);
    if (!socket.waitForConnected(contactTimeoutMs)) {
        // Nothing there, or not ours to reach: no client runs for this user.
        return {socket.error() == QLocalSocket::SocketTimeoutError ? Result::NoAnswer : Result::NotRunning, {}};
    }

    // The hello and the command, each announced by its length and
    // acknowledged before what follows goes out, as every start does.
    QDeadlineTimer contact(contactTimeoutMs);
    const auto sendAcknowledged = [&](const QByteArray &bytes) -> std::optional<Result> {
        socket.write(bytes);
        socket.flush();
        bool gone = false;
        const std::optional<QByteArray> ack = readExactly(socket, 1, contact, gone);
        if (!ack)
            return gone ? Result::NotRunning : Result::NoAnswer;
        if (ack->at(0) != InstanceProtocol::acknowledgement)
            return Result::BadReply;
        return std::nullopt;
    };
    const QByteArray hello = InstanceProtocol::encodeHello(blockName.toLatin1(), InstanceProtocol::KindCommand, 0);
    const QByteArray body = InstanceCommand::encode(command);
    for (const QByteArray &bytes : {InstanceProtocol::encodeFrameHeader(hello.size()), hello,
                                    InstanceProtocol::encodeFrameHeader(body.size()), body}) {
        // One that hangs up unanswered is gone, as for a plain start.
        if (const std::optional<Result> failed = sendAcknowledged(bytes))
            return {*failed, {}};
    }

    // Replies until the final one: an "accepted" first, unless the final one
    // is at hand at once. A primary that predates commands sends neither.
    QDeadlineTimer deadline(contactTimeoutMs);
    bool accepted = false;
    for (;;) {
        bool gone = false;
        const std::optional<QByteArray> header = readExactly(socket, 8, deadline, gone);
        if (!header) {
            if (gone)
                return {accepted ? Result::Gone : Result::NotTaken, {}};
            return {accepted ? Result::TimedOut : Result::NotTaken, {}};
        }
        const qint64 length = InstanceProtocol::decodeFrameHeader(header->constData());
        if (length < 0 || length > InstanceProtocol::maxReplyLength)
            return {Result::BadReply, {}};
        const std::optional<QByteArray> frame = readExactly(socket, length, deadline, gone);
        if (!frame)
            return {gone ? Result::Gone : Result::TimedOut, {}};
        const std::optional<InstanceCommand::Reply> reply = InstanceCommand::decodeReply(*frame);
        if (!reply || (accepted && reply->outcome == ReplyOutcome::Accepted))
            return {Result::BadReply, {}};
        if (reply->outcome == ReplyOutcome::Accepted) {
            accepted = true;
            deadline.setRemainingTime(command.wait ? waitTimeoutMs : answerTimeoutMs);
            continue;
        }
        if (command.action == InstanceCommand::Action::Quit && reply->outcome == ReplyOutcome::Done) {
            // Returns once the client has ended, so a start that follows
            // finds no instance on its way out.
            QDeadlineTimer ending(quitTimeoutMs);
            while (socket.state() == QLocalSocket::ConnectedState && !ending.hasExpired())
                socket.waitForDisconnected(int(qMax<qint64>(1, ending.remainingTime())));
        }
        return {Result::Replied, reply};
    }
}
