// Start line and header block of arbitrary bytes, then every kind of lookup.
#include <cstddef>
#include <cstdint>

#include "CHTTPHdrs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CHTTPHdrs codec;
    const int count = size > 65536 ? 65536 : int(size);
    const int r = codec.parseHeaders(reinterpret_cast<const char*>(data), count);
    if (r > count)
        __builtin_trap();
    for (const char* key : {"Via", "From", "Fromtag", "Totag", "Fromsipip", "CSeqType", "branch",
                            "realm", "nonce", "SIP401", "Content-Length", "l"}) {
        if (const char* value = codec.incomingHeader(key)) {
            volatile char first = value[0];
            (void)first;
        }
    }
    (void)codec.incomingVias();
    return 0;
}
