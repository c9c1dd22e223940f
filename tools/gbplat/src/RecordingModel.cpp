#include "RecordingModel.h"

#include <algorithm>

namespace gbplat {

namespace {
constexpr int64_t kDay = 86400;

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
}  // namespace

std::vector<TimeSpan> RecordingModel::segments(int64_t now) const {
    int64_t from = now - int64_t(policy_.days) * kDay;
    std::vector<TimeSpan> out;
    if (!policy_.gap || policy_.gapEndMinute <= policy_.gapStartMinute) {
        out.push_back({from, now});
        return out;
    }
    // Local midnights from the day before `from` to the day of `now` bound the gaps.
    int64_t off = policy_.utcOffsetSeconds;
    int64_t firstDay = floorDiv(from + off, kDay) - 1;
    int64_t lastDay = floorDiv(now + off, kDay);
    int64_t cursor = from;
    for (int64_t day = firstDay; day <= lastDay && cursor < now; ++day) {
        int64_t gapStart = day * kDay - off + policy_.gapStartMinute * 60;
        int64_t gapEnd = day * kDay - off + policy_.gapEndMinute * 60;
        if (gapEnd <= cursor)
            continue;
        int64_t segEnd = std::min(gapStart, now);
        if (segEnd > cursor)
            out.push_back({cursor, segEnd});
        cursor = std::max(cursor, gapEnd);
    }
    if (cursor < now)
        out.push_back({cursor, now});
    return out;
}

std::optional<TimeSpan> RecordingModel::clip(TimeSpan requested, int64_t now) const {
    auto found = within(requested, now);
    return found.empty() ? std::nullopt : std::optional<TimeSpan>(found.front());
}

std::vector<TimeSpan> RecordingModel::within(TimeSpan requested, int64_t now) const {
    std::vector<TimeSpan> out;
    if (requested.start >= requested.end)
        return out;
    for (const auto& seg : segments(now)) {
        TimeSpan cut{std::max(seg.start, requested.start), std::min(seg.end, requested.end)};
        if (cut.start < cut.end)
            out.push_back(cut);
    }
    return out;
}

}  // namespace gbplat
