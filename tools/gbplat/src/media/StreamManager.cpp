#include "StreamManager.h"

#include "FramePacer.h"
#include "ProgramStream.h"
#include "RtpPacketizer.h"
#include "VideoSource.h"

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <random>
#include <thread>

namespace gbplat {

namespace {

int64_t steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

class StreamManager::Stream {
public:
    Stream(const StreamOrder& order, const StreamClock& clock, const MediaConfig& config,
           std::shared_ptr<TextFont> font, const DatagramSender& send, EventLog& log,
           Counters& counters)
        : order_(order),
          config_(config),
          font_(std::move(font)),
          send_(send),
          log_(log),
          counters_(counters),
          latest_(clock) {
        thread_ = std::thread([this] { run(); });
    }
    ~Stream() {
        requestStop();
        thread_.join();
    }

    void steer(const StreamClock& clock) {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = clock;
        changed_ = true;
        wake_.notify_one();
    }
    void requestStop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        wake_.notify_one();
    }
    bool finished() const { return finished_.load(); }

private:
    std::unique_ptr<VideoSource> openSource(std::string* why) const {
        if (!config_.mediaFile.empty())
            return openFileSource(config_.mediaFile, why);
        SyntheticStream stream{config_.width,           config_.height,    font_,
                               order_.cameraName,       order_.cameraCode, order_.span.start,
                               config_.utcOffsetSeconds};
        return openSyntheticSource(stream, why);
    }

    void run() {
        std::string why;
        auto source = openSource(&why);
        if (!source) {
            log_.event("stream %" PRIu64 ": no video: %s", order_.id, why.c_str());
            ++counters_.failures;
            finished_ = true;
            return;
        }
        log_.event("stream %" PRIu64 " of %s to %s started", order_.id, order_.cameraCode.c_str(),
                   order_.dest.text().c_str());
        ++counters_.streams;
        play(*source);
        log_.event("stream %" PRIu64 " ended: %" PRIu64 " frames, %" PRIu64
                   " frames skipped to keep up",
                   order_.id, frames_, skipped_);
        finished_ = true;
    }

    // What leaves for the console: RTP with random first sequence number and timestamp (RFC
    // 3550 §5.1), the timestamp rising with the PTS.
    struct Outgoing {
        RtpPacketizer rtp;
        uint32_t timestampBase;
        Bytes ps;
    };

    void play(VideoSource& source) {
        FramePacer pacer(source.frameTicks(), order_.span.end - order_.span.start);
        std::mt19937 rng(std::random_device{}());
        Outgoing out{RtpPacketizer(order_.payloadType, order_.ssrc, uint16_t(rng())),
                     uint32_t(rng()), Bytes()};
        EncodedFrame frame;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            takeSteering(pacer);
            FramePacer::Step step = pacer.next(steadyNowMs());
            if (!step.send) {
                if (step.waitMs < 0)
                    wake_.wait(lock);
                else
                    wake_.wait_for(lock, std::chrono::milliseconds(step.waitMs));
                continue;
            }
            lock.unlock();
            bool made =
                source.frameAt(double(step.index) * pacer.frameSeconds(), step.keyframe, frame);
            lock.lock();
            if (!made) {
                log_.event("stream %" PRIu64 ": %s; stopping it", order_.id,
                           source.error().c_str());
                ++counters_.failures;
                break;
            }
            if (stop_ || !stillWanted(pacer, step))
                continue;
            // Sent under the lock, so that once a steer or stop returns no older frame follows.
            send(out, uint64_t(step.index) * pacer.frameTicks(), frame);
            pacer.sent(steadyNowMs(), step);
            uint64_t late = pacer.framesSkippedLate();
            counters_.skipped += late - skipped_;
            skipped_ = late;
        }
    }

    // Whether a frame made without the lock may still go after what came meanwhile.
    bool stillWanted(FramePacer& pacer, const FramePacer::Step& step) {
        takeSteering(pacer);
        if (step.generation != pacer.generation())
            return false;  // a Range: the jump's keyframe is next
        if (!pacer.playing()) {
            pacer.dropped(step);  // a PAUSE: nothing goes after its answer
            return false;
        }
        return true;
    }

    void send(Outgoing& out, uint64_t dts, const EncodedFrame& frame) {
        AccessUnit au{frame.data.data(), frame.data.size(), dts + uint64_t(frame.ptsAfterDts), dts,
                      frame.keyframe};
        out.ps.clear();
        appendFrame(out.ps, au);
        out.rtp.packetize(out.timestampBase + uint32_t(au.pts), out.ps.data(), out.ps.size(),
                          [this](const uint8_t* p, size_t n) {
                              send_(order_.dest, p, n);
                              ++counters_.packets;
                              counters_.bytes += n;
                          });
        ++frames_;
        ++counters_.frames;
    }

    void takeSteering(FramePacer& pacer) {
        if (!changed_)
            return;
        pacer.steer(steadyNowMs(), latest_);
        changed_ = false;
    }

    const StreamOrder order_;
    const MediaConfig& config_;
    std::shared_ptr<TextFont> font_;
    const DatagramSender& send_;
    EventLog& log_;
    Counters& counters_;
    uint64_t frames_ = 0;
    uint64_t skipped_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    StreamClock latest_;
    bool changed_ = true;
    bool stop_ = false;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

StreamManager::StreamManager(MediaConfig config, DatagramSender send, EventLog& log)
    : config_(std::move(config)), send_(std::move(send)), log_(log) {
    if (config_.mediaFile.empty()) {
        std::string why;
        font_ = TextFont::open(config_.fontFile, &why);
        if (!font_)
            log_.event("video without text: %s", why.c_str());
    }
}

StreamManager::~StreamManager() {
    stopAll();
}

void StreamManager::stopAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, s] : streams_)
        s->requestStop();
    streams_.clear();
    stopping_.clear();
}

void StreamManager::startStream(const StreamOrder& order, const StreamClock& clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto old = streams_.find(order.id);
    if (old != streams_.end()) {
        old->second->requestStop();
        stopping_.push_back(std::move(old->second));
        streams_.erase(old);
    }
    streams_[order.id] =
        std::make_unique<Stream>(order, clock, config_, font_, send_, log_, counters_);
    reapFinished();
}

void StreamManager::steerStream(uint64_t id, const StreamClock& clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(id);
    if (it != streams_.end())
        it->second->steer(clock);
}

void StreamManager::stopStream(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(id);
    if (it == streams_.end())
        return;
    it->second->requestStop();
    stopping_.push_back(std::move(it->second));
    streams_.erase(it);
    reapFinished();
}

// Threads that have ended are joined here; one still finishing a frame is left for later, so
// the SIP loop never waits for an encoder.
void StreamManager::reapFinished() {
    for (auto it = stopping_.begin(); it != stopping_.end();) {
        if ((*it)->finished())
            it = stopping_.erase(it);
        else
            ++it;
    }
}

size_t StreamManager::activeStreams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_.size();
}

MediaTotals StreamManager::totals() const {
    return {counters_.streams.load(), counters_.frames.load(),  counters_.packets.load(),
            counters_.bytes.load(),   counters_.skipped.load(), counters_.failures.load()};
}

}  // namespace gbplat
