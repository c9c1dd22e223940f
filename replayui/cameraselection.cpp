#include "cameraselection.h"

#include <QTextCodec>
#include <algorithm>
#include <cstring>

#include "gbk_text.h"

namespace selection {

void copyField(char* dst, size_t capacity, const QByteArray& src) {
    if (capacity == 0) {
        return;
    }
    const size_t n = GbkFit(src.constData(), static_cast<size_t>(src.size()), capacity - 1);
    std::memcpy(dst, src.constData(), n);
    std::memset(dst + n, 0, capacity - n);
}

QByteArray fieldBytes(const char* field, size_t capacity) {
    const void* end = std::memchr(field, '\0', capacity);
    const size_t n = end != nullptr ? static_cast<const char*>(end) - field : capacity;
    return QByteArray(field, static_cast<int>(n));
}

QVector<ComboEntry> trainEntries(const ZoneInfo& zones, QTextCodec* codec) {
    QVector<ComboEntry> out;
    if (zones.zone1 == nullptr) {
        return out;
    }
    for (int i = 0; i < zones.zone1Count; ++i) {
        const Zone1Row& row = zones.zone1[i];
        if (row.F6000_TYPE == kTrainStation) {
            out.push_back({codec->toUnicode(fieldBytes(row.F6001_ZONE1NAME)), row.F6001_ZONE1NO});
        }
    }
    return out;
}

QVector<ComboEntry> carEntries(const StationRow* station, int train, const ZoneInfo& zones,
                               QTextCodec* codec) {
    QVector<ComboEntry> out;
    out.push_back({QStringLiteral("全部"), 0});
    if (station == nullptr || zones.zone2 == nullptr) {
        return out;
    }
    for (int i = 0; i < zones.zone2Count; ++i) {
        const Zone2Row& row = zones.zone2[i];
        if (row.F6000_TYPE != station->F6000_TYPE) {
            continue;
        }
        if (station->F6000_TYPE == kTrainStation || row.F6001_ZONE1NO == train) {
            out.push_back({codec->toUnicode(fieldBytes(row.F6002_ZONE2NAME)), row.F6002_ZONE2NO});
        }
    }
    return out;
}

static bool cameraMatches(const CameraRow& row, const StationRow& station, int train, int car) {
    if (row.F6001_ZONE1NO != train || (car != 0 && row.F6002_ZONE2NO != car)) {
        return false;
    }
    if (station.F6000_TYPE == kTrainStation) {
        return row.F6003_STATION == kTrainStation;
    }
    return row.F6003_STATION == station.F6000_NO;
}

QVector<CameraEntry> matchingCameras(const CameraMap& cameras, const StationRow* station, int train,
                                     int car) {
    QVector<CameraEntry> out;
    if (station == nullptr) {
        return out;
    }
    for (auto it = cameras.cbegin(); it != cameras.cend(); ++it) {
        const CameraRow& row = it.value();
        if (cameraMatches(row, *station, train, car)) {
            const QByteArray name = fieldBytes(row.F6003_CAMERANAME);
            const size_t kept = GbkFit(name.constData(), static_cast<size_t>(name.size()), 39);
            out.push_back(
                {fieldBytes(row.F6003_CAMERAGB), name.left(static_cast<int>(kept)), name});
        }
    }
    return out;
}

QVector<MonitorRow> monitorRows(const QMap<QString, QString>& monitorMap, QTextCodec* codec) {
    QVector<MonitorRow> rows;
    rows.reserve(monitorMap.size());
    for (auto it = monitorMap.cbegin(); it != monitorMap.cend(); ++it) {
        MonitorRow row{};
        copyField(row.F6004_MONITOR, codec->fromUnicode(it.key()));
        copyField(row.F6004_DECODER, codec->fromUnicode(it.value()));
        rows.push_back(row);
    }
    return rows;
}

}  // namespace selection
