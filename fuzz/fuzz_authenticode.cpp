// The PE and Authenticode parser over a file's bytes, with the system's trust
// store off so every input is judged by its own structure alone.
#include "fuzzsupport.h"

#include "authenticode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Authenticode::BufferSource source(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    Authenticode::TrustAnchors anchors;
    anchors.systemStore = false;
    Authenticode::signerName(source, anchors);
    return 0;
}
