// Frames per second of the console's media path (RTP reader, program-stream demuxer, libavcodec
// decode, libswscale scale into the 1080x600 screen label) beside FFmpeg's own way through the
// same program stream (libavformat's mpeg demuxer and libavcodec, with and without the same
// scaling), at 960x540 and 1920x1080; and the GUI thread's time to paint one picture.
//   bench_media [--benchmark_filter=...]     (argument 0: 960x540, 1: 1920x1080; then threads)
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "EncodedStream.h"
#include "FfmpegReference.h"
#include "mediapipeline.h"
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

// The scaling thread's share: one decoded picture into the label, as a QImage ready to paint.
void BM_ConsoleScale(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    video::VideoDecoder decoder(1);
    ConsolePath path;
    path.decoder = &decoder;
    AVFrame* picture = nullptr;
    path.sink = [&](const AVFrame* f) {
        if (!picture)
            picture = av_frame_clone(f);
    };
    path.run(s);
    if (!picture) {
        state.SkipWithError("nothing decoded");
        return;
    }
    video::PictureScaler scaler;
    scaler.setTargetSize(kLabel);
    for (auto _ : state) {
        QImage image;
        if (!scaler.scale(picture, image))
            state.SkipWithError("not scaled");
        benchmark::DoNotOptimize(image.constBits());
    }
    av_frame_free(&picture);
    state.SetItemsProcessed(int64_t(state.iterations()));
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
    // Where the form has it: on the form's styled background, with the console's style.
    QWidget form;
    form.setObjectName("MainForm");
    form.setStyleSheet(
        "#MainForm { background: rgb(7, 54, 80); } MyScreenLabel { "
        "background-color: rgb(63,127,188); border: 1px outset rgb(140,136,133); "
        "color: white; }");
    form.resize(1480, 700);
    MyScreenLabel label(&form);
    label.setGeometry(QRect(QPoint(20, 15), kLabel));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        state.SkipWithError("the label was never exposed");
        return;
    }
    QImage picture(
        video::PictureScaler::fitted(QSize(1920, 1080), 1.0, label.contentsRect().size()),
        QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    qint64 ms = QDateTime::currentMSecsSinceEpoch();
    for (auto _ : state) {
        label.showFrame(picture, ms += 40);
        label.repaint();
    }
    // The painted label must show the picture (not the text), or nothing was measured.
    if (label.grab().toImage().pixelColor(label.width() / 2, label.height() / 2) !=
        QColor(Qt::darkCyan))
        state.SkipWithError("the picture was not painted");
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// Resident set size of the process, in MB.
double residentMb() {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        long size = 0;
        if (std::fscanf(f, "%ld %ld", &size, &pages) != 2)
            pages = 0;
        std::fclose(f);
    }
    return double(pages) * double(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The pipeline playing the stream at 1x as the platform sends it (one frame every 40 ms):
// the process's share of one core, the GUI thread's time per picture (without the label's
// painting, measured above), the resident memory it adds at its peak, and the time from start()
// to the first picture shown (the stream starts with a keyframe; the network's and the platform's
// share of a real first picture are not in it).
void BM_PipelineAtNormalSpeed(benchmark::State& state) {
    const Stream& s = stream(int(state.range(0)));
    std::vector<std::vector<QByteArray>> frames(1);  // the datagrams of each frame
    for (const Bytes& d : s.datagrams) {
        frames.back().emplace_back(reinterpret_cast<const char*>(d.data()), int(d.size()));
        if (d[1] & 0x80)
            frames.emplace_back();
    }
    if (frames.back().empty())
        frames.pop_back();
    const double idleMb = residentMb();
    double share = 0, addedMb = 0, firstMs = 0, guiMs = 0;
    quint64 shown = 0;
    for (auto _ : state) {
        video::MediaPipeline pipeline;
        pipeline.setTargetSize(kLabel);
        QEventLoop loop;
        QTimer pacer;
        pacer.setSingleShot(true);
        pacer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pacer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        qint64 firstShown = -1;
        QObject::connect(&pipeline, &video::MediaPipeline::frameShown, [&] {
            if (firstShown < 0)
                firstShown = clock.nsecsElapsed();
        });
        const double cpu0 = processCpuSeconds();
        const double gui0 = threadCpuSeconds();
        double peakMb = idleMb;
        clock.start();
        pipeline.start(0);
        for (size_t i = 0; i < frames.size(); ++i) {
            for (const QByteArray& d : frames[i])
                pipeline.pushDatagram(d);
            peakMb = std::max(peakMb, residentMb());
            const qint64 nextMs = qint64(i + 1) * 40 - clock.elapsed();
            if (nextMs > 0) {
                pacer.start(int(nextMs));
                loop.exec();
            }
        }
        QTest::qWait(200);
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        share = (processCpuSeconds() - cpu0) / wall;
        addedMb = peakMb - idleMb;
        guiMs = (threadCpuSeconds() - gui0) * 1000 /
                double(std::max<quint64>(1, pipeline.framesShown()));
        firstMs = double(firstShown) / 1e6;
        shown = pipeline.framesShown();
        state.SetIterationTime(wall);
    }
    state.counters["core_share"] = share;
    state.counters["rss_added_MB"] = addedMb;
    state.counters["gui_ms_per_picture"] = guiMs;
    state.counters["first_picture_ms"] = firstMs;
    state.counters["shown"] = double(shown);
    state.SetLabel(sizeLabel(int(state.range(0))));
}

const std::vector<std::vector<int64_t>> kSizesAndThreads = {{0, 1}, {1}};

}  // namespace

BENCHMARK(BM_ConsoleDepacketize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConsoleDecodeScaleSerial)
    ->ArgsProduct(kSizesAndThreads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();
BENCHMARK(BM_ConsoleScale)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
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
BENCHMARK(BM_PipelineAtNormalSpeed)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
