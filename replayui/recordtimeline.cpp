#include "recordtimeline.h"

#include <algorithm>

namespace recordquery {

namespace {

// The recordings cut to the span, ordered, with overlapping and touching ones merged.
std::vector<Segment> mergedWithin(int64_t spanStart, int64_t spanEnd,
                                  std::vector<Segment> recordings) {
    std::sort(recordings.begin(), recordings.end(),
              [](const Segment& a, const Segment& b) { return a.start < b.start; });
    std::vector<Segment> merged;
    for (Segment s : recordings) {
        s.start = std::max(s.start, spanStart);
        s.end = std::min(s.end, spanEnd);
        if (s.end <= s.start)
            continue;
        if (!merged.empty() && s.start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, s.end);
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

}  // namespace

Timeline Timeline::of(int64_t spanStart, int64_t spanEnd, std::vector<Segment> recordings) {
    Timeline t;
    t.m_known = true;
    int64_t at = spanStart;
    for (const Segment& s : mergedWithin(spanStart, spanEnd, std::move(recordings))) {
        if (s.start > at)
            t.m_pieces.push_back({at, s.start, false});
        t.m_pieces.push_back({s.start, s.end, true});
        at = s.end;
    }
    if (spanEnd > at)
        t.m_pieces.push_back({at, spanEnd, false});
    return t;
}

bool Timeline::nothingRecorded() const {
    return m_known && !firstRecordedInstant().has_value();
}

std::optional<int64_t> Timeline::firstRecordedInstant() const {
    for (const TimelinePiece& p : m_pieces) {
        if (p.recorded)
            return p.start;
    }
    return std::nullopt;
}

}  // namespace recordquery
