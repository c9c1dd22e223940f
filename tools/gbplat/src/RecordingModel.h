// Which recorded time the platform holds: every camera records continuously for the last
// `days` days up to now, except a daily maintenance gap (local time) when nothing is recorded.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace gbplat {

struct TimeSpan {
    int64_t start = 0;  // seconds since 1970
    int64_t end = 0;
    bool operator==(const TimeSpan& o) const { return start == o.start && end == o.end; }
};

struct RecordingPolicy {
    int days = 30;
    int gapStartMinute = 3 * 60;  // minutes after local midnight
    int gapEndMinute = 3 * 60 + 10;
    bool gap = true;
    int64_t utcOffsetSeconds = 0;  // local time minus UTC
};

class RecordingModel {
public:
    explicit RecordingModel(RecordingPolicy policy) : policy_(policy) {}

    // Recorded segments, oldest first, as they stand at `now`.
    std::vector<TimeSpan> segments(int64_t now) const;
    // The requested span cut down to the first recorded segment it overlaps; nothing when the
    // span is empty or covers no recording.
    std::optional<TimeSpan> clip(TimeSpan requested, int64_t now) const;
    // Every recorded segment the span overlaps, cut to the span, oldest first.
    std::vector<TimeSpan> within(TimeSpan requested, int64_t now) const;

private:
    RecordingPolicy policy_;
};

}  // namespace gbplat
