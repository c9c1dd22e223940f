// Frames per second of the console's media path (RTP reader, program-stream demuxer, libavcodec
// decode, libswscale scale into the 1080x600 screen label) beside FFmpeg's own way through the
// same program stream (libavformat's mpeg demuxer and libavcodec, with and without the same
// scaling), at 960x540 and 1920x1080; and the GUI thread's time to paint one picture.
//   bench_media [--benchmark_filter=...]     (argument 0: 960x540, 1: 1920x1080; then threads)
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QDateTime>
#include <QTest>

#include "EncodedStream.h"
#include "FfmpegReference.h"
#include "mediaworker.h"
#include "myscreenlabel.h"
#include "picturescaler.h"
#include "videodecoder.h"

using namespace mediatest;

namespace {

constexpr int kFrames = 100;  // 4 s at 25 fps, a keyframe every second
const QSize kLabel(1080, 600);

struct Stream {
    std::vector<Bytes> datagrams;
    Bytes programStream;
    size_t frames = 0;
};

const Stream& stream(int which) {
    static Stream streams[2];
    Stream& s = streams[which];
    if (s.frames == 0) {
        const QSize size = which == 0 ? QSize(960, 540) : QSize(1920, 1080);
        const auto encoded = encodeFrames(media::Codec::H264, size.width(), size.height(), kFrames,
                                          25, true, "veryfast");
        s.datagrams = gbDatagrams(encoded, 0x1B, &s.programStream);
        s.frames = encoded.size();
    }
    return s;
}

std::string sizeLabel(int which) {
    const double seconds = kFrames / 25.0;
    const double mbits = double(stream(which).programStream.size()) * 8 / seconds / 1e6;
    return std::string(which == 0 ? "960x540" : "1920x1080") + " " +
           std::to_string(int(mbits * 10) / 10.0).substr(0, 3) + " Mbit/s";
}

// RTP reader and demuxer, with or without the decoder behind them.
struct ConsolePath : media::RtpSink, media::FrameSink {
    media::RtpReader reader;
    media::PsDemuxer demuxer;
    video::VideoDecoder* decoder = nullptr;
    video::PictureScaler scaler;
    size_t frames = 0;
    size_t pictures = 0;
    video::VideoDecoder::PictureSink sink = [this](const AVFrame* picture) {
        QImage image;
        if (scaler.scale(picture, image))
            ++pictures;
        benchmark::DoNotOptimize(image.constBits());
    };
    void onRtpPayload(const media::RtpPacket& p) override {
        demuxer.push(p.payload, p.payloadSize, p.marker, *this);
    }
    void onRtpLoss(uint32_t) override { demuxer.loss(); }
    void onAccessUnit(const media::AccessUnit& u) override {
        ++frames;
        if (decoder)
            decoder->decode(u, int64_t(frames), sink);
    }
    void run(const Stream& s) {
        for (const Bytes& d : s.datagrams)
            reader.push(d.data(), d.size(), 0, *this);
        if (decoder)
            decoder->drain(sink);
    }
};

void BM_ConsoleDepacketize(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    for (auto _ : state) {
        ConsolePath path;
        path.run(s);
        if (path.frames != s.frames)
            state.SkipWithError("frames lost");
    }
    state.SetItemsProcessed(int64_t(state.iterations() * s.frames));
    state.SetLabel(sizeLabel(int(state.range(0))));
}

// Decoding and scaling one after the other on one thread: the CPU time per picture.
void BM_ConsoleDecodeScaleSerial(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    for (auto _ : state) {
        video::VideoDecoder decoder(int(state.range(1)));
        ConsolePath path;
        path.decoder = &decoder;
        path.scaler.setTargetSize(kLabel);
        path.run(s);
        if (path.pictures != s.frames)
            state.SkipWithError("pictures lost");
    }
    state.SetItemsProcessed(int64_t(state.iterations() * s.frames));
    state.SetLabel(sizeLabel(int(state.range(0))) + " to the label");
}

// The console's media worker as the pipeline runs it: reading and decoding on one thread,
// scaling on another, datagrams pushed as fast as its queue takes them.
void BM_ConsoleMediaWorker(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    std::vector<QByteArray> datagrams;
    for (const Bytes& d : s.datagrams)
        datagrams.emplace_back(reinterpret_cast<const char*>(d.data()), int(d.size()));
    for (auto _ : state) {
        video::MediaWorker worker(nullptr, int(state.range(1)), nullptr);
        worker.setTargetSize(kLabel);
        worker.start(1, 0);
        for (const QByteArray& d : datagrams) {
            while (!worker.pushDatagram(d))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        while (worker.counters().pictures < s.frames) {
            worker.takePictures();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * s.frames));
    state.SetLabel(sizeLabel(int(state.range(0))) + " to the label");
}

// FFmpeg's own way, without scaling: the rate to hold the console's path against.
void BM_FFmpegDemuxDecode(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    for (auto _ : state) {
        if (ffmpegDecode(s.programStream, int(state.range(1))) != int(s.frames))
            state.SkipWithError("pictures lost");
    }
    state.SetItemsProcessed(int64_t(state.iterations() * s.frames));
    state.SetLabel(sizeLabel(int(state.range(0))));
}

// The same with the plain one-pass sws_scale into the label's size, for comparison.
void BM_FFmpegDemuxDecodeScale(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    for (auto _ : state) {
        SwsContext* scaler = nullptr;
        auto scale = [&](const AVFrame* f) {
            const QSize size =
                video::PictureScaler::fitted(QSize(f->width, f->height), 1.0, kLabel);
            scaler = sws_getCachedContext(scaler, f->width, f->height, AVPixelFormat(f->format),
                                          size.width(), size.height(), AV_PIX_FMT_BGRA,
                                          SWS_BILINEAR, nullptr, nullptr, nullptr);
            QImage picture(size, QImage::Format_RGB32);
            uint8_t* planes[4] = {picture.bits(), nullptr, nullptr, nullptr};
            const int strides[4] = {int(picture.bytesPerLine()), 0, 0, 0};
            sws_scale(scaler, f->data, f->linesize, 0, f->height, planes, strides);
            benchmark::DoNotOptimize(picture.constBits());
        };
        if (ffmpegDecode(s.programStream, int(state.range(1)), scale) != int(s.frames))
            state.SkipWithError("pictures lost");
        sws_freeContext(scaler);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * s.frames));
    state.SetLabel(sizeLabel(int(state.range(0))) + " one-pass sws_scale");
}

// What the GUI thread does per picture: hand it to the label and paint it with its overlay.
void BM_GuiPaintPerFrame(benchmark::State& state) {
    MyScreenLabel label;
    label.resize(kLabel);
    label.show();
    if (!QTest::qWaitForWindowExposed(&label)) {
        state.SkipWithError("the label was never exposed");
        return;
    }
    QImage picture(video::PictureScaler::fitted(QSize(1920, 1080), 1.0, kLabel),
                   QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    qint64 ms = QDateTime::currentMSecsSinceEpoch();
    for (auto _ : state) {
        label.showFrame(picture, ms += 40);
        label.repaint();
    }
    // The painted label must show the picture (not the text), or nothing was measured.
    if (label.grab().toImage().pixelColor(kLabel.width() / 2, kLabel.height() / 2) !=
        QColor(Qt::darkCyan))
        state.SkipWithError("the picture was not painted");
    state.SetItemsProcessed(int64_t(state.iterations()));
}

const std::vector<std::vector<int64_t>> kSizesAndThreads = {{0, 1}, {1}};

}  // namespace

BENCHMARK(BM_ConsoleDepacketize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConsoleDecodeScaleSerial)
    ->ArgsProduct(kSizesAndThreads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_ConsoleMediaWorker)
    ->ArgsProduct(kSizesAndThreads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_FFmpegDemuxDecode)
    ->ArgsProduct(kSizesAndThreads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_FFmpegDemuxDecodeScale)
    ->ArgsProduct(kSizesAndThreads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_GuiPaintPerFrame)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
