#pragma once
// Builders of RTP and GB/T 28181 program-stream bytes for the media tests, the fuzz seeds and the
// benchmark, and sinks that record what the readers hand on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "psdemuxer.h"
#include "rtpreader.h"

namespace mediatest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

inline void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

inline void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// MPEG-2 CRC-32 (polynomial 0x04C11DB7, not reflected), as the stream map carries it.
inline uint32_t crc32Mpeg(const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint32_t(p[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

// MPEG-2 pack header with its SCR base (extension 0) and `stuffing` 0xFF bytes.
inline Bytes packHeader(int64_t scr, int stuffing = 0) {
    Bytes b = {0, 0, 1, 0xBA};
    b.push_back(uint8_t(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)));
    b.push_back(uint8_t(scr >> 20));
    b.push_back(uint8_t(0x04 | ((scr >> 12) & 0xF8) | ((scr >> 13) & 0x03)));
    b.push_back(uint8_t(scr >> 5));
    b.push_back(uint8_t(0x04 | ((scr << 3) & 0xF8)));
    b.push_back(0x01);
    const uint32_t muxRate = 6106;  // units of 50 bytes/s
    b.push_back(uint8_t(muxRate >> 14));
    b.push_back(uint8_t(muxRate >> 6));
    b.push_back(uint8_t(((muxRate << 2) & 0xFC) | 0x03));
    b.push_back(uint8_t(0xF8 | stuffing));
    b.insert(b.end(), size_t(stuffing), 0xFF);
    return b;
}

// System header naming one video and one audio stream.
inline Bytes systemHeader() {
    return {0,    0,    1,    0xBB, 0,    12,   0x80, 0xCC, 0xF5,
            0x04, 0xE1, 0x7F, 0xE0, 0xE0, 0xE8, 0xC0, 0xC0, 0x20};
}

// Program stream map of (stream_type, elementary_stream_id) entries, with its CRC.
inline Bytes streamMap(const std::vector<std::pair<uint8_t, uint8_t>>& entries) {
    Bytes b = {0, 0, 1, 0xBC};
    put16(b, unsigned(10 + 4 * entries.size()));
    b.push_back(0xE0);  // current, version 0
    b.push_back(0xFF);
    put16(b, 0);  // no program descriptors
    put16(b, unsigned(4 * entries.size()));
    for (const auto& e : entries) {
        b.push_back(e.first);
        b.push_back(e.second);
        put16(b, 0);
    }
    put32(b, crc32Mpeg(b.data(), b.size()));
    return b;
}

inline void putTimestamp(Bytes& b, unsigned prefix, int64_t t) {
    b.push_back(uint8_t((prefix << 4) | ((t >> 29) & 0x0E) | 1));
    b.push_back(uint8_t(t >> 22));
    b.push_back(uint8_t(((t >> 14) & 0xFE) | 1));
    b.push_back(uint8_t(t >> 7));
    b.push_back(uint8_t(((t << 1) & 0xFE) | 1));
}

// MPEG-2 PES packet; pts/dts < 0 leave them out. `statedLength` overrides the length field.
inline Bytes pes(uint8_t streamId, const Bytes& payload, int64_t pts = -1, int64_t dts = -1,
                 int statedLength = -1) {
    const unsigned headerData = pts < 0 ? 0 : dts < 0 ? 5 : 10;
    Bytes b = {0, 0, 1, streamId};
    put16(b,
          statedLength >= 0 ? unsigned(statedLength) : unsigned(3 + headerData + payload.size()));
    b.push_back(0x80);
    b.push_back(pts < 0 ? 0x00 : dts < 0 ? 0x80 : 0xC0);
    b.push_back(uint8_t(headerData));
    if (pts >= 0)
        putTimestamp(b, dts < 0 ? 2 : 3, pts);
    if (pts >= 0 && dts >= 0)
        putTimestamp(b, 1, dts);
    append(b, payload);
    return b;
}

// An Annex B frame that looks like H.264 or H.265 to the probe and keyframe test; the body
// bytes are never 0, so no start code appears inside.
inline Bytes fakeFrame(media::Codec codec, bool keyframe, size_t bodySize, uint8_t seed = 1) {
    const Bytes sc = {0, 0, 0, 1};
    Bytes b;
    auto nal = [&](std::initializer_list<uint8_t> header) {
        append(b, sc);
        b.insert(b.end(), header);
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(0x11 + i));
    };
    if (codec == media::Codec::H264) {
        if (keyframe) {
            nal({0x67});
            nal({0x68});
        }
        append(b, sc);
        b.push_back(keyframe ? 0x65 : 0x41);
    } else {
        if (keyframe) {
            nal({0x40, 0x01});
            nal({0x42, 0x01});
            nal({0x44, 0x01});
        }
        append(b, sc);
        b.push_back(keyframe ? 0x26 : 0x02);
        b.push_back(0x01);
    }
    for (size_t i = 0; i < bodySize; ++i)
        b.push_back(uint8_t(1 + (seed + i * 7) % 255));
    return b;
}

struct PsOptions {
    uint8_t streamType = 0x1B;  // in the map; 0 writes no map
    uint8_t streamId = 0xE0;
    size_t maxPesPayload = 65000;
    bool ptsOnEveryPes = true;
    int stuffing = 0;
};

// One frame as GB/T 28181 sends it: a pack header, before a keyframe the system header and the
// map, then the frame in PES packets.
inline Bytes psFrame(const Bytes& frame, int64_t pts, bool keyframe, const PsOptions& o = {}) {
    Bytes b = packHeader(pts, o.stuffing);
    if (keyframe) {
        append(b, systemHeader());
        if (o.streamType != 0)
            append(b, streamMap({{o.streamType, o.streamId}, {0x90, 0xC0}}));
    }
    for (size_t at = 0; at < frame.size(); at += o.maxPesPayload) {
        const size_t n = std::min(o.maxPesPayload, frame.size() - at);
        const Bytes part(frame.begin() + std::ptrdiff_t(at),
                         frame.begin() + std::ptrdiff_t(at + n));
        append(b, pes(o.streamId, part, at == 0 || o.ptsOnEveryPes ? pts : -1));
    }
    return b;
}

struct RtpOptions {
    int csrcCount = 0;
    int extensionWords = -1;  // -1: no extension
    int padding = 0;
    uint8_t payloadType = 96;
};

inline Bytes rtp(uint16_t seq, uint32_t timestamp, bool marker, const Bytes& payload,
                 uint32_t ssrc = 0x1234, const RtpOptions& o = {}) {
    Bytes b;
    b.push_back(uint8_t(0x80 | (o.padding > 0 ? 0x20 : 0) | (o.extensionWords >= 0 ? 0x10 : 0) |
                        o.csrcCount));
    b.push_back(uint8_t((marker ? 0x80 : 0) | o.payloadType));
    put16(b, seq);
    put32(b, timestamp);
    put32(b, ssrc);
    for (int i = 0; i < o.csrcCount; ++i)
        put32(b, 0xC0C0C000u + uint32_t(i));
    if (o.extensionWords >= 0) {
        put16(b, 0xBEDE);
        put16(b, unsigned(o.extensionWords));
        b.insert(b.end(), size_t(o.extensionWords) * 4, 0xEE);
    }
    append(b, payload);
    if (o.padding > 0) {
        b.insert(b.end(), size_t(o.padding - 1), 0);
        b.push_back(uint8_t(o.padding));
    }
    return b;
}

// The RTP packets of one program-stream frame: at most `maxPayload` bytes each, marker on the
// last. `seq` moves on.
inline std::vector<Bytes> rtpFrame(const Bytes& ps, uint16_t& seq, uint32_t timestamp,
                                   size_t maxPayload = 1400, uint32_t ssrc = 0x1234) {
    std::vector<Bytes> out;
    for (size_t at = 0; at < ps.size(); at += maxPayload) {
        const size_t n = std::min(maxPayload, ps.size() - at);
        const Bytes part(ps.begin() + std::ptrdiff_t(at), ps.begin() + std::ptrdiff_t(at + n));
        out.push_back(rtp(seq++, timestamp, at + n == ps.size(), part, ssrc));
    }
    return out;
}

// Everything a demuxer hands on.
struct FrameLog : media::FrameSink {
    struct Frame {
        Bytes data;
        media::Codec codec;
        bool keyframe;
        int64_t pts;
        int64_t dts;
    };
    std::vector<Frame> frames;
    void onAccessUnit(const media::AccessUnit& u) override {
        frames.push_back({Bytes(u.data, u.data + u.size), u.codec, u.keyframe, u.pts, u.dts});
    }
    std::vector<int64_t> pts() const {
        std::vector<int64_t> out;
        for (const Frame& f : frames)
            out.push_back(f.pts);
        return out;
    }
};

// What a reader hands on, as text: "s<seq>" per packet ("s<seq>M" with the marker), "L<n>" per
// loss report.
struct RtpLog : media::RtpSink {
    std::string events;
    std::vector<Bytes> payloads;
    void onRtpPayload(const media::RtpPacket& p) override {
        events += (events.empty() ? "" : " ") + std::string("s") + std::to_string(p.sequence) +
                  (p.marker ? "M" : "");
        payloads.emplace_back(p.payload, p.payload + p.payloadSize);
    }
    void onRtpLoss(uint32_t count) override {
        events += (events.empty() ? "" : " ") + std::string("L") + std::to_string(count);
    }
};

// RTP reader feeding a demuxer, as the media worker wires them.
struct Chain : media::RtpSink {
    media::RtpReader reader;
    media::PsDemuxer demuxer;
    FrameLog frames;
    void onRtpPayload(const media::RtpPacket& p) override {
        demuxer.push(p.payload, p.payloadSize, p.marker, frames);
    }
    void onRtpLoss(uint32_t) override { demuxer.loss(); }
    void push(const Bytes& datagram, int64_t nowMs = 0) {
        reader.push(datagram.data(), datagram.size(), nowMs, *this);
    }
};

}  // namespace mediatest
