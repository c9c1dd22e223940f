#include "recordingclock.h"

namespace media {

namespace {

constexpr int64_t kTicksPerMs = 90;
constexpr int64_t kPtsMask = (int64_t(1) << 33) - 1;
constexpr int64_t kHalfRange = int64_t(1) << 32;
// Consecutive frames further apart than this are a break in the stream's clock.
constexpr int64_t kMaxStepForward = 10 * 1000 * kTicksPerMs;
constexpr int64_t kMaxStepBack = 2 * 1000 * kTicksPerMs;
constexpr int64_t kMaxPeriod = 1000 * kTicksPerMs;
constexpr int64_t kDefaultPeriod = 40 * kTicksPerMs;
// Frames of the old position can reach us for a while after a seek.
constexpr int kSettleFrames = 50;

// Signed difference of two 33-bit time stamps, the shorter way round the wrap.
int64_t wrapDelta(int64_t from, int64_t to) {
    int64_t d = (to - from) & kPtsMask;
    return d >= kHalfRange ? d - (kPtsMask + 1) : d;
}

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

}  // namespace

void RecordingClock::start(int64_t spanStartSeconds) {
    const uint32_t epoch = m_epoch;
    *this = RecordingClock();
    m_epoch = epoch;  // epochs only ever move on, so no stamp of an earlier playback matches
    m_spanStartMs = spanStartSeconds * 1000;
    m_periodTicks = kDefaultPeriod;
}

void RecordingClock::seekSent(int64_t offsetSeconds) {
    m_offsetMs = offsetSeconds * 1000;
    m_seekPending = true;
}

RecordingClock::Stamp RecordingClock::stamp(int64_t pts, bool keyframe) {
    if (pts < 0)
        pts = m_haveLast ? m_lastPts + m_periodTicks : 0;
    pts &= kPtsMask;
    const int64_t target = m_spanStartMs + m_offsetMs;
    if (!m_haveLast || (m_seekPending && keyframe)) {
        rebase(target);
    } else {
        const int64_t step = wrapDelta(m_lastPts, pts);
        if (step > kMaxStepForward || step < -kMaxStepBack) {
            // A jump: either the new position arriving, or the stream restarting its clock,
            // which carries on from the last frame.
            const bool newPosition =
                m_seekPending || (m_settling && m_framesSinceBase < kSettleFrames);
            rebase(newPosition ? target : m_lastMs + m_periodTicks / kTicksPerMs);
        } else {
            m_ticks += step;
            if (step > 0 && step <= kMaxPeriod)
                m_periodTicks = step;
        }
    }
    ++m_framesSinceBase;
    m_haveLast = true;
    m_lastPts = pts;
    m_lastMs = m_baseMs + floorDiv(m_ticks, kTicksPerMs);
    Stamp out;
    out.recordingMs = m_lastMs;
    out.mediaUs = floorDiv(m_ticks * 100, 9);
    out.epoch = m_epoch;
    return out;
}

void RecordingClock::rebase(int64_t recordingMs) {
    m_settling = m_seekPending;
    m_seekPending = false;
    m_baseMs = recordingMs;
    m_ticks = 0;
    m_framesSinceBase = 0;
    ++m_epoch;
}

}  // namespace media
