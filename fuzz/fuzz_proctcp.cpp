// The kernel's listening-socket tables read by the agent owner check. The first
// two bytes are the agent's port, the rest is /proc/net/tcp{,6} text.
#include "fuzzsupport.h"

#include "agentowner.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const quint16 port = quint16(data[0] << 8 | data[1]);
    const QList<ListeningSocket> listeners = parseProcNetTcp(fuzzBytes(data + 2, size - 2));
    const AgentOwnerVerdict verdict = judgeListeners(listeners, port, 1000);
    // Trust needs a listener of root or the own uid on the agent's addresses.
    if (verdict.trusted) {
        bool backed = false;
        for (const ListeningSocket &socket : listeners)
            backed |= socket.port == port && isAgentListenAddress(socket.address)
                      && (socket.uid == 0 || socket.uid == 1000);
        if (!backed)
            std::abort();
    }
    return 0;
}
