#pragma once
// What the slider shows for the chosen span: the recorded pieces and the gaps between them, in
// order and clipped to the span, or nothing at all while no answer is known. Pure.
#include <cstdint>
#include <optional>
#include <vector>

#include "recordquery.h"

namespace recordquery {

struct TimelinePiece {
    int64_t start = 0, end = 0;  // seconds since the epoch, start < end
    bool recorded = false;       // else a gap
};

class Timeline {
public:
    // Unknown: the platform has not answered (or not in time). Not the same as empty.
    Timeline() = default;
    // The span [start, end] with the recordings found; overlapping and touching recordings
    // merge, and what lies outside the span is cut off.
    static Timeline of(int64_t spanStart, int64_t spanEnd, std::vector<Segment> recordings);

    bool known() const { return m_known; }
    // Recorded pieces and gaps, ordered, together covering the span; empty when unknown.
    const std::vector<TimelinePiece>& pieces() const { return m_pieces; }
    // Known, and not a second of the span is recorded.
    bool nothingRecorded() const;
    // Where a playback of the span begins: the span start when it is recorded, else the start of
    // the first recording in it. None when unknown or nothing is recorded.
    std::optional<int64_t> firstRecordedInstant() const;

private:
    bool m_known = false;
    std::vector<TimelinePiece> m_pieces;
};

}  // namespace recordquery
