#pragma once
// The little the program-stream reader needs to know of H.264 and H.265 Annex B streams: which
// codec a stream is, from its first bytes, and whether a frame can start decoding.
#include <cstddef>
#include <cstdint>

namespace media {

enum class Codec : uint8_t { Unknown = 0, H264, H265 };

const char* codecName(Codec codec);

// Offset of the next "00 00 01" at or after `from`, or `size` when there is none.
size_t findStartCode(const uint8_t* data, size_t size, size_t from);

// The codec whose NAL unit header follows the first start code in the first bytes of a stream
// (a parameter set, an access unit delimiter, SEI or a slice), or Unknown.
Codec probeCodec(const uint8_t* data, size_t size);

// True when the frame's first picture slice is an IDR (H.264) or an IRAP picture (H.265).
bool isKeyframe(Codec codec, const uint8_t* data, size_t size);

}  // namespace media
