// The recording time shown for each frame, and when each frame goes on screen.
#include <gtest/gtest.h>

#include "presentationscheduler.h"
#include "recordingclock.h"

namespace {

constexpr int64_t kStart = 1700000000;  // span start, seconds since 1970
constexpr int64_t kStartMs = kStart * 1000;
constexpr int64_t kWrap = int64_t(1) << 33;

// One step: a frame (pts, keyframe) whose stamp must read `ms`, or a seek sent (seek >= 0).
struct Step {
    int64_t pts;
    bool key;
    int64_t ms;
    int64_t seek = -1;
};

Step seek(int64_t seconds) {
    return {0, false, 0, seconds};
}

struct ClockRow {
    const char* name;
    std::vector<Step> steps;
};

TEST(RecordingClock, TimesAcrossWrapsSeeksAndRestarts) {
    const std::vector<ClockRow> rows = {
        {"from the span start",
         {{5000, true, kStartMs},
          {8600, false, kStartMs + 40},
          {5000 + 90000, false, kStartMs + 1000}}},
        {"PTS wraps at 33 bits",
         {{kWrap - 3600, true, kStartMs}, {0, false, kStartMs + 40}, {3600, false, kStartMs + 80}}},
        {"a seek: the next keyframe shows start + offset, restarted PTS or not",
         {{900000, true, kStartMs},
          {903600, false, kStartMs + 40},
          seek(1800),
          {907200, false, kStartMs + 80},  // still of the old position
          {0, true, kStartMs + 1800000},
          {3600, false, kStartMs + 1800040},
          seek(600),
          {7200000, true, kStartMs + 600000},
          {7203600, false, kStartMs + 600040}}},
        {"a keyframe of the old position first, then the new one",
         {{900000, true, kStartMs},
          seek(1800),
          {903600, true, kStartMs + 1800000},
          {50, true, kStartMs + 1800000},
          {3650, false, kStartMs + 1800040}}},
        {"the stream restarts its clock without a seek: time carries on",
         {{900000, true, kStartMs},
          {903600, false, kStartMs + 40},
          {0, true, kStartMs + 80},
          {3600, false, kStartMs + 120}}},
        {"frames without PTS are a frame period on",
         {{0, true, kStartMs}, {1800, false, kStartMs + 20}, {-1, false, kStartMs + 40}}},
        {"B-frames arrive before earlier times",
         {{7200, true, kStartMs}, {3600, false, kStartMs - 40}, {14400, false, kStartMs + 80}}},
    };
    for (const ClockRow& row : rows) {
        SCOPED_TRACE(row.name);
        media::RecordingClock clock;
        clock.start(kStart);
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const Step& s = row.steps[i];
            if (s.seek >= 0) {
                clock.seekSent(s.seek);
                continue;
            }
            EXPECT_EQ(clock.stamp(s.pts, s.key).recordingMs, s.ms) << "step " << i;
        }
    }
}

TEST(RecordingClock, EachNewMappingIsANewEpoch) {
    media::RecordingClock clock;
    clock.start(kStart);
    const auto a = clock.stamp(0, true);
    const auto b = clock.stamp(3600, false);
    clock.seekSent(10);
    const auto c = clock.stamp(0, true);
    EXPECT_EQ(a.epoch, b.epoch);
    EXPECT_EQ(b.mediaUs, 40000);
    EXPECT_NE(c.epoch, b.epoch);
    EXPECT_EQ(c.mediaUs, 0);
    clock.start(kStart);  // a new playback never reuses an epoch of the last one
    EXPECT_NE(clock.stamp(0, true).epoch, c.epoch);
}

using Scheduler = media::PresentationScheduler<int>;
constexpr int64_t kMs = 1000;

// Every frame 40 ms of media time after the previous one.
int64_t media(int frame) {
    return frame * 40 * kMs;
}

int takeAt(Scheduler& s, int64_t nowUs) {
    int frame = -1;
    return s.take(nowUs, frame) ? frame : -1;
}

