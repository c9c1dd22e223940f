#include "PlaybackClock.h"

#include <algorithm>
#include <cmath>

namespace gbplat {

PlaybackClock::PlaybackClock(int64_t spanStart, int64_t spanEnd, double speedup)
    : start_(spanStart),
      end_(std::max(spanStart, spanEnd)),
      speedup_(speedup > 0 ? speedup : 1.0),
      anchorPos_(double(spanStart)) {}

double PlaybackClock::position(int64_t nowMs) const {
    double pos = anchorPos_;
    if (playing_ && nowMs > anchorMs_)
        pos += double(nowMs - anchorMs_) / 1000.0 * scale_ * speedup_;
    return std::min(pos, double(end_));
}

void PlaybackClock::settle(int64_t nowMs) {
    anchorPos_ = position(nowMs);
    anchorMs_ = nowMs;
}

void PlaybackClock::play(int64_t nowMs) {
    settle(nowMs);
    playing_ = true;
}

void PlaybackClock::pause(int64_t nowMs) {
    settle(nowMs);
    playing_ = false;
}

bool PlaybackClock::setScale(int64_t nowMs, double scale) {
    if (!(scale > 0) || !std::isfinite(scale))
        return false;
    settle(nowMs);
    scale_ = scale;
    return true;
}

void PlaybackClock::seek(int64_t nowMs, double offsetSeconds) {
    settle(nowMs);
    if (!std::isfinite(offsetSeconds))
        return;
    anchorPos_ = std::clamp(double(start_) + offsetSeconds, double(start_), double(end_));
}

int64_t PlaybackClock::msUntil(int64_t nowMs, double pos) const {
    if (!playing_)
        return -1;
    double remaining = pos - position(nowMs);
    if (remaining <= 0)
        return 0;
    return int64_t(std::ceil(remaining * 1000.0 / rate()));
}

}  // namespace gbplat
