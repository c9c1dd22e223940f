#include "FramePacer.h"

#include <algorithm>
#include <cmath>

namespace gbplat {

namespace {
constexpr int64_t kMinIntervalMs = int64_t(1000 / FramePacer::kMaxFramesPerSecond);
}

FramePacer::FramePacer(uint32_t frameTicks, int64_t spanSeconds)
    : clock_(0, std::max<int64_t>(0, spanSeconds)),
      frameTicks_(std::max<uint32_t>(1, frameTicks)),
      lastFrame_(
          int64_t(std::ceil(double(std::max<int64_t>(0, spanSeconds)) * 90000.0 / frameTicks_)) -
          1) {}

int64_t FramePacer::frameAt(double position) const {
    return std::min(lastFrame_, int64_t(std::floor(position / frameSeconds() + 1e-6)));
}

void FramePacer::steer(int64_t nowMs, const StreamClock& c) {
    clock_.seek(nowMs, c.offset);
    clock_.setScale(nowMs, c.rate);
    if (c.playing)
        clock_.play(nowMs);
    else
        clock_.pause(nowMs);
    if (c.seeks != seeks_) {
        seeks_ = c.seeks;
        next_ = std::llround(clock_.position(nowMs) / frameSeconds());
        keyframe_ = true;
        ++generation_;
    }
}

FramePacer::Step FramePacer::next(int64_t nowMs) {
    Step step;
    if (!clock_.playing() || next_ > lastFrame_)
        return step;
    int64_t wait = clock_.msUntil(nowMs, double(next_) * frameSeconds());
    if (anySent_)
        wait = std::max(wait, lastSentMs_ + kMinIntervalMs - nowMs);
    if (wait > 0) {
        step.waitMs = wait;
        return step;
    }
    double position = clock_.position(nowMs);
    int64_t current = frameAt(position);
    if (current > next_) {
        double lagSeconds = (position - double(next_) * frameSeconds()) / clock_.rate();
        bool fast = clock_.rate() / frameSeconds() > kMaxFramesPerSecond;
        if (fast || lagSeconds > kMaxLagSeconds) {
            if (!fast)
                skippedLate_ += uint64_t(current - next_);
            next_ = current;
        }
    }
    step.send = true;
    step.waitMs = 0;
    step.index = next_;
    step.keyframe = keyframe_;
    step.generation = generation_;
    return step;
}

void FramePacer::sent(int64_t nowMs, const Step& step) {
    if (step.generation != generation_)
        return;
    next_ = step.index + 1;
    keyframe_ = false;
    lastSentMs_ = nowMs;
    anySent_ = true;
}

void FramePacer::dropped(const Step& step) {
    if (step.generation == generation_)
        keyframe_ = true;
}

}  // namespace gbplat
