#pragma once
// The recording time a frame shows: span start, plus the offset of the last "Range: npt=N-" sent
// (0 before any), plus the PTS difference between the frame and the first frame of the new
// position, over 90,000. Pure: frames are stamped in the order they arrive.
#include <cstdint>

namespace media {

class RecordingClock {
public:
    struct Stamp {
        int64_t recordingMs = 0;  // milliseconds since 1970 (UTC)
        int64_t mediaUs = 0;      // media time since the first frame of this epoch
        uint32_t epoch = 0;       // changes whenever the mapping starts again
    };

    // A playback of the span that starts at `spanStartSeconds` (since 1970) is answered.
    void start(int64_t spanStartSeconds);
    // A seek to `offsetSeconds` from the span start went out. The next keyframe is the first
    // frame of the new position (frames still under way from the old one keep their times).
    void seekSent(int64_t offsetSeconds);
    // Stamps a frame as it arrives; `pts` is the 33-bit PES value, or -1 when it had none.
    Stamp stamp(int64_t pts, bool keyframe);

private:
    void rebase(int64_t recordingMs);

    int64_t m_spanStartMs = 0;
    int64_t m_offsetMs = 0;
    bool m_seekPending = false;
    // Just based on a seek: a time stamp jump now means the new position has only now arrived.
    bool m_settling = false;
    int m_framesSinceBase = 0;
    bool m_haveLast = false;
    int64_t m_lastPts = 0;
    int64_t m_ticks = 0;  // media time since the base frame, PTS wraps undone
    int64_t m_baseMs = 0;
    int64_t m_lastMs = 0;
    int64_t m_periodTicks = 0;
    uint32_t m_epoch = 0;
};

}  // namespace media
