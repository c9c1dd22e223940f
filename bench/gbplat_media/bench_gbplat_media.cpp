// The demo platform's video cost. EncodeAndPack: frames per second that one core makes (draw,
// encode with libx264, program stream, RTP) at a picture size. RealTimeStreams/N: N playbacks
// at scale 1 for a few seconds through the platform's stream threads, sent over loopback; the
// counters say what share of one core they took and whether they kept up (frames sent against
// frames due, frames skipped because a stream fell behind).
#include "ProgramStream.h"
#include "RtpPacketizer.h"
#include "StreamManager.h"
#include "VideoSource.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace gbplat;

namespace {

const char* kFont = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

void EncodeAndPack(benchmark::State& state) {
    std::string why;
    SyntheticStream stream;
    stream.width = int(state.range(0));
    stream.height = int(state.range(1));
    stream.font = TextFont::open(kFont, &why);
    stream.cameraName = "1号车1车厢车厢前部摄像机1";
    stream.cameraCode = "00309900101001000001";
    stream.spanStart = 1796600000;
    auto source = openSyntheticSource(stream, &why);
    if (!source) {
        state.SkipWithError(why.c_str());
        return;
    }
    RtpPacketizer rtp(96, 1, 0);
    EncodedFrame frame;
    Bytes ps;
    int64_t index = 0;
    size_t bytes = 0, packets = 0;
    for (auto _ : state) {
        source->frameAt(double(index) / kSyntheticFps, index == 0, frame);
        uint64_t ts = uint64_t(index) * 3600;
        ps.clear();
        appendFrame(ps, {frame.data.data(), frame.data.size(), ts, ts, frame.keyframe});
        rtp.packetize(uint32_t(ts), ps.data(), ps.size(), [&](const uint8_t*, size_t n) {
            bytes += n;
            ++packets;
        });
        ++index;
    }
    state.SetItemsProcessed(index);
    state.counters["bytes_per_frame"] = double(bytes) / double(index);
    state.counters["packets_per_frame"] = double(packets) / double(index);
}
BENCHMARK(EncodeAndPack)->Args({960, 540})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A loopback socket that receives the video and never reads it.
struct Sink {
    int in = -1, out = -1;
    Endpoint where{"127.0.0.1", 0};
    Sink() {
        in = socket(AF_INET, SOCK_DGRAM, 0);
        out = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(in, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(in, reinterpret_cast<sockaddr*>(&sa), &len);
        where.port = ntohs(sa.sin_port);
    }
    ~Sink() {
        close(in);
        close(out);
    }
};

void RealTimeStreams(benchmark::State& state) {
    const int streams = int(state.range(0));
    const double seconds = 6;
    Sink sink;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(uint16_t(sink.where.port));
    EventLog log;
    MediaTotals totals;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        StreamManager media(
            MediaConfig{},
            [&](const Endpoint&, const uint8_t* p, size_t n) {
                sendto(sink.out, p, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            },
            log);
        double cpu0 = cpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < streams; ++i) {
            StreamOrder order;
            order.id = uint64_t(i + 1);
            order.cameraCode = "0030990010100100000" + std::to_string(i % 10);
            order.cameraName = "1号车1车厢车厢前部摄像机" + std::to_string(i);
            order.span = {1796600000, 1796603600};
            order.dest = sink.where;
            order.ssrc = uint32_t(i + 1);
            media.startStream(order, {0, true, 1.0, 0});
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        for (int i = 0; i < streams; ++i)
            media.stopStream(uint64_t(i + 1));
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = cpuSeconds() - cpu0;
        totals = media.totals();
        state.SetIterationTime(wall);
    }
    double due = streams * seconds * kSyntheticFps;
    state.counters["core_share"] = cpu / wall;
    state.counters["core_share_per_stream"] = cpu / wall / streams;
    state.counters["frames_sent_of_due"] = double(totals.frames) / due;
    state.counters["frames_skipped_late"] = double(totals.framesSkippedLate);
}
BENCHMARK(RealTimeStreams)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(12)
    ->Arg(16)
    ->Arg(20)
    ->Arg(24)
    ->Arg(32)
    ->Arg(48)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
