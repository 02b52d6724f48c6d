// The kernel's TCP tables read by the agent owner check. The first four bytes
// are the agent's and the client's port, the rest is /proc/net/tcp{,6} text.
#include "fuzzsupport.h"

#include "agentowner.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const QHostAddress loopback(QHostAddress::LocalHost);
    const TcpEndpoint agent{loopback, quint16(data[0] << 8 | data[1])};
    const TcpEndpoint client{loopback, quint16(data[2] << 8 | data[3])};
    const QList<TcpSocketRow> rows = parseProcNetTcp(fuzzBytes(data + 4, size - 4));
    const AgentOwnerVerdict verdict = judgeConnection(rows, agent, client, 1000);
    // Trust needs the agent's end of exactly this connection, of root or the own uid.
    if (verdict.trusted) {
        bool backed = false;
        for (const TcpSocketRow &row : rows)
            backed |= row.state == 1 && row.local.port == agent.port && row.remote.port == client.port
                      && sameAddress(row.local.address, loopback) && sameAddress(row.remote.address, loopback)
                      && (row.uid == 0 || row.uid == 1000);
        if (!backed)
            std::abort();
    }
    return 0;
}
