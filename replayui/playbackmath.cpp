#include "playbackmath.h"

#include <QDateTime>

namespace playback {

int64_t toEpoch(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::LocalTime).toSecsSinceEpoch();
}

}  // namespace playback
