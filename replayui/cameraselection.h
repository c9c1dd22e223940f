#pragma once
// The cascading selection lists (train, car, camera) and the records written back to the host,
// kept apart from the widgets so that the rules can be checked on their own.
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVector>
#include <cstddef>

#include "cctv_records.h"

class QTextCodec;

namespace selection {

// Station number 99 marks on-train cameras; for them zone 1 is the train and zone 2 the car.
constexpr int kTrainStation = 99;

struct ComboEntry {
    QString text;
    QVariant data;
};

struct CameraEntry {   // one item of the camera list
    QByteArray code;   // F6003_CAMERAGB as held in the row
    QByteArray name;   // kept to 39 bytes, cut at a character boundary
    QByteArray label;  // the whole F6003_CAMERANAME: what the list shows
};

using CameraMap = QMap<QString, CameraRow>;  // code -> row, ascending by code

// Copies src into a fixed field, cut to fit at a character boundary and always NUL-terminated.
void copyField(char* dst, size_t capacity, const QByteArray& src);
template <size_t N>
void copyField(char (&dst)[N], const QByteArray& src) {
    copyField(dst, N, src);
}
// The bytes of a fixed text field up to its first NUL or its end, whichever comes first.
QByteArray fieldBytes(const char* field, size_t capacity);
template <size_t N>
QByteArray fieldBytes(const char (&field)[N]) {
    return fieldBytes(field, N);
}

// Train numbers: the zone-1 rows of type 99, in order.
QVector<ComboEntry> trainEntries(const ZoneInfo& zones, QTextCodec* codec);

// Car list for a station row and train number: "全部" (data 0) first, then the zone-2 rows of the
// station's type (only those of train t unless the type is 99).
QVector<ComboEntry> carEntries(const StationRow* station, int train, const ZoneInfo& zones,
                               QTextCodec* codec);

// The cameras of a station, train and car (car 0 means every car), ascending by code.
QVector<CameraEntry> matchingCameras(const CameraMap& cameras, const StationRow* station, int train,
                                     int car);

// One row per monitor, ascending by parent (monitor) code; texts in the local 8-bit encoding.
QVector<MonitorRow> monitorRows(const QMap<QString, QString>& monitorMap, QTextCodec* codec);

}  // namespace selection
