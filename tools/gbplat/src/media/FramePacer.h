// Which recorded frame goes out next and when. Frames sit on a grid of frameTicks (90 kHz) from
// the span start, and each leaves when the playback clock reaches it, so PAUSE, PLAY, Scale and
// Range show in the stream as they do on the clock. Pure: real time comes in as an argument.
#pragma once

#include "MediaControl.h"
#include "PlaybackClock.h"

#include <cstdint>

namespace gbplat {

class FramePacer {
public:
    // Above this many frames per real second (scale × speedup × frame rate) the frames skip
    // ahead to the clock instead of all being sent.
    static constexpr double kMaxFramesPerSecond = 60;
    // A stream this far (real seconds) behind its clock skips ahead instead of catching up.
    static constexpr double kMaxLagSeconds = 0.25;

    FramePacer(uint32_t frameTicks, int64_t spanSeconds);

    // Takes the platform's clock as it stands now; a new Range jumps to the frame at the new
    // position, which will be a keyframe.
    void steer(int64_t nowMs, const StreamClock& clock);

    struct Step {
        bool send = false;
        int64_t waitMs = -1;  // when not sending: how long to wait (-1: until steered)
        int64_t index = 0;    // frame number from the span start
        bool keyframe = false;
        uint32_t generation = 0;
    };
    Step next(int64_t nowMs);
    // The frame of `step` has gone out. A step from before the last jump changes nothing.
    void sent(int64_t nowMs, const Step& step);
    // The frame of `step` was made but not sent (a PAUSE came meanwhile): the decoder misses it,
    // so the next frame is a keyframe.
    void dropped(const Step& step);

    bool playing() const { return clock_.playing(); }

    uint32_t generation() const { return generation_; }
    uint32_t frameTicks() const { return frameTicks_; }
    double frameSeconds() const { return frameTicks_ / 90000.0; }
    uint64_t framesSkippedLate() const { return skippedLate_; }

private:
    int64_t frameAt(double position) const;

    PlaybackClock clock_;
    uint32_t frameTicks_;
    int64_t lastFrame_;
    int64_t next_ = 0;
    bool keyframe_ = true;
    uint32_t seeks_ = 0;
    uint32_t generation_ = 0;
    int64_t lastSentMs_ = 0;
    bool anySent_ = false;
    uint64_t skippedLate_ = 0;
};

}  // namespace gbplat
