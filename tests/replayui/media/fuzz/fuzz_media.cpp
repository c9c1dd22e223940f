// RTP datagrams and program-stream bytes through the reader, demuxer, clock and schedule.
#include <cstddef>
#include <cstdint>

#include "MediaFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mediafuzz::runInput(data, size);
    return 0;
}
