// RTP header reading, and the order in which the reader hands packets on.
#include <gtest/gtest.h>

#include "MediaTestKit.h"

using namespace mediatest;
using media::RtpError;

namespace {

const Bytes kPayload = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

Bytes withByte(Bytes b, size_t at, uint8_t value) {
    b[at] = value;
    return b;
}

Bytes cut(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

struct HeaderRow {
    const char* name;
    Bytes datagram;
    RtpError error;
    bool isMedia;  // what the shared socket decides
};

TEST(RtpHeader, FieldsCsrcExtensionPaddingAndFaults) {
    RtpOptions all;
    all.csrcCount = 3;
    all.extensionWords = 2;
    all.padding = 4;
    RtpOptions csrc15;
    csrc15.csrcCount = 15;
    RtpOptions padding1;
    padding1.padding = 1;
    const Bytes plain = rtp(7, 9000, true, kPayload);
    const Bytes padded = rtp(7, 9000, true, kPayload, 0x1234, all);
    const std::vector<HeaderRow> rows = {
        {"plain", plain, RtpError::None, true},
        {"CSRC list, extension and padding", padded, RtpError::None, true},
        {"one byte of padding", rtp(7, 9000, true, kPayload, 0x1234, padding1), RtpError::None,
         true},
        {"11 bytes", cut(plain, 11), RtpError::TooShort, false},
        {"version 1", withByte(plain, 0, 0x40), RtpError::NotVersion2, false},
        {"15 CSRCs announced, 1 present", cut(rtp(7, 0, false, {}, 1, csrc15), 16),
         RtpError::CsrcBeyondEnd, false},
        {"extension longer than the datagram", withByte(padded, 12 + 12 + 3, 0x40),
         RtpError::ExtensionBeyondEnd, false},
        {"extension header cut", cut(rtp(7, 0, false, {}, 1, RtpOptions{0, 0, 0, 96}), 14),
         RtpError::ExtensionBeyondEnd, false},
        {"padding count 0", withByte(padded, padded.size() - 1, 0), RtpError::BadPadding, false},
        {"padding count beyond the payload", withByte(padded, padded.size() - 1, 40),
         RtpError::BadPadding, false},
        {"RTCP sender report on the port", withByte(plain, 1, 0xC8), RtpError::Rtcp, true},
        {"SIP text", Bytes{'R', 'E', 'G', 'I', 'S', 'T', 'E', 'R', ' ', 's', 'i', 'p', ':'},
         RtpError::NotVersion2, false},
    };
    for (const HeaderRow& row : rows) {
        SCOPED_TRACE(row.name);
        media::RtpPacket packet;
        EXPECT_EQ(media::parseRtp(row.datagram.data(), row.datagram.size(), packet), row.error);
        EXPECT_EQ(media::isRtpDatagram(row.datagram.data(), row.datagram.size()), row.isMedia);
        if (row.error == RtpError::None) {
            EXPECT_EQ(Bytes(packet.payload, packet.payload + packet.payloadSize), kPayload);
            EXPECT_EQ(packet.sequence, 7);
            EXPECT_EQ(packet.timestamp, 9000u);
            EXPECT_EQ(packet.ssrc, 0x1234u);
            EXPECT_TRUE(packet.marker);
            EXPECT_EQ(packet.payloadType, 96);
        }
    }
}

// One arrival: sequence number, SSRC, arrival time; or, with expireAt >= 0, a call to expire().
struct Arrival {
    uint16_t seq;
    uint32_t ssrc = 0x1234;
    int64_t ms = 0;
    int64_t expireAt = -1;
};

std::vector<Arrival> range(int from, int to) {
    std::vector<Arrival> out;
    for (int s = from; s <= to; ++s)
        out.push_back({uint16_t(s)});
    return out;
}

std::vector<Arrival> operator+(std::vector<Arrival> a, const std::vector<Arrival>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string seqs(int from, int to) {
    std::string out;
    for (int s = from; s <= to; ++s)
        out += (out.empty() ? "s" : " s") + std::to_string(uint16_t(s));
    return out;
}

struct OrderRow {
    const char* name;
    std::vector<Arrival> arrivals;
    std::string events;
};

TEST(RtpReader, ReorderLossWrapAndRestart) {
    const std::vector<OrderRow> rows = {
        {"in order", range(1, 3), "s1 s2 s3"},
        {"two swapped", {{1}, {3}, {2}, {4}}, "s1 s2 s3 s4"},
        {"a packet 32 places late is still in time", range(1, 1) + range(3, 34) + range(2, 2),
         seqs(1, 34)},
        {"a gap the window cannot hold is given up", range(1, 1) + range(3, 66),
         "s1 L1 " + seqs(3, 66)},
        {"a gap is given up after its successor waited",
         {{1}, {3, 0x1234, 0}, {4, 0x1234, 10}, {0, 0, 0, 79}, {0, 0, 0, 80}},
         "s1 L1 s3 s4"},
        {"duplicates and stragglers dropped", {{1}, {2}, {2}, {3}, {1}}, "s1 s2 s3"},
        {"sequence wraps", range(65534, 65535) + range(0, 1), "s65534 s65535 s0 s1"},
        {"reordered across the wrap", {{65534}, {0}, {65535}, {1}}, "s65534 s65535 s0 s1"},
        {"loss across the wrap", {{65534}, {0}, {0, 0, 0, 100}}, "s65534 L1 s0"},
        {"a lone stray packet is ignored", {{1}, {2}, {30000}, {3}}, "s1 s2 s3"},
        {"a new SSRC is taken once confirmed",
         {{1}, {2}, {500, 0x99}, {501, 0x99}, {502, 0x99}},
         "s1 s2 L1 s501 s502"},
        {"a sequence jump is taken once confirmed",
         {{1}, {2}, {40000}, {40001}},
         "s1 s2 L1 s40001"},
    };
    for (const OrderRow& row : rows) {
        SCOPED_TRACE(row.name);
        media::RtpReader reader;
        RtpLog log;
        for (const Arrival& a : row.arrivals) {
            if (a.expireAt >= 0) {
                reader.expire(a.expireAt, log);
                continue;
            }
            const Bytes d = rtp(a.seq, 0, false, Bytes{uint8_t(a.seq)}, a.ssrc);
            reader.push(d.data(), d.size(), a.ms, log);
        }
        EXPECT_EQ(log.events, row.events);
    }
}

TEST(RtpReader, HeldPacketsKeepTheirBytesWhenTheCallerReusesItsBuffer) {
    media::RtpReader reader;
    RtpLog log;
    Bytes buffer = rtp(1, 0, false, {0x11});
    reader.push(buffer.data(), buffer.size(), 0, log);
    buffer = rtp(3, 0, false, {0x33});
    reader.push(buffer.data(), buffer.size(), 0, log);  // held until 2 comes
    buffer = rtp(2, 0, true, {0x22});
    reader.push(buffer.data(), buffer.size(), 0, log);
    EXPECT_EQ(log.events, "s1 s2M s3");
    EXPECT_EQ(log.payloads, (std::vector<Bytes>{{0x11}, {0x22}, {0x33}}));
}

}  // namespace
