// Position of one playback in recorded time. Real time comes in as an argument so the clock is
// pure: the platform passes its monotonic milliseconds, tests pass whatever they like.
#pragma once

#include <cstdint>

namespace gbplat {

class PlaybackClock {
public:
    // span in seconds since 1970; speedup multiplies every scale (demo and test runs).
    PlaybackClock(int64_t spanStart, int64_t spanEnd, double speedup = 1.0);

    void play(int64_t nowMs);
    void pause(int64_t nowMs);
    // A positive scale; 1 is real time. Keeps the running/paused state.
    bool setScale(int64_t nowMs, double scale);
    // Offset in seconds from the start of the span, clamped to the span.
    void seek(int64_t nowMs, double offsetSeconds);

    // Recorded time in seconds since 1970 (fractional), never beyond the span end.
    double position(int64_t nowMs) const;
    double offset(int64_t nowMs) const { return position(nowMs) - double(start_); }
    bool playing() const { return playing_; }
    double scale() const { return scale_; }
    // Recorded seconds per real second: the scale times the speedup.
    double rate() const { return scale_ * speedup_; }
    bool atEnd(int64_t nowMs) const { return position(nowMs) >= double(end_); }
    // Real milliseconds until the end of the span is reached; -1 while paused.
    int64_t msUntilEnd(int64_t nowMs) const { return msUntil(nowMs, double(end_)); }
    // Real milliseconds until the position reaches `pos` (0 when it has); -1 while paused.
    int64_t msUntil(int64_t nowMs, double pos) const;
    int64_t spanStart() const { return start_; }
    int64_t spanEnd() const { return end_; }

private:
    void settle(int64_t nowMs);  // folds the time played so far into the anchor

    int64_t start_;
    int64_t end_;
    double speedup_;
    double scale_ = 1.0;
    bool playing_ = false;
    double anchorPos_;      // position at anchorMs_
    int64_t anchorMs_ = 0;  // real time of the last change
};

}  // namespace gbplat
