#pragma once
// The camera and monitor rows the console writes back to the host's store. The host's calls are
// synchronous database statements on the GUI thread, so the rows wait in a queue and are written
// a slice of time at a time, the event loop turning between slices. The latest row of a camera
// wins; a row the store already holds (as read from it or last written to it) is not written
// again. Nothing queued is dropped except when the host says it wants no more calls.
#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

#include "cameraselection.h"

class QTimer;

class CameraWriteBack : public QObject {
public:
    struct Host {
        std::function<void(CameraRow*)> addCamera;         // AddCameraInfo
        std::function<void(CameraRow*)> modifyCamera;      // ModifyCameraInfo
        std::function<void(MonitorList*)> modifyMonitors;  // ModifyMonitor
        std::function<bool()> accepting;                   // false: no more calls wanted
    };
    struct Stats {
        quint64 written = 0;    // host calls made (one per camera, one per monitor batch)
        quint64 skipped = 0;    // rows the store held already
        quint64 coalesced = 0;  // rows replaced by a later one before they were written
        quint64 slices = 0;
    };

    CameraWriteBack(Host host, int sliceMs, QObject* parent = nullptr);

    // What the store holds, as read from it; replaces what was known.
    void setStored(const selection::CameraMap& rows);
    // The store may no longer hold what was written (the database was down, rows were deleted
    // behind our back): the next row of every camera and monitor is written whatever it holds.
    void forgetStored();
    // known: the store has the camera, so it is modified rather than added.
    void queueCamera(const CameraRow& row, bool known);
    void queueMonitor(const MonitorRow& row);

    int pending() const { return m_cameras.size() + m_monitors.size(); }
    const Stats& stats() const { return m_stats; }
    // Writes everything queued, now (the form closes).
    void flush();
    // Forgets everything queued; returns how many rows that was.
    int drop();

private:
    struct Pending {
        CameraRow row;
        bool known;
    };
    void schedule();
    void writeSlice();
    bool writeOne();
    void writeCamera();
    void writeMonitors();
    bool monitorStored(const QString& decoder, const MonitorRow& row) const;

    Host m_host;
    int m_sliceMs;
    QTimer* m_timer;
    bool m_writing = false;
    std::deque<QString> m_order;                // cameras waiting, first queued first
    QHash<QString, Pending> m_cameras;          // code -> latest row
    QMap<QString, MonitorRow> m_monitors;       // decoder code -> latest row
    QHash<QString, CameraRow> m_storedCameras;  // code -> row the store holds
    QHash<QString, QString> m_storedMonitors;   // decoder code -> monitor code written
    Stats m_stats;
};
