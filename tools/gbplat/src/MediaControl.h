// The platform's side of a playback's video: where it goes and how the playback clock runs.
// A media engine does the sending on threads of its own; the calls come from the SIP loop and
// return at once.
#pragma once

#include "EventLog.h"
#include "RecordingModel.h"

#include <cstdint>
#include <string>

namespace gbplat {

struct StreamClock {
    double offset = 0;  // seconds from the span start
    bool playing = false;
    double rate = 1;     // recorded seconds per real second
    uint32_t seeks = 0;  // rises with every jump of a Range
};

struct StreamOrder {
    uint64_t id = 0;
    std::string cameraCode;
    std::string cameraName;  // UTF-8
    TimeSpan span;
    Endpoint dest;  // the offer's c= and m=video: nowhere else
    uint8_t payloadType = 96;
    uint32_t ssrc = 0;
};

class MediaControl {
public:
    virtual ~MediaControl() = default;
    virtual void startStream(const StreamOrder& order, const StreamClock& clock) = 0;
    virtual void steerStream(uint64_t id, const StreamClock& clock) = 0;
    virtual void stopStream(uint64_t id) = 0;
};

}  // namespace gbplat
