// MPEG-2 program stream (ISO/IEC 13818-1) as GB/T 28181 carries H.264: a pack header before
// every frame, the system header and the stream map before every keyframe, then the frame in
// video PES packets. Pure byte building; times are 90 kHz ticks of which 33 bits are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gbplat {

using Bytes = std::vector<uint8_t>;

// One H.264 access unit in Annex B form.
struct AccessUnit {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint64_t pts = 0;
    uint64_t dts = 0;
    bool keyframe = false;
};

constexpr uint8_t kVideoStreamId = 0xE0;
constexpr uint8_t kStreamTypeH264 = 0x1B;
// Largest payload of one PES packet: PES_packet_length counts 3 flag bytes and up to 10 bytes
// of PTS and DTS besides the payload and is 16 bits wide.
constexpr size_t kMaxPesPayload = 0xFFFF - 3 - 10;

void appendPackHeader(Bytes& out, uint64_t scr);
void appendSystemHeader(Bytes& out);
void appendProgramStreamMap(Bytes& out);
// The unit in as many PES packets as needed, each with at most maxPayload bytes of it; only the
// first carries the PTS (and the DTS when it differs).
void appendPesPackets(Bytes& out, const AccessUnit& au, size_t maxPayload = kMaxPesPayload);
// Everything that goes on the wire for one frame.
void appendFrame(Bytes& out, const AccessUnit& au, size_t maxPesPayload = kMaxPesPayload);

// CRC-32 of the MPEG-2 systems layer (polynomial 0x04C11DB7, initial value all ones, no
// reflection, no final inversion).
uint32_t crc32Mpeg(const uint8_t* data, size_t size);

}  // namespace gbplat
