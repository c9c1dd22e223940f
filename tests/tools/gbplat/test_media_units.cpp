// gbplat's video packing against bytes worked out by hand from ISO/IEC 13818-1 and RFC 3550,
// and the pacing of frames by the playback clock.
#include "FramePacer.h"
#include "ProgramStream.h"
#include "RtpPacketizer.h"
#include "Scene.h"

#include <gtest/gtest.h>

using namespace gbplat;

namespace {

Bytes built(void (*append)(Bytes&)) {
    Bytes b;
    append(b);
    return b;
}

Bytes pack(uint64_t scr) {
    Bytes b;
    appendPackHeader(b, scr);
    return b;
}

Bytes pes(const AccessUnit& au, size_t maxPayload = kMaxPesPayload) {
    Bytes b;
    appendPesPackets(b, au, maxPayload);
    return b;
}

}  // namespace

// SCR 0x123456789: '01' 100 1 011010001010110 1 011110001001001 1 (ext 0) 1, mux rate 20000
// in 22 bits, '11', reserved '11111', no stuffing. The stream map's CRC was worked bit by bit;
// run over the whole map including it, the CRC register ends at zero.
TEST(ProgramStreamTest, HeadersMatchHandWorkedBytes) {
    const uint8_t payload[] = {0xAA, 0xBB, 0xCC};
    AccessUnit ptsOnly{payload, 3, 0x1DCBA9876, 0x1DCBA9876, false};
    AccessUnit withDts{payload, 3, 0x1DCBA9876, 0x1DCBA8CA6, false};
    struct Case {
        const char* what;
        Bytes got;
        Bytes want;
    } cases[] = {
        {"pack header",
         pack(0x123456789),
         {0x00, 0x00, 0x01, 0xBA, 0x66, 0x34, 0x57, 0x3C, 0x4C, 0x01, 0x01, 0x38, 0x83, 0xF8}},
        {"pack header, SCR past 33 bits",
         pack(0x200000000ULL | 0x123456789),
         {0x00, 0x00, 0x01, 0xBA, 0x66, 0x34, 0x57, 0x3C, 0x4C, 0x01, 0x01, 0x38, 0x83, 0xF8}},
        {"pack header, SCR 0",
         pack(0),
         {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x38, 0x83, 0xF8}},
        {"system header",
         built(appendSystemHeader),
         {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09, 0x80, 0x9C, 0x41, 0x00, 0xE1, 0x7F, 0xE0, 0xE4,
          0x00}},
        {"stream map", built(appendProgramStreamMap), {0x00, 0x00, 0x01, 0xBC, 0x00, 0x0E, 0xE0,
                                                       0xFF, 0x00, 0x00, 0x00, 0x04, 0x1B, 0xE0,
                                                       0x00, 0x00, 0xF4, 0xDC, 0xBD, 0x45}},
        {"PES with PTS",
         pes(ptsOnly),
         {0x00, 0x00, 0x01, 0xE0, 0x00, 0x0B, 0x84, 0x80, 0x05, 0x2F, 0x72, 0xEB, 0x30, 0xED, 0xAA,
          0xBB, 0xCC}},
        {"PES with PTS and DTS", pes(withDts), {0x00, 0x00, 0x01, 0xE0, 0x00, 0x10, 0x84, 0xC0,
                                                0x0A, 0x3F, 0x72, 0xEB, 0x30, 0xED, 0x1F, 0x72,
                                                0xEB, 0x19, 0x4D, 0xAA, 0xBB, 0xCC}},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    Bytes map = built(appendProgramStreamMap);
    EXPECT_EQ(crc32Mpeg(map.data(), map.size()), 0u);
}

// A keyframe of 3000 bytes in PES packets of at most 1000 bytes, then in RTP packets of at most
// 1400 bytes, with the sequence number wrapping on the way.
TEST(ProgramStreamTest, LargeFrameSplitsOverPesAndRtpPackets) {
    Bytes es(3000);
    for (size_t i = 0; i < es.size(); ++i)
        es[i] = uint8_t(i * 7);
    AccessUnit au{es.data(), es.size(), 7200, 7200, true};
    Bytes ps;
    appendFrame(ps, au, 1000);
    const size_t headers = 14 + 15 + 20;  // pack header, system header, stream map
    ASSERT_EQ(ps.size(), headers + (9 + 5 + 1000) + 2 * (9 + 1000));
    EXPECT_EQ(Bytes(ps.begin() + 14, ps.begin() + 18), (Bytes{0x00, 0x00, 0x01, 0xBB}));
    size_t at = headers;
    struct Pes {
        size_t length;
        uint8_t flags;
        uint8_t headerLength;
    } want[] = {{3 + 5 + 1000, 0x80, 5}, {3 + 1000, 0x00, 0}, {3 + 1000, 0x00, 0}};
    Bytes carried;
    for (auto& w : want) {
        ASSERT_EQ(Bytes(ps.begin() + long(at), ps.begin() + long(at) + 4),
                  (Bytes{0x00, 0x00, 0x01, 0xE0}));
        EXPECT_EQ(size_t(ps[at + 4] << 8 | ps[at + 5]), w.length);
        EXPECT_EQ(ps[at + 7], w.flags);  // the PTS on the first packet only
        EXPECT_EQ(ps[at + 8], w.headerLength);
        size_t body = at + 9 + w.headerLength;
        carried.insert(carried.end(), ps.begin() + long(body),
                       ps.begin() + long(at + 6 + w.length));
        at += 6 + w.length;
    }
    EXPECT_EQ(carried, es);

    RtpPacketizer rtp(96, 0x01020304, 0xFFFE);
    std::vector<Bytes> packets;
    rtp.packetize(0xA0B0C0D0, ps.data(), ps.size(),
                  [&](const uint8_t* p, size_t n) { packets.emplace_back(p, p + n); });
    ASSERT_EQ(packets.size(), (ps.size() + 1399) / 1400);
    Bytes joined;
    for (size_t i = 0; i < packets.size(); ++i) {
        const Bytes& p = packets[i];
        bool last = i + 1 == packets.size();
        uint16_t seq = uint16_t(0xFFFE + i);
        EXPECT_EQ(Bytes(p.begin(), p.begin() + 12),
                  (Bytes{0x80, uint8_t(last ? 0xE0 : 0x60), uint8_t(seq >> 8), uint8_t(seq), 0xA0,
                         0xB0, 0xC0, 0xD0, 0x01, 0x02, 0x03, 0x04}))
            << "packet " << i;
        EXPECT_LE(p.size() - 12, 1400u);
        joined.insert(joined.end(), p.begin() + 12, p.end());
    }
    EXPECT_EQ(joined, ps);
    EXPECT_EQ(rtp.nextSequence(), uint16_t(0xFFFE + packets.size()));
}

// The cases a loopback run cannot hit on purpose: a frame made before a jump, a clock faster than
// frames can go, and a stream that fell behind.
TEST(FramePacerTest, JumpsSkipsAndStaleFrames) {
    FramePacer pacer(3600, 3600);
    pacer.steer(0, {0, true, 1.0, 0});
    auto s = pacer.next(0);
    ASSERT_TRUE(s.send);
    EXPECT_EQ(s.index, 0);
    EXPECT_TRUE(s.keyframe);
    pacer.sent(0, s);
    s = pacer.next(1);
    EXPECT_FALSE(s.send);
    EXPECT_EQ(s.waitMs, 39);

    auto made = pacer.next(40);  // being made when the Range arrives
    ASSERT_TRUE(made.send);
    pacer.steer(45, {600, true, 1.0, 1});
    pacer.sent(50, made);  // not counted: the jump's keyframe comes next
    s = pacer.next(50);
    ASSERT_TRUE(s.send);
    EXPECT_EQ(s.index, 600 * 25);
    EXPECT_TRUE(s.keyframe);
    pacer.sent(50, s);

    pacer.steer(60, {600.04, false, 1.0, 1});  // PAUSE
    EXPECT_EQ(pacer.next(10'000).waitMs, -1);
    pacer.steer(10'000, {600.04, true, 1.0, 1});
    s = pacer.next(10'000);
    EXPECT_EQ(s.index, 600 * 25 + 1);  // PLAY goes on where it stopped
    EXPECT_FALSE(s.keyframe);
    pacer.steer(10'000, {600.04, false, 1.0, 1});  // PAUSE while that frame is made
    pacer.dropped(s);
    pacer.steer(10'000, {600.04, true, 1.0, 1});
    s = pacer.next(10'000);
    EXPECT_EQ(s.index, 600 * 25 + 1);
    EXPECT_TRUE(s.keyframe);  // the decoder never got the dropped one
    pacer.sent(10'000, s);

    pacer.steer(10'000, {600.04, true, 30.0, 1});  // 750 frames a second: skip to the clock
    s = pacer.next(10'100);
    EXPECT_EQ(s.index, 15000 + 1 + 75);
    EXPECT_EQ(pacer.framesSkippedLate(), 0u);
    pacer.sent(10'100, s);

    pacer.steer(10'100, {603.08, true, 1.0, 1});
    s = pacer.next(10'600);  // half a second late at real time
    EXPECT_EQ(s.index, 15077 + 12);
    EXPECT_EQ(pacer.framesSkippedLate(), 12u);
    pacer.sent(10'600, s);
    EXPECT_EQ(pacer.next(10'600).waitMs, 20);  // the next frame keeps to the clock

    FramePacer shortSpan(3600, 1);
    shortSpan.steer(0, {0, true, 1.0, 0});
    for (int i = 0; i < 25; ++i) {
        s = shortSpan.next(i * 40);
        ASSERT_TRUE(s.send) << i;
        shortSpan.sent(i * 40, s);
    }
    EXPECT_EQ(shortSpan.next(5'000).waitMs, -1);  // the span is over
}

// The picture is a function of the recording time alone, so a seek or a pause shows: the same
// time gives the same picture, another second other text, and the square moves with the time.
TEST(SceneTest, PictureFollowsTheRecordingTime) {
    std::string why;
    auto font = TextFont::open("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", &why);
    if (!font)
        GTEST_SKIP() << why;
    const int w = 320, h = 180;
    auto draw = [&](Scene& scene, double t) {
        std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
        YuvPicture pic{{y.data(), u.data(), v.data()}, {w, w / 2, w / 2}, w, h};
        scene.draw(t, pic);
        y.insert(y.end(), u.begin(), u.end());
        return y;
    };
    auto differing = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int row0,
                         int rows) {
        int n = 0;
        for (int r = row0; r < row0 + rows; ++r) {
            for (int c = 0; c < w; ++c)
                n += a[size_t(r * w + c)] != b[size_t(r * w + c)];
        }
        return n;
    };
    Scene scene(w, h, font, "1号车1车厢车厢前部摄像机1", "00309900101001000001", 8 * 3600);
    auto at = draw(scene, 1796600000.2);
    auto again = draw(scene, 1796600000.2);
    auto later = draw(scene, 1796600001.2);
    auto jumped = draw(scene, 1796600000.2);
    EXPECT_EQ(at, again);
    EXPECT_EQ(at, jumped);  // back to the same time after another one
    const int timeRows = h * 42 / 100;
    EXPECT_GT(differing(at, later, timeRows, h * 15 / 100), 50);      // the time text
    EXPECT_GT(differing(at, later, h * 80 / 100, h * 12 / 100), 50);  // the square
    EXPECT_GT(differing(at, draw(scene, 1796600000.24), 0, h), 0);    // the next frame moves
    int lit = 0;
    for (int i = 0; i < w * h * 15 / 100; ++i)
        lit += at[size_t(i)] > 200;  // the name and code at the top
    EXPECT_GT(lit, 200);

    Scene plain(w, h, nullptr, "name", "code", 0);  // no font: the square still moves
    EXPECT_NE(draw(plain, 0), draw(plain, 1));
}
