#include "ProgramStream.h"

#include <algorithm>
#include <array>

namespace gbplat {

namespace {

constexpr uint64_t k33Bits = (uint64_t(1) << 33) - 1;
// program_mux_rate and rate_bound in units of 50 bytes/s: 8 Mbit/s, above any stream we send.
constexpr uint32_t kMuxRate = 20000;
// P-STD buffer bound of the video stream in units of 1024 bytes.
constexpr uint32_t kVideoBufferKiB = 1024;

void appendStartCode(Bytes& out, uint8_t id) {
    out.insert(out.end(), {0x00, 0x00, 0x01, id});
}

void appendU16(Bytes& out, size_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

// '0010' PTS, '0011' PTS before a DTS, '0001' DTS, each with its three marker bits.
void appendTimestamp(Bytes& out, uint8_t prefix, uint64_t ts) {
    ts &= k33Bits;
    out.push_back(uint8_t((prefix << 4) | (((ts >> 30) & 0x07) << 1) | 1));
    out.push_back(uint8_t(ts >> 22));
    out.push_back(uint8_t((((ts >> 15) & 0x7F) << 1) | 1));
    out.push_back(uint8_t(ts >> 7));
    out.push_back(uint8_t(((ts & 0x7F) << 1) | 1));
}

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int b = 0; b < 8; ++b)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

}  // namespace

uint32_t crc32Mpeg(const uint8_t* data, size_t size) {
    const auto& table = crcTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

void appendPackHeader(Bytes& out, uint64_t scr) {
    scr &= k33Bits;
    const uint32_t ext = 0;  // SCR extension: the 27 MHz remainder, unused at frame granularity
    appendStartCode(out, 0xBA);
    out.push_back(uint8_t(0x44 | (((scr >> 30) & 0x07) << 3) | ((scr >> 28) & 0x03)));
    out.push_back(uint8_t(scr >> 20));
    out.push_back(uint8_t(0x04 | (((scr >> 15) & 0x1F) << 3) | ((scr >> 13) & 0x03)));
    out.push_back(uint8_t(scr >> 5));
    out.push_back(uint8_t(0x04 | ((scr & 0x1F) << 3) | ((ext >> 7) & 0x03)));
    out.push_back(uint8_t(((ext & 0x7F) << 1) | 1));
    out.push_back(uint8_t(kMuxRate >> 14));
    out.push_back(uint8_t(kMuxRate >> 6));
    out.push_back(uint8_t(((kMuxRate & 0x3F) << 2) | 0x03));
    out.push_back(0xF8);  // reserved bits, no stuffing
}

void appendSystemHeader(Bytes& out) {
    appendStartCode(out, 0xBB);
    appendU16(out, 9);  // 6 bytes of bounds and flags, 3 for the one video stream
    out.push_back(uint8_t(0x80 | (kMuxRate >> 15)));
    out.push_back(uint8_t(kMuxRate >> 7));
    out.push_back(uint8_t(((kMuxRate & 0x7F) << 1) | 1));
    out.push_back(0x00);  // no audio, variable rate, not constrained
    out.push_back(0xE1);  // audio and video locked to the SCR, marker, one video stream
    out.push_back(0x7F);  // no packet rate restriction, reserved bits
    out.push_back(kVideoStreamId);
    out.push_back(uint8_t(0xE0 | (kVideoBufferKiB >> 8)));  // '11', scale 1024 bytes
    out.push_back(uint8_t(kVideoBufferKiB));
}

void appendProgramStreamMap(Bytes& out) {
    size_t begin = out.size();
    appendStartCode(out, 0xBC);
    appendU16(out, 14);   // from here to the end of the CRC
    out.push_back(0xE0);  // current, version 0
    out.push_back(0xFF);  // reserved bits and marker
    appendU16(out, 0);    // no program descriptors
    appendU16(out, 4);    // one elementary stream entry without descriptors
    out.push_back(kStreamTypeH264);
    out.push_back(kVideoStreamId);
    appendU16(out, 0);
    uint32_t crc = crc32Mpeg(out.data() + begin, out.size() - begin);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(crc >> shift));
}

void appendPesPackets(Bytes& out, const AccessUnit& au, size_t maxPayload) {
    maxPayload = std::clamp<size_t>(maxPayload, 1, kMaxPesPayload);
    size_t done = 0;
    bool first = true;
    do {
        bool withDts = first && (au.dts & k33Bits) != (au.pts & k33Bits);
        size_t headerData = first ? (withDts ? 10 : 5) : 0;
        size_t chunk = std::min(maxPayload, au.size - done);
        appendStartCode(out, kVideoStreamId);
        appendU16(out, 3 + headerData + chunk);
        out.push_back(first ? 0x84 : 0x80);  // '10', data alignment on the unit's first packet
        out.push_back(first ? (withDts ? 0xC0 : 0x80) : 0x00);
        out.push_back(uint8_t(headerData));
        if (first)
            appendTimestamp(out, withDts ? 0x3 : 0x2, au.pts);
        if (withDts)
            appendTimestamp(out, 0x1, au.dts);
        out.insert(out.end(), au.data + done, au.data + done + chunk);
        done += chunk;
        first = false;
    } while (done < au.size);
}

void appendFrame(Bytes& out, const AccessUnit& au, size_t maxPesPayload) {
    appendPackHeader(out, au.dts);
    if (au.keyframe) {
        appendSystemHeader(out);
        appendProgramStreamMap(out);
    }
    appendPesPackets(out, au, maxPesPayload);
}

}  // namespace gbplat
