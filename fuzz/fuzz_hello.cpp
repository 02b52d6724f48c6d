// The single-instance hello a connecting process sends to the running one:
// the frame header and the hello body.
#include "fuzzsupport.h"

#include "instanceprotocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (size >= 8)
        InstanceProtocol::decodeFrameHeader(bytes.constData());
    const std::optional<InstanceProtocol::Hello> hello = InstanceProtocol::parseHello(bytes);
    // A hello that is accepted is exactly what the sender would have written.
    if (hello && InstanceProtocol::encodeHello(hello->blockName, hello->kind, hello->instanceId) != bytes)
        std::abort();
    return 0;
}
