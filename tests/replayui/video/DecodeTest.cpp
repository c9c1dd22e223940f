// Real H.264 and H.265 streams through the RTP reader, the demuxer and the decoder: every frame
// decoded, scaled into the box with its aspect and its colours, as FFmpeg itself reads the same
// program stream.
#include <gtest/gtest.h>

#include "EncodedStream.h"
#include "FfmpegReference.h"
#include "picturescaler.h"
#include "videodecoder.h"

using namespace mediatest;
using media::Codec;

namespace {

struct Decoded {
    std::vector<QImage> pictures;
    std::vector<int64_t> tags;
    uint64_t errors = 0;
};

// The media worker's wiring of the stages, without its thread.
struct DecodeChain : media::RtpSink, media::FrameSink {
    media::RtpReader reader;
    media::PsDemuxer demuxer;
    video::VideoDecoder decoder;
    video::PictureScaler scaler;
    Decoded out;
    std::vector<int64_t> framePts;
    video::VideoDecoder::PictureSink sink = [this](const AVFrame* picture) {
        QImage image;
        if (!scaler.scale(picture, image))
            ++out.errors;
        out.pictures.push_back(image);
        out.tags.push_back(picture->pts);
    };

    void onRtpPayload(const media::RtpPacket& p) override {
        demuxer.push(p.payload, p.payloadSize, p.marker, *this);
    }
    void onRtpLoss(uint32_t) override { demuxer.loss(); }
    void onAccessUnit(const media::AccessUnit& u) override {
        framePts.push_back(u.pts);
        if (!decoder.decode(u, u.pts, sink))
            ++out.errors;
    }
    void run(const std::vector<Bytes>& datagrams) {
        int64_t now = 0;
        for (const Bytes& d : datagrams)
            reader.push(d.data(), d.size(), now += 5, *this);
        reader.expire(now + 1000, *this);
        decoder.drain(sink);
    }
};

bool near(QRgb pixel, int r, int g, int b) {
    return std::abs(qRed(pixel) - r) < 40 && std::abs(qGreen(pixel) - g) < 40 &&
           std::abs(qBlue(pixel) - b) < 40;
}

struct StreamRow {
    const char* name;
    Codec codec;
    uint8_t streamType;  // 0: no map, the stream is probed
};

TEST(Decode, RealStreamsDecodeWholeAndInColour) {
    const std::vector<StreamRow> rows = {
        {"H.264 named by the map", Codec::H264, 0x1B},
        {"H.265 named by the map", Codec::H265, 0x24},
        {"H.264 without a map", Codec::H264, 0},
    };
    for (const StreamRow& row : rows) {
        SCOPED_TRACE(row.name);
        const auto frames = encodeFrames(row.codec, 320, 240, 20, 10);
        Bytes ps;
        const auto datagrams = gbDatagrams(frames, row.streamType, &ps);

        DecodeChain chain;
        chain.scaler.setTargetSize(QSize(200, 200));
        chain.run(datagrams);
        EXPECT_EQ(chain.out.errors, 0u);
        ASSERT_EQ(chain.out.pictures.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(chain.out.tags[i], frames[i].pts);
        const QImage& last = chain.out.pictures.back();
        EXPECT_EQ(last.size(), QSize(200, 150));
        EXPECT_TRUE(near(last.pixel(40, 100), 255, 0, 0)) << std::hex << last.pixel(40, 100);
        EXPECT_TRUE(near(last.pixel(160, 100), 0, 0, 255)) << std::hex << last.pixel(160, 100);

        // FFmpeg reads the same program stream into the same frames.
        std::vector<int64_t> referencePts;
        EXPECT_EQ(ffmpegDecode(ps, 1, nullptr, &referencePts), int(frames.size()));
        EXPECT_EQ(referencePts, chain.framePts);
    }
}

TEST(Decode, ALossSkipsToTheNextKeyframeWithoutBrokenPictures) {
    const auto frames = encodeFrames(Codec::H264, 320, 240, 30, 10);
    auto datagrams = gbDatagrams(frames, 0x1B);
    // Drop the last packet of frame 14 (between the keyframes 10 and 20).
    size_t marker = 0;
    for (size_t i = 0, frame = 0; i < datagrams.size(); ++i) {
        if (datagrams[i][1] & 0x80) {
            if (frame++ == 14)
                marker = i;
        }
    }
    datagrams.erase(datagrams.begin() + std::ptrdiff_t(marker));

    DecodeChain chain;
    chain.run(datagrams);
    EXPECT_EQ(chain.out.errors, 0u);
    std::vector<int64_t> expected;
    for (const EncodedFrame& f : frames) {
        const int index = int(f.pts / 3600);
        if (index < 14 || index >= 20)
            expected.push_back(f.pts);
    }
    EXPECT_EQ(chain.out.tags, expected);
}

// Any width: FFmpeg 5's SIMD conversion to RGB leaves the last (width % 16) pixels of each row
// unwritten when that is 1 to 7 (and the height even, as 16:9 gives here).
TEST(Decode, ScaledPicturesAreInColourToTheirLastColumn) {
    const auto frames = encodeFrames(Codec::H264, 320, 180, 3, 3);
    const auto datagrams = gbDatagrams(frames, 0x1B);
    for (const int width : {1063, 337, 1080}) {
        SCOPED_TRACE(width);
        DecodeChain chain;
        chain.scaler.setTargetSize(QSize(width, 1000));
        chain.run(datagrams);
        ASSERT_FALSE(chain.out.pictures.empty());
        const QImage& picture = chain.out.pictures.back();
        EXPECT_GE(picture.width(), width - 7);
        const int y = picture.height() / 2;
        const QRgb last = picture.pixel(picture.width() - 1, y);
        EXPECT_TRUE(near(picture.pixel(0, y), 255, 0, 0)) << std::hex << picture.pixel(0, y);
        EXPECT_TRUE(near(last, 0, 0, 255)) << std::hex << last;
    }
}

struct FitRow {
    QSize source;
    double sampleAspect;
    QSize box;
    QSize fitted;
};

TEST(Decode, PicturesFitTheBoxKeepingTheirAspect) {
    const std::vector<FitRow> rows = {
        {{1920, 1080}, 1.0, {1080, 600}, {1067, 600}},
        {{960, 540}, 1.0, {1080, 600}, {1067, 600}},
        {{704, 576}, 12.0 / 11.0, {1080, 600}, {800, 600}},  // 4:3 PAL with wide samples
        {{640, 480}, 1.0, {300, 600}, {300, 225}},
        {{352, 288}, 0.0, {}, {352, 288}},  // no box, unknown sample aspect
    };
    for (const FitRow& row : rows) {
        EXPECT_EQ(video::PictureScaler::fitted(row.source, row.sampleAspect, row.box), row.fitted)
            << row.source.width() << "x" << row.source.height();
    }
}

}  // namespace
