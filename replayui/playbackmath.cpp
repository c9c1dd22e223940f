#include "playbackmath.h"

#include <QDateTime>

namespace playback {

int32_t toEpoch(const QDate& date, const QTime& time) {
    return static_cast<int32_t>(QDateTime(date, time, Qt::LocalTime).toSecsSinceEpoch());
}

}  // namespace playback
