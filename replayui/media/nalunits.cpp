#include "nalunits.h"

#include <cstring>

namespace media {

namespace {

// How far into a stream's first bytes the probe looks for a start code.
constexpr size_t kProbeSpan = 64;

enum class Slice { None, Key, Other };

// H.264 NAL header: forbidden bit, nal_ref_idc (2), nal_unit_type (5).
bool plausibleH264(uint8_t header) {
    if (header & 0x80)
        return false;
    const int type = header & 0x1F;
    const bool referenced = (header & 0x60) != 0;
    switch (type) {
        case 1:  // non-IDR slice
            return true;
        case 5:  // IDR slice
        case 7:  // SPS
        case 8:  // PPS
            return referenced;
        case 6:  // SEI
        case 9:  // access unit delimiter
            return !referenced;
        default:
            return false;
    }
}

// H.265 NAL header: forbidden bit, type (6), layer id (6), temporal id + 1 (3). The first units
// of a stream are base-layer, lowest temporal layer: second byte 0x01.
bool plausibleH265(uint8_t first, uint8_t second) {
    if ((first & 0x81) != 0 || second != 0x01)
        return false;
    const int type = (first >> 1) & 0x3F;
    return (type >= 16 && type <= 21) ||  // IRAP pictures
           (type >= 32 && type <= 35) ||  // VPS, SPS, PPS, access unit delimiter
           type == 39;                    // prefix SEI
}

Slice sliceKind(Codec codec, uint8_t header) {
    if (codec == Codec::H264) {
        const int type = header & 0x1F;
        if (type == 5)
            return Slice::Key;
        return type >= 1 && type <= 4 ? Slice::Other : Slice::None;
    }
    const int type = (header >> 1) & 0x3F;
    if (type >= 16 && type <= 21)
        return Slice::Key;
    return type <= 31 ? Slice::Other : Slice::None;
}

}  // namespace

const char* codecName(Codec codec) {
    switch (codec) {
        case Codec::H264:
            return "H.264";
        case Codec::H265:
            return "H.265";
        case Codec::Unknown:
            break;
    }
    return "unknown";
}

size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
    size_t i = from + 2;
    while (i < size) {
        const void* one = std::memchr(data + i, 0x01, size - i);
        if (!one)
            return size;
        i = size_t(static_cast<const uint8_t*>(one) - data);
        if (data[i - 1] == 0 && data[i - 2] == 0)
            return i - 2;
        ++i;
    }
    return size;
}

Codec probeCodec(const uint8_t* data, size_t size) {
    const size_t span = size < kProbeSpan ? size : kProbeSpan;
    const size_t at = findStartCode(data, span, 0);
    if (at == span || at + 4 >= size)
        return Codec::Unknown;
    const uint8_t first = data[at + 3];
    if (plausibleH265(first, data[at + 4]))
        return Codec::H265;
    return plausibleH264(first) ? Codec::H264 : Codec::Unknown;
}

bool isKeyframe(Codec codec, const uint8_t* data, size_t size) {
    if (codec == Codec::Unknown)
        return false;
    for (size_t at = findStartCode(data, size, 0); at + 3 < size;
         at = findStartCode(data, size, at + 3)) {
        const Slice kind = sliceKind(codec, data[at + 3]);
        if (kind != Slice::None)
            return kind == Slice::Key;
    }
    return false;
}

}  // namespace media
