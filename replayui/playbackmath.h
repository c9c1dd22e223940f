#pragma once
// Arithmetic of the playback controls.
#include <QDate>
#include <QTime>
#include <cstdint>

namespace playback {

// Seconds from the start of the recording for a slider position 0..99 (single precision,
// truncated): 50 of 3600 s is 1800, 99 is 3564, so the very end is never reached.
inline int seekOffset(int32_t duration, int value) {
    return static_cast<int>(static_cast<float>(duration) * (static_cast<float>(value) / 100.0f));
}

// Local date and time as seconds since 1970 (UTC).
int32_t toEpoch(const QDate& date, const QTime& time);

}  // namespace playback
