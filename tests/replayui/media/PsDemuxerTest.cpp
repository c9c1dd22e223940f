// The program-stream reader behind the RTP reader: which frames come out, whole, of GB/T 28181
// streams cut and damaged in the ways the network and senders cut and damage them.
#include <gtest/gtest.h>

#include "MediaTestKit.h"

using namespace mediatest;
using media::Codec;

namespace {

constexpr int64_t kStep = 3600;  // 25 frames per second at 90 kHz

struct Expect {
    int64_t pts;
    Codec codec;
    bool keyframe;
    Bytes data;
    int64_t dts = -1;
};

// A stream under construction: datagrams to send and the frames that must come out.
struct Stream {
    std::vector<Bytes> datagrams;
    std::vector<Expect> expected;
    uint16_t seq = 100;
    size_t mtu = 1400;
    bool markers = true;

    void frame(Codec codec, int index, bool key, const PsOptions& o = {}, size_t body = 3000) {
        const Bytes es = fakeFrame(codec, key, body, uint8_t(index));
        send(psFrame(es, index * kStep, key, o));
        expected.push_back({index * kStep, codec, key, es});
    }
    void send(const Bytes& ps) {
        for (Bytes d : rtpFrame(ps, seq, 0, mtu)) {
            if (!markers)
                d[1] &= 0x7F;
            datagrams.push_back(d);
        }
    }
};

Stream h264Gop(int frames = 3) {
    Stream s;
    for (int i = 0; i < frames; ++i)
        s.frame(Codec::H264, i, i == 0);
    return s;
}

struct Row {
    const char* name;
    Stream stream;
    bool skipsBytes = false;  // a clean stream has no byte to skip
};

PsOptions options(uint8_t streamType, size_t maxPes = 65000, bool ptsOnEveryPes = true,
                  int stuffing = 0) {
    PsOptions o;
    o.streamType = streamType;
    o.maxPesPayload = maxPes;
    o.ptsOnEveryPes = ptsOnEveryPes;
    o.stuffing = stuffing;
    return o;
}

std::vector<Row> rows() {
    std::vector<Row> out;
    out.push_back({"whole frames with PTS and keyframe flags", h264Gop()});
    {
        Stream s;
        s.mtu = 7;  // every header is cut across packets
        for (int i = 0; i < 3; ++i)
            s.frame(Codec::H264, i, i == 0);
        out.push_back({"PES and headers split over 7-byte RTP packets", s});
    }
    for (bool every : {false, true}) {
        Stream s;
        for (int i = 0; i < 3; ++i)
            s.frame(Codec::H264, i, i == 0, options(0x1B, 500, every));
        out.push_back({every ? "frame over 500-byte PES, PTS on each"
                             : "frame over 500-byte PES, PTS on the first",
                       s});
    }
    {
        Stream s;
        for (int i = 0; i < 3; ++i)
            s.frame(Codec::H264, i, i == 0, options(0x1B, 65000, true, 7));
        out.push_back({"pack headers with 7 stuffing bytes", s});
    }
    {
        Stream s;
        for (int i = 0; i < 3; ++i)
            s.frame(Codec::H265, i, i == 0, options(0x24));
        out.push_back({"H.265 named by the map", s});
    }
    for (Codec codec : {Codec::H264, Codec::H265}) {
        Stream s;
        for (int i = 0; i < 3; ++i)
            s.frame(codec, i, i == 0, options(0));
        out.push_back({codec == Codec::H264 ? "no map: H.264 probed" : "no map: H.265 probed", s});
    }
    {
        Stream s;
        s.frame(Codec::H264, 0, true, options(0x10));
        s.expected.clear();
        out.push_back({"map names MPEG-4 video: nothing to decode", s});
    }
    {
        // Audio bytes may hold anything, a pack start code too: skipped by their length.
        Stream s;
        const Bytes es = fakeFrame(Codec::H264, true, 2000, 0);
        Bytes ps = psFrame(es, 0, true);
        append(ps, pes(0xC0, {0, 0, 1, 0xBA, 0x44, 0, 0, 1, 0xE0, 0x7F}, 0));
        s.send(ps);
        s.expected.push_back({0, Codec::H264, true, es});
        s.frame(Codec::H264, 1, false);
        out.push_back({"audio PES holding a pack start code", s});
    }
    {
        Stream s;
        s.frame(Codec::H264, 0, true);
        s.datagrams.push_back(rtp(s.seq++, 0, false, {0x12, 0, 0, 1, 0x05, 0xFF, 0, 0, 1, 0x41}));
        s.datagrams.push_back(rtp(s.seq++, 0, false, {0, 0, 1}));  // cut start code
        s.frame(Codec::H264, 1, false);
        out.push_back({"garbage between packs", s, true});
    }
    {
        Stream s = h264Gop();
        for (Bytes& d : s.datagrams)
            d[1] &= 0x7F;
        s.expected.pop_back();  // the last one waits for what follows it
        out.push_back({"no marker bits: a frame ends at the next pack", s});
    }
    {
        // The PES says 60000 bytes; 800 follow before the next pack.
        Stream s;
        s.markers = false;
        const Bytes es = fakeFrame(Codec::H264, true, 800, 0);
        Bytes ps = packHeader(0);
        append(ps, pes(0xE0, es, 0, -1, 60000));
        s.send(ps);
        s.expected.push_back({0, Codec::H264, true, es});
        s.frame(Codec::H264, 1, false);
        s.markers = true;
        s.frame(Codec::H264, 2, false);
        out.push_back({"PES length beyond the bytes present", s});
    }
    {
        // As above, with the next pack's start code cut between two packets.
        Stream s;
        const Bytes first = fakeFrame(Codec::H264, true, 800, 0);
        const Bytes second = fakeFrame(Codec::H264, false, 300, 1);
        Bytes ps = packHeader(0);
        append(ps, pes(0xE0, first, 0, -1, 60000));
        const size_t cutAt = ps.size() + 2;
        append(ps, psFrame(second, kStep, false));
        s.datagrams.push_back(rtp(s.seq++, 0, false, Bytes(ps.begin(), ps.begin() + cutAt)));
        s.datagrams.push_back(rtp(s.seq++, 0, true, Bytes(ps.begin() + cutAt, ps.end())));
        s.expected.push_back({0, Codec::H264, true, first});
        s.expected.push_back({kStep, Codec::H264, false, second});
        out.push_back({"PES length beyond the bytes present, start code cut", s});
    }
    {
        Stream s;
        s.markers = false;
        for (int i = 0; i < 3; ++i) {
            const Bytes es = fakeFrame(Codec::H264, i == 0, 1000, uint8_t(i));
            Bytes ps = packHeader(i * kStep);
            append(ps, pes(0xE0, es, i * kStep, -1, 0));
            s.send(ps);
            s.expected.push_back({i * kStep, Codec::H264, i == 0, es});
        }
        s.expected.pop_back();
        out.push_back({"PES length 0: up to the next pack", s});
    }
    {
        Stream s;
        const Bytes es = fakeFrame(Codec::H264, true, 500, 0);
        Bytes ps = packHeader(0);
        append(ps, pes(0xE0, es, 7200, 3600));
        s.send(ps);
        s.expected.push_back({7200, Codec::H264, true, es, 3600});
        out.push_back({"PTS and DTS", s});
    }
    {
        Stream s;
        s.frame(Codec::H264, 0, true);
        s.frame(Codec::H264, 1, false);  // a packet of it goes missing
        const size_t lost = s.datagrams.size() - 2;
        s.frame(Codec::H264, 2, false);
        s.frame(Codec::H264, 3, true);
        s.frame(Codec::H264, 4, false);
        s.datagrams.erase(s.datagrams.begin() + std::ptrdiff_t(lost));
        s.expected.erase(s.expected.begin() + 1, s.expected.begin() + 3);
        out.push_back({"a loss drops the frame; output resumes at the next keyframe", s, true});
    }
    {
        Stream s;
        s.mtu = 60000;
        s.frame(Codec::H264, 0, true, options(0x1B), media::PsDemuxer::kMaxFrameBytes);
        s.frame(Codec::H264, 1, false);  // no keyframe since the dropped one
        s.frame(Codec::H264, 2, true);
        s.frame(Codec::H264, 3, false);
        s.expected.erase(s.expected.begin(), s.expected.begin() + 2);
        out.push_back({"a frame over 4 MB is dropped", s});
    }
    return out;
}

TEST(PsDemuxer, FramesOutOfCutAndDamagedStreams) {
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name);
        Chain chain;
        int64_t now = 0;
        for (const Bytes& d : row.stream.datagrams)
            chain.push(d, now += 10);
        chain.reader.expire(now + 1000, chain);
        EXPECT_EQ(chain.demuxer.stats().garbageBytes > 0, row.skipsBytes);
        const auto& got = chain.frames.frames;
        ASSERT_EQ(got.size(), row.stream.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            const Expect& e = row.stream.expected[i];
            EXPECT_EQ(got[i].pts, e.pts);
            EXPECT_EQ(got[i].dts, e.dts);
            EXPECT_EQ(got[i].codec, e.codec);
            EXPECT_EQ(got[i].keyframe, e.keyframe);
            EXPECT_TRUE(got[i].data == e.data)
                << got[i].data.size() << " bytes, expected " << e.data.size();
        }
    }
}

TEST(PsDemuxer, CountsWhatItSkips) {
    Chain chain;
    Stream s;
    s.frame(Codec::H264, 0, true);
    s.datagrams.push_back(rtp(s.seq++, 0, false, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    Bytes lying = packHeader(kStep);
    append(lying, pes(0xE0, fakeFrame(Codec::H264, false, 100), kStep, -1, 9000));
    s.send(lying);
    for (const Bytes& d : s.datagrams)
        chain.push(d);
    const media::PsDemuxer::Stats& stats = chain.demuxer.stats();
    EXPECT_EQ(stats.frames, 2u);
    EXPECT_EQ(stats.garbageBytes, 9u);
    EXPECT_EQ(stats.overruns, 1u);
    EXPECT_EQ(stats.maps, 1u);
    EXPECT_EQ(stats.packs, 2u);
}

}  // namespace
