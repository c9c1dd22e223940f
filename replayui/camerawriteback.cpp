#include "camerawriteback.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QVector>
#include <algorithm>

namespace {

// Monitors in one ModifyMonitor call: each costs the host two statements.
constexpr int kMonitorBatch = 16;

bool sameRow(const CameraRow& a, const CameraRow& b) {
    using selection::fieldBytes;
    return a.F6003_LINE == b.F6003_LINE && a.F6003_STATION == b.F6003_STATION &&
           a.F6001_ZONE1NO == b.F6001_ZONE1NO && a.F6002_ZONE2NO == b.F6002_ZONE2NO &&
           a.F6003_DEVTYPE == b.F6003_DEVTYPE && a.F6003_STATUS == b.F6003_STATUS &&
           fieldBytes(a.F6003_IP) == fieldBytes(b.F6003_IP) &&
           fieldBytes(a.F6003_CAMERANAME) == fieldBytes(b.F6003_CAMERANAME) &&
           fieldBytes(a.F6003_CAMERAGB) == fieldBytes(b.F6003_CAMERAGB);
}

QString codeOf(const CameraRow& row) {
    return QString::fromLatin1(selection::fieldBytes(row.F6003_CAMERAGB));
}

}  // namespace

CameraWriteBack::CameraWriteBack(Host host, int sliceMs, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_sliceMs(sliceMs), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CameraWriteBack::writeSlice);
}

void CameraWriteBack::setStored(const selection::CameraMap& rows) {
    m_storedCameras.clear();
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        m_storedCameras.insert(it.key(), it.value());
    }
}

void CameraWriteBack::forgetStored() {
    m_storedCameras.clear();
    m_storedMonitors.clear();
}

void CameraWriteBack::queueCamera(const CameraRow& row, bool known) {
    const QString code = codeOf(row);
    auto waiting = m_cameras.find(code);
    if (waiting != m_cameras.end()) {
        // Added once, whatever the map says by now.
        waiting->known = waiting->known && known;
        waiting->row = row;
        ++m_stats.coalesced;
        return;
    }
    const auto stored = m_storedCameras.constFind(code);
    if (stored != m_storedCameras.cend() && sameRow(*stored, row)) {
        ++m_stats.skipped;
        return;
    }
    m_cameras.insert(code, Pending{row, known});
    m_order.push_back(code);
    schedule();
}

void CameraWriteBack::queueMonitor(const MonitorRow& row) {
    const QString decoder = QString::fromLatin1(selection::fieldBytes(row.F6004_DECODER));
    if (m_monitors.contains(decoder)) {
        ++m_stats.coalesced;
    } else if (monitorStored(decoder, row)) {
        ++m_stats.skipped;
        return;
    }
    m_monitors.insert(decoder, row);
    schedule();
}

bool CameraWriteBack::monitorStored(const QString& decoder, const MonitorRow& row) const {
    const auto stored = m_storedMonitors.constFind(decoder);
    return stored != m_storedMonitors.cend() &&
           *stored == QString::fromLatin1(selection::fieldBytes(row.F6004_MONITOR));
}

void CameraWriteBack::flush() {
    while (writeOne()) {
    }
}

int CameraWriteBack::drop() {
    const int n = pending();
    m_order.clear();
    m_cameras.clear();
    m_monitors.clear();
    m_timer->stop();
    return n;
}

void CameraWriteBack::schedule() {
    if (!m_timer->isActive()) {
        m_timer->start(0);
    }
}

// One slice: rows are written until the slice's time is used up; the rest waits its turn
// behind whatever the event loop has meanwhile.
void CameraWriteBack::writeSlice() {
    if (m_writing) {
        return;  // a host call runs a nested event loop: the outer slice goes on afterwards
    }
    m_writing = true;
    ++m_stats.slices;
    QElapsedTimer slice;
    slice.start();
    while (slice.elapsed() < m_sliceMs && writeOne()) {
    }
    m_writing = false;
    if (pending() > 0 && m_host.accepting()) {
        schedule();
    }
}

// Cameras first, in the order they came; then the monitors.
bool CameraWriteBack::writeOne() {
    if (!m_host.accepting()) {
        return false;
    }
    if (!m_order.empty()) {
        writeCamera();
        return true;
    }
    if (!m_monitors.isEmpty()) {
        writeMonitors();
        return true;
    }
    return false;
}

void CameraWriteBack::writeCamera() {
    const QString code = m_order.front();
    m_order.pop_front();
    const Pending p = m_cameras.take(code);
    const auto stored = m_storedCameras.constFind(code);
    if (stored != m_storedCameras.cend() && sameRow(*stored, p.row)) {
        ++m_stats.skipped;  // changed and changed back while it waited
        return;
    }
    m_storedCameras.insert(code, p.row);
    ++m_stats.written;
    CameraRow forHost = p.row;  // the host may write into the record
    const auto& call = p.known ? m_host.modifyCamera : m_host.addCamera;
    if (call) {
        call(&forHost);
    }
}

void CameraWriteBack::writeMonitors() {
    QVector<MonitorRow> rows;
    while (!m_monitors.isEmpty() && rows.size() < kMonitorBatch) {
        const auto first = m_monitors.begin();
        const QString decoder = first.key();
        const MonitorRow row = first.value();
        m_monitors.erase(first);
        if (monitorStored(decoder, row)) {
            ++m_stats.skipped;
            continue;
        }
        m_storedMonitors.insert(decoder,
                                QString::fromLatin1(selection::fieldBytes(row.F6004_MONITOR)));
        rows.push_back(row);
    }
    if (rows.isEmpty()) {
        return;
    }
    // In the order of the monitors' codes, as the host has always had them.
    std::sort(rows.begin(), rows.end(), [](const MonitorRow& a, const MonitorRow& b) {
        return selection::fieldBytes(a.F6004_MONITOR) < selection::fieldBytes(b.F6004_MONITOR);
    });
    ++m_stats.written;
    MonitorList list{static_cast<int32_t>(rows.size()), rows.data()};
    if (m_host.modifyMonitors) {
        m_host.modifyMonitors(&list);
    }
}
