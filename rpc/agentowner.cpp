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

// "0100007F:1842" as the kernel prints an endpoint.
bool decodeEndpoint(const QByteArray &field, TcpEndpoint &endpoint)
{
    const int colon = field.indexOf(':');
    if (colon < 0)
        return false;
    bool portOk = false;
    const uint port = field.mid(colon + 1).toUInt(&portOk, 16);
    if (!portOk || port > 0xffff || !decodeAddress(field.left(colon), endpoint.address))
        return false;
    endpoint.port = quint16(port);
    return true;
}

} // namespace

QList<TcpSocketRow> parseProcNetTcp(const QByteArray &text)
{
    QList<TcpSocketRow> rows;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8)
            continue;
        TcpSocketRow row;
        bool stateOk = false;
        row.state = int(fields.at(3).toUInt(&stateOk, 16));
        bool uidOk = false;
        row.uid = fields.at(7).toLongLong(&uidOk);
        if (!stateOk || fields.at(3).size() != 2 || !uidOk || row.uid < 0 || !decodeEndpoint(fields.at(1), row.local)
            || !decodeEndpoint(fields.at(2), row.remote))
            continue;
        rows.append(row);
    }
    return rows;
}

bool sameAddress(const QHostAddress &a, const QHostAddress &b)
{
    // The default conversion counts ::ffff:a.b.c.d and a.b.c.d as one.
    return !a.isNull() && a.isEqual(b, QHostAddress::ConvertV4MappedToIPv4);
}

AgentOwnerVerdict judgeConnection(const QList<TcpSocketRow> &rows, const TcpEndpoint &agent, const TcpEndpoint &client,
                                  qint64 ownUid)
{
    static constexpr int established = 1;
    for (const TcpSocketRow &row : rows) {
        if (row.state != established || row.local.port != agent.port || row.remote.port != client.port
            || !sameAddress(row.local.address, agent.address) || !sameAddress(row.remote.address, client.address))
            continue;
        // The one socket with these four values: the agent's end.
        return AgentOwnerVerdict{row.uid == 0 || row.uid == ownUid, QStringLiteral("uid %1").arg(row.uid)};
    }
    return AgentOwnerVerdict{};
}