TEST(PresentationScheduler, PacedByMediaTimeAndScale) {
    Scheduler s;
    for (int f = 0; f < 3; ++f)
        ASSERT_TRUE(s.push(f, media(f), 1, 0));
    EXPECT_EQ(takeAt(s, 0), 0);
    EXPECT_EQ(takeAt(s, 39 * kMs), -1);
    EXPECT_EQ(s.nextDueUs(), 40 * kMs);
    EXPECT_EQ(takeAt(s, 40 * kMs), 1);

    s.setScale(2.0, 50 * kMs);  // frame 2 is due now; later ones 20 ms apart
    ASSERT_TRUE(s.push(3, media(3), 1, 50 * kMs));
    EXPECT_EQ(takeAt(s, 50 * kMs), 2);
    EXPECT_EQ(takeAt(s, 69 * kMs), -1);
    EXPECT_EQ(takeAt(s, 70 * kMs), 3);
}

TEST(PresentationScheduler, LateFramesAreDroppedNotQueued) {
    Scheduler s;
    s.push(0, media(0), 1, 0);
    EXPECT_EQ(takeAt(s, 0), 0);
    EXPECT_FALSE(s.push(1, media(1), 1, 81 * kMs));  // due at 40, 41 ms late
    EXPECT_EQ(s.queued(), 0u);
    EXPECT_TRUE(s.push(2, media(2), 1, 110 * kMs));  // due at 80, 30 ms late: in time
    EXPECT_EQ(takeAt(s, 110 * kMs), 2);
    // Late again twice in a row: the stream runs behind, the schedule restarts from it.
    EXPECT_FALSE(s.push(3, media(3), 1, 200 * kMs));
    EXPECT_TRUE(s.push(4, media(4), 1, 250 * kMs));
    EXPECT_EQ(takeAt(s, 250 * kMs), 4);
    EXPECT_EQ(s.stats().late, 2u);
}

TEST(PresentationScheduler, BufferBoundedInTimeAndFrames) {
    Scheduler s;
    s.push(0, media(0), 1, 0);
    s.push(1, media(100), 1, 0);  // 4 s ahead of the first: pulled to the buffer's edge
    EXPECT_EQ(takeAt(s, 0), 0);
    EXPECT_LE(s.nextDueUs(), 300 * kMs);

    Scheduler full;
    full.setPaused(true, 0);
    for (int f = 0; f < 25; ++f)
        full.push(f, media(f), 1, 0);
    EXPECT_EQ(full.queued(), 8u);
    EXPECT_EQ(full.stats().overflow, 17u);
    full.setPaused(false, 0);
    EXPECT_EQ(takeAt(full, 0), 17);  // the oldest went first
}

TEST(PresentationScheduler, PauseHoldsAndResumeContinues) {
    Scheduler s;
    s.push(0, media(0), 1, 0);
    EXPECT_EQ(takeAt(s, 0), 0);
    s.push(1, media(1), 1, 10 * kMs);
    s.setPaused(true, 20 * kMs);
    EXPECT_EQ(takeAt(s, 5000 * kMs), -1);
    EXPECT_EQ(s.nextDueUs(), -1);
    s.setPaused(false, 6000 * kMs);
    EXPECT_EQ(takeAt(s, 6000 * kMs), 1);
    s.push(2, media(2), 1, 6010 * kMs);
    EXPECT_EQ(takeAt(s, 6039 * kMs), -1);
    EXPECT_EQ(takeAt(s, 6040 * kMs), 2);
}

TEST(PresentationScheduler, ANewEpochDropsWhatWaits) {
    Scheduler s;
    s.push(0, media(0), 1, 0);
    s.push(1, media(1), 1, 0);
    s.push(2, media(2), 1, 0);
    EXPECT_EQ(takeAt(s, 0), 0);
    s.push(7, 0, 2, 10 * kMs);  // the first frame after a seek
    EXPECT_EQ(s.queued(), 1u);
    EXPECT_EQ(takeAt(s, 10 * kMs), 7);
    EXPECT_EQ(s.stats().flushed, 2u);
}

}  // namespace
