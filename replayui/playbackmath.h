#pragma once
// Arithmetic of the playback controls.
#include <QDate>
#include <QTime>
#include <algorithm>
#include <climits>
#include <cstdint>

namespace playback {

// Seconds from the start of the recording for a slider position 0..99 (single precision,
// truncated): 50 of 3600 s is 1800, 99 is 3564, so the very end is never reached.
inline int seekOffset(int64_t duration, int value) {
    const float offset = static_cast<float>(duration) * (static_cast<float>(value) / 100.0f);
    return static_cast<int>(std::clamp(offset, 0.0f, static_cast<float>(INT_MAX / 2)));
}

// Local date and time as seconds since 1970 (UTC); 64 bits, so 2038 is nothing special.
int64_t toEpoch(const QDate& date, const QTime& time);

}  // namespace playback
