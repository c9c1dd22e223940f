// Time for a logged-in form to take in a catalogue of 10,000 cameras sent as 1,000 NOTIFYs of
// 10 items, and the longest the GUI event loop was held up meanwhile. The platform runs in its
// own thread and keeps a window of NOTIFYs in flight, as a platform waiting for each 200 OK does.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <thread>

#include "formtestkit.h"
#include "mainform.h"
#include "sipsession.h"

using namespace kit;

namespace {

constexpr int kNotifies = 1000;
constexpr int kItemsPerNotify = 10;
constexpr int kWindow = 32;

QList<QByteArray> makeNotifies(ScriptedPlatform& p) {
    QList<QByteArray> out;
    int serial = 0;
    for (int n = 0; n < kNotifies; ++n) {
        QList<QByteArray> items;
        for (int i = 0; i < kItemsPerNotify; ++i, ++serial) {
            const QByteArray id = trainCameraId(1 + serial % 5, 1 + (serial / 5) % 2, 1, serial);
            items << catalogueItem(id, "\xc9\xe3\xcf\xf1\xbb\xfa" + QByteArray::number(serial),
                                   serial % 3 == 0 ? "OFF" : "ON");
        }
        out << p.request("NOTIFY", "bench-" + QByteArray::number(n), n + 1,
                         catalogueBody("Notify", items));
    }
    return out;
}

// The platform's side: sends while fewer than kWindow NOTIFYs are unanswered.
void platformThread(int fd, const QList<QByteArray>* notifies, const sockaddr_storage* form,
                    socklen_t formLength, std::atomic<bool>* stop) {
    int sent = 0;
    int answered = 0;
    char buffer[65536];
    while (answered < notifies->size() && !stop->load()) {
        while (sent < notifies->size() && sent - answered < kWindow) {
            const QByteArray& d = (*notifies)[sent++];
            sendto(fd, d.constData(), static_cast<size_t>(d.size()), 0,
                   reinterpret_cast<const sockaddr*>(form), formLength);
        }
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 12 && std::memcmp(buffer, "SIP/2.0 200", 11) == 0) {
            ++answered;
        }
    }
}

void BM_CatalogueOverLoopback(benchmark::State& state) {
    double worstStallMs = 0;
    double totalMs = 0;
    for (auto _ : state) {
        FormRig rig;
        if (!rig.logInAndSubscribe()) {
            state.SkipWithError("the form did not log in");
            return;
        }
        rig.host().recorder.platform = nullptr;
        const QList<QByteArray> notifies = makeNotifies(rig.platform());
        const int expected = rig.form()->cameraMap().size() + kNotifies * kItemsPerNotify;

        // The platform thread uses the platform's own address and port.
        const int fd = dup(static_cast<int>(rig.platform().socket().socketDescriptor()));
        // The form answers to this address; only the thread may read there from now on.
        rig.platform().socket().close();
        sockaddr_storage formAddress{};
        auto* in = reinterpret_cast<sockaddr_in*>(&formAddress);
        in->sin_family = AF_INET;
        in->sin_port = htons(rig.formPort());
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        QEventLoop loop;
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 stall = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stall = std::max(stall, now - lastTick);
            lastTick = now;
        });
        qint64 doneAt = -1;
        QObject::connect(rig.form()->session(), &SipSession::datagramHandled, [&] {
            if (doneAt < 0 && rig.form()->cameraMap().size() >= expected) {
                doneAt = clock.nsecsElapsed();
                loop.quit();
            }
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

        std::atomic<bool> stop{false};
        clock.start();
        ticker.start();
        guard.start(30000);
        std::thread platform(platformThread, fd, &notifies, &formAddress,
                             static_cast<socklen_t>(sizeof(sockaddr_in)), &stop);
        loop.exec();
        stop = true;
        platform.join();
        close(fd);
        if (doneAt < 0) {
            state.SkipWithError("not every camera arrived");
            return;
        }
        stall = std::max(stall, doneAt - lastTick);
        const double seconds = static_cast<double>(doneAt) / 1e9;
        state.SetIterationTime(seconds);
        totalMs = seconds * 1000.0;
        worstStallMs = std::max(worstStallMs, static_cast<double>(stall) / 1e6);
        state.counters["host_calls"] = static_cast<double>(rig.host().recorder.calls.size());
    }
    state.counters["last_total_ms"] = totalMs;
    state.counters["max_stall_ms"] = worstStallMs;
    state.counters["cameras"] = kNotifies * kItemsPerNotify;
}

}  // namespace

BENCHMARK(BM_CatalogueOverLoopback)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
