#include "agentowner.h"

#include <QtEndian>

#include <cstring>

namespace {

// The kernel prints each 32-bit word of the address with %08X as it lies in
// memory, so the word's bytes in host order are the address's bytes.
bool decodeAddress(const QByteArray &hex, QHostAddress &address)
{
    if (hex.size() != 8 && hex.size() != 32)
        return false;
    quint8 bytes[16] = {};
    for (int word = 0; word < hex.size() / 8; ++word) {
        bool ok = false;
        const quint32 value = hex.mid(word * 8, 8).toUInt(&ok, 16);
        if (!ok)
            return false;
        std::memcpy(bytes + word * 4, &value, 4);
    }
    if (hex.size() == 8) {
        quint32 networkOrder = 0;
        std::memcpy(&networkOrder, bytes, 4);
        address.setAddress(qFromBigEndian(networkOrder));
    } else {
        address.setAddress(bytes);
    }
    return true;
}

} // namespace

QList<ListeningSocket> parseProcNetTcp(const QByteArray &text)
{
    static constexpr char listenState[] = "0A";
    QList<ListeningSocket> listeners;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8 || fields.at(3) != listenState)
            continue;
        const QByteArray &local = fields.at(1);
        const int colon = local.indexOf(':');
        if (colon < 0)
            continue;
        ListeningSocket socket;
        bool portOk = false;
        const uint port = local.mid(colon + 1).toUInt(&portOk, 16);
        bool uidOk = false;
        socket.uid = fields.at(7).toLongLong(&uidOk);
        if (!portOk || port > 0xffff || !uidOk || socket.uid < 0 || !decodeAddress(local.left(colon), socket.address))
            continue;
        socket.port = quint16(port);
        listeners.append(socket);
    }
    return listeners;
}

bool isAgentListenAddress(const QHostAddress &address)
{
    static const QHostAddress accepted[] = {
        QHostAddress(QHostAddress::LocalHost),
        QHostAddress(QHostAddress::AnyIPv4),
        QHostAddress(QHostAddress::AnyIPv6),
        QHostAddress(QHostAddress::LocalHostIPv6),
        QHostAddress(QStringLiteral("::ffff:127.0.0.1")),
        QHostAddress(QStringLiteral("::ffff:0.0.0.0")),
    };
    for (const QHostAddress &candidate : accepted) {
        if (address.isEqual(candidate, QHostAddress::StrictConversion))
            return true;
    }
    return false;
}

AgentOwnerVerdict judgeListeners(const QList<ListeningSocket> &listeners, quint16 port, qint64 ownUid)
{
    AgentOwnerVerdict verdict;
    bool found = false;
    for (const ListeningSocket &socket : listeners) {
        if (socket.port != port || !isAgentListenAddress(socket.address))
            continue;
        const QString owner = QStringLiteral("uid %1").arg(socket.uid);
        if (socket.uid != 0 && socket.uid != ownUid)
            return AgentOwnerVerdict{false, owner};
        if (!found)
            verdict.owner = owner;
        found = true;
    }
    verdict.trusted = found;
    return verdict;
}
