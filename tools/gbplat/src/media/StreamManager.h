// The platform's video: one thread per playback that makes each frame when the playback clock
// reaches it, packs it into the program stream and sends it as RTP to the offer's address.
// Steering from the SIP loop only hands the clock over; it never waits for an encoder.
#pragma once

#include "EventLog.h"
#include "MediaControl.h"
#include "Scene.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gbplat {

struct MediaConfig {
    int width = 960;
    int height = 540;
    std::string mediaFile;  // empty: the synthetic recording of each camera
    std::string fontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";
    int64_t utcOffsetSeconds = 0;  // for the date and time in the picture
};

// Sends one datagram; called from the stream threads at once, so it must be thread-safe
// (sendto on one UDP socket is).
using DatagramSender = std::function<void(const Endpoint&, const uint8_t*, size_t)>;

struct MediaTotals {
    uint64_t streams = 0;
    uint64_t frames = 0;
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t framesSkippedLate = 0;  // skipped because a stream fell behind its clock
    uint64_t failures = 0;           // streams ended because no frame could be made
};

class StreamManager : public MediaControl {
public:
    StreamManager(MediaConfig config, DatagramSender send, EventLog& log);
    // Stops every stream and waits for its thread.
    ~StreamManager() override;
    void stopAll();

    void startStream(const StreamOrder& order, const StreamClock& clock) override;
    void steerStream(uint64_t id, const StreamClock& clock) override;
    void stopStream(uint64_t id) override;

    size_t activeStreams() const;
    MediaTotals totals() const;

    class Stream;
    struct Counters {
        std::atomic<uint64_t> streams{0}, frames{0}, packets{0}, bytes{0}, skipped{0}, failures{0};
    };

private:
    void reapFinished();

    MediaConfig config_;
    DatagramSender send_;
    EventLog& log_;
    std::shared_ptr<TextFont> font_;
    Counters counters_;
    mutable std::mutex mutex_;
    std::map<uint64_t, std::unique_ptr<Stream>> streams_;
    std::vector<std::unique_ptr<Stream>> stopping_;
};

}  // namespace gbplat
