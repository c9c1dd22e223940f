#pragma once
// When each decoded frame goes on screen: by its media time at the current scale, through a
// small buffer. A frame already later than one frame period is dropped, not queued; a frame due
// further ahead than the buffer allows pulls the schedule forward. Pure: the caller passes the
// time (microseconds of any steady clock) and keeps the frames' pixels in `Frame`.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace media {

template <class Frame>
class PresentationScheduler {
public:
    struct Limits {
        int64_t maxAheadUs = 300000;  // the buffer: no frame waits longer than this
        size_t maxFrames = 8;         // and no more frames than this wait
        int64_t defaultPeriodUs = 40000;
    };
    struct Stats {
        uint64_t shown = 0;
        uint64_t late = 0;      // dropped: later than a frame period, or passed over
        uint64_t overflow = 0;  // dropped: the buffer was full
        uint64_t flushed = 0;   // dropped: of an epoch that ended
    };

    PresentationScheduler() : PresentationScheduler(Limits()) {}
    explicit PresentationScheduler(Limits limits)
        : m_limits(limits), m_periodUs(limits.defaultPeriodUs) {}

    // A decoded frame, in presentation order, with its media time in its epoch. False when it
    // is dropped at once.
    bool push(Frame frame, int64_t mediaUs, uint32_t epoch, int64_t nowUs) {
        if (!m_anchored || epoch != m_epoch) {
            if (epoch != m_epoch) {
                // A seek or a break in the stream's clock: what waits belongs to the old run.
                m_stats.flushed += m_queue.size();
                m_queue.clear();
            }
            anchor(nowUs, mediaUs, epoch);
        } else {
            notePeriod(mediaUs - m_lastMediaUs);
        }
        m_lastMediaUs = mediaUs;
        if (!m_paused && !keepInStep(mediaUs, nowUs))
            return false;
        if (m_queue.size() >= m_limits.maxFrames) {
            m_queue.pop_front();
            ++m_stats.overflow;
        }
        m_queue.push_back(Entry{std::move(frame), mediaUs});
        return true;
    }

    // The frame to show at `nowUs`: the newest one due. Older due frames are passed over.
    bool take(int64_t nowUs, Frame& out) {
        if (m_paused || m_queue.empty() || dueUs(m_queue.front().mediaUs) > nowUs)
            return false;
        while (m_queue.size() > 1 && dueUs(m_queue[1].mediaUs) <= nowUs) {
            m_queue.pop_front();
            ++m_stats.late;
        }
        out = std::move(m_queue.front().frame);
        m_queue.pop_front();
        ++m_stats.shown;
        return true;
    }

    // When the next frame falls due; -1 when none waits or while paused.
    int64_t nextDueUs() const {
        return m_paused || m_queue.empty() ? -1 : dueUs(m_queue.front().mediaUs);
    }

    // The frames waiting keep their order; the schedule starts again from the first of them.
    void setScale(double scale, int64_t nowUs) {
        if (scale <= 0 || scale == m_scale)
            return;
        m_scale = scale;
        reanchor(nowUs);
    }
    void setPaused(bool paused, int64_t nowUs) {
        if (paused == m_paused)
            return;
        m_paused = paused;
        if (!paused)
            reanchor(nowUs);
    }
    bool paused() const { return m_paused; }
    double scale() const { return m_scale; }
    size_t queued() const { return m_queue.size(); }
    void clear() {
        m_queue.clear();
        m_anchored = false;
    }
    const Stats& stats() const { return m_stats; }

private:
    struct Entry {
        Frame frame;
        int64_t mediaUs;
    };

    int64_t dueUs(int64_t mediaUs) const {
        return m_anchorUs + int64_t(double(mediaUs - m_anchorMediaUs) / m_scale);
    }
    int64_t periodWallUs() const { return int64_t(double(m_periodUs) / m_scale); }

    void anchor(int64_t nowUs, int64_t mediaUs, uint32_t epoch) {
        m_anchored = true;
        m_anchorUs = nowUs;
        m_anchorMediaUs = mediaUs;
        m_epoch = epoch;
        m_lateStreak = 0;
    }
    void reanchor(int64_t nowUs) {
        if (m_queue.empty())
            m_anchored = false;
        else
            anchor(nowUs, m_queue.front().mediaUs, m_epoch);
    }

    // Late frames are dropped; when the next one is late too the stream runs behind the
    // schedule, which then starts again from it. Frames due beyond the buffer pull the
    // schedule forward.
    bool keepInStep(int64_t mediaUs, int64_t nowUs) {
        const int64_t lateness = nowUs - dueUs(mediaUs);
        if (lateness > periodWallUs()) {
            if (++m_lateStreak < 2) {
                ++m_stats.late;
                return false;
            }
            anchor(nowUs, mediaUs, m_epoch);
        } else {
            m_lateStreak = 0;
        }
        const int64_t ahead = dueUs(mediaUs) - nowUs;
        if (ahead > m_limits.maxAheadUs)
            m_anchorUs -= ahead - m_limits.maxAheadUs;
        return true;
    }

    void notePeriod(int64_t stepUs) {
        if (stepUs > 0 && stepUs <= 200000)
            m_periodUs = stepUs;
    }

    Limits m_limits;
    Stats m_stats;
    std::deque<Entry> m_queue;
    bool m_anchored = false;
    int64_t m_anchorUs = 0;
    int64_t m_anchorMediaUs = 0;
    uint32_t m_epoch = 0;
    int64_t m_lastMediaUs = 0;
    int64_t m_periodUs;
    int m_lateStreak = 0;
    double m_scale = 1.0;
    bool m_paused = false;
};

}  // namespace media
