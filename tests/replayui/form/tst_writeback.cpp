// What a catalogue item changes (the rules), and the queue that writes the rows back to the host
// a slice at a time.
#include <QElapsedTimer>
#include <QtTest>
#include <cstring>
#include <string>
#include <vector>

#include "camerawriteback.h"
#include "cataloguemerge.h"

namespace {

using Status = manscdp::ItemState::Status;

const char kKnown[] = "01509900101001000001";
const char kNew[] = "01509900101001000002";

CameraRow storedRow() {
    CameraRow row{};
    selection::copyField(row.F6003_CAMERAGB, QByteArray(kKnown));
    selection::copyField(row.F6003_CAMERANAME, QByteArray("stored name"));
    selection::copyField(row.F6003_IP, QByteArray("10.0.0.1"));
    row.F6003_STATION = 99;
    row.F6001_ZONE1NO = 1;
    row.F6002_ZONE2NO = 1;
    row.F6003_DEVTYPE = 1;
    row.F6003_STATUS = 1;
    return row;
}

SIP_CATALOG item(const char* id, int type, const char* name, const char* ip,
                 const char* parent = "") {
    SIP_CATALOG c;
    std::memset(&c, 0, sizeof c);
    selection::copyField(c.DeviceID, QByteArray(id));
    selection::copyField(c.Name, QByteArray(name));
    selection::copyField(c.IPAddress, QByteArray(ip));
    selection::copyField(c.ParentID, QByteArray(parent));
    c.typeCode = type;
    c.idGroupA = 15;
    c.idGroupB = 99;
    c.idGroupC = 1;
    c.idGroupD = 1;
    return c;
}

manscdp::ItemState state(Status status, const char* event = "") {
    manscdp::ItemState s;
    s.status = status;
    s.statusShown = "\"x\"";
    s.event = event;
    return s;
}

// A host that records its calls and may take its time over each.
struct Recorder {
    std::vector<std::string> calls;  // "add CODE STATUS", "modify CODE STATUS", "monitors A,B"
    int busyMs = 0;
    bool accepting = true;

    CameraWriteBack::Host host() {
        CameraWriteBack::Host h;
        h.addCamera = [this](CameraRow* r) { record("add", *r); };
        h.modifyCamera = [this](CameraRow* r) { record("modify", *r); };
        h.modifyMonitors = [this](MonitorList* list) {
            std::string line = "monitors";
            for (int i = 0; i < list->count; ++i) {
                line += std::string(i == 0 ? " " : ",") + list->rows[i].F6004_MONITOR;
            }
            calls.push_back(line);
        };
        h.accepting = [this] { return accepting; };
        return h;
    }
    void record(const char* what, const CameraRow& r) {
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < busyMs) {
        }
        calls.push_back(std::string(what) + " " + r.F6003_CAMERAGB + " " +
                        std::to_string(r.F6003_STATUS));
    }
};

CameraRow withStatus(CameraRow row, int status) {
    row.F6003_STATUS = status;
    return row;
}

MonitorRow monitor(const char* monitorCode, const char* decoder) {
    MonitorRow row{};
    selection::copyField(row.F6004_MONITOR, QByteArray(monitorCode));
    selection::copyField(row.F6004_DECODER, QByteArray(decoder));
    return row;
}

bool drained(CameraWriteBack& queue) {
    return QTest::qWaitFor([&] { return queue.pending() == 0; }, 5000);
}

}  // namespace

class TestWriteBack : public QObject {
    Q_OBJECT
private slots:
    void mergeRules();
    void latestRowWinsAndStoredRowsAreSkipped();
    void slicesLeaveTheEventLoopTurning();
    void flushWritesEverythingUnlessTheHostIsDone();
};

void TestWriteBack::mergeRules() {
    selection::CameraMap cameras;
    cameras.insert(QString::fromLatin1(kKnown), storedRow());
    using catalogue::Effect;
    struct Row {
        const char* name;
        SIP_CATALOG item;
        manscdp::ItemState state;
        Effect effect;
        bool known;
        int status;
        const char* ip;
        const char* rowName;
        bool noted;
    };
    const std::vector<Row> rows = {
        {"entry of a new camera", item(kNew, 1, "n", "10.0.0.2"), state(Status::On), Effect::Camera,
         false, 1, "10.0.0.2", "n", false},
        {"entry of a known camera", item(kKnown, 1, "n", "10.0.0.2"), state(Status::Off),
         Effect::Camera, true, 0, "10.0.0.2", "n", false},
        {"no address, no name: the stored ones kept", item(kKnown, 1, "", ""), state(Status::Off),
         Effect::Camera, true, 0, "10.0.0.1", "stored name", false},
        {"no status: the stored one kept", item(kKnown, 1, "n", "10.0.0.2"), state(Status::Absent),
         Effect::Camera, true, 1, "10.0.0.2", "n", false},
        {"status nobody knows: the stored one kept", item(kKnown, 1, "n", "10.0.0.2"),
         state(Status::Unknown), Effect::Camera, true, 1, "10.0.0.2", "n", true},
        {"status nobody knows, new camera: offline", item(kNew, 1, "n", "10.0.0.2"),
         state(Status::Unknown), Effect::Camera, false, 0, "10.0.0.2", "n", true},
        {"notice OFF: the status only", item(kKnown, 1, "", ""), state(Status::Absent, "OFF"),
         Effect::Camera, true, 0, "10.0.0.1", "stored name", false},
        {"notice ON beside a Status OFF: the notice counts", item(kKnown, 1, "", ""),
         state(Status::Off, "ON"), Effect::Camera, true, 1, "10.0.0.1", "stored name", false},
        {"notice for an unknown camera", item(kNew, 1, "", ""), state(Status::Absent, "ON"),
         Effect::None, false, 0, "", "", true},
        {"notice of another kind", item(kKnown, 1, "", ""), state(Status::Absent, "VLOST"),
         Effect::None, false, 0, "", "", true},
        {"ADD is an entry", item(kNew, 2, "n", "10.0.0.3"), state(Status::On, "ADD"),
         Effect::Camera, false, 1, "10.0.0.3", "n", false},
        {"monitor", item(kNew, 21, "m", "", "MON-1"), state(Status::On), Effect::Monitor, false, 0,
         "", "", false},
        {"monitor without ParentID", item(kNew, 21, "m", ""), state(Status::On), Effect::None,
         false, 0, "", "", true},
        {"alarm input", item(kNew, 17, "a", ""), state(Status::On), Effect::None, false, 0, "", "",
         false},
    };
    for (const Row& row : rows) {
        const catalogue::Change c = catalogue::merge(row.item, row.state, cameras);
        QVERIFY2(c.effect == row.effect, row.name);
        QVERIFY2(c.note.empty() != row.noted, row.name);
        if (c.effect == Effect::Monitor) {
            QVERIFY2(c.monitor == QLatin1String("MON-1"), row.name);
        }
        if (c.effect != Effect::Camera) {
            continue;
        }
        QVERIFY2(c.known == row.known, row.name);
        QVERIFY2(c.row.F6003_STATUS == row.status, row.name);
        QVERIFY2(QByteArray(c.row.F6003_IP) == row.ip, row.name);
        QVERIFY2(QByteArray(c.row.F6003_CAMERANAME) == row.rowName, row.name);
        QVERIFY2(QByteArray(c.row.F6003_CAMERAGB) == row.item.DeviceID, row.name);
    }
}

void TestWriteBack::latestRowWinsAndStoredRowsAreSkipped() {
    Recorder host;
    CameraWriteBack queue(host.host(), 8);
    selection::CameraMap stored;
    stored.insert(QString::fromLatin1(kKnown), storedRow());
    queue.setStored(stored);

    CameraRow fresh = storedRow();
    selection::copyField(fresh.F6003_CAMERAGB, QByteArray(kNew));
    queue.queueCamera(storedRow(), true);                 // as stored: skipped
    queue.queueCamera(withStatus(storedRow(), 0), true);  // flaps off ...
    queue.queueCamera(storedRow(), true);                 // ... and back before it was written
    queue.queueCamera(withStatus(fresh, 0), false);       // new: added once,
    queue.queueCamera(withStatus(fresh, 1), true);        // with the latest row
    queue.queueMonitor(monitor("MON-2", "D-1"));
    queue.queueMonitor(monitor("MON-1", "D-2"));
    queue.queueMonitor(monitor("MON-3", "D-1"));  // the decoder moved on: latest wins
    QVERIFY(drained(queue));
    QCOMPARE(host.calls,
             (std::vector<std::string>{"add 01509900101001000002 1", "monitors MON-1,MON-3"}));
    QCOMPARE(queue.stats().coalesced, quint64(3));

    // What was written is stored now; once that may no longer hold, it is written again.
    queue.queueCamera(withStatus(fresh, 1), true);
    queue.queueMonitor(monitor("MON-1", "D-2"));
    QCOMPARE(queue.pending(), 0);
    queue.forgetStored();
    queue.queueCamera(storedRow(), true);
    queue.queueMonitor(monitor("MON-1", "D-2"));
    QVERIFY(drained(queue));
    QCOMPARE(host.calls.size(), size_t(4));
    QCOMPARE(host.calls[2], std::string("modify 01509900101001000001 1"));
}

// Slow host calls are made a slice at a time: the event loop gets its turn in between, and
// nothing is lost.
void TestWriteBack::slicesLeaveTheEventLoopTurning() {
    Recorder host;
    host.busyMs = 3;
    CameraWriteBack queue(host.host(), 8);
    constexpr int kRows = 40;
    for (int i = 0; i < kRows; ++i) {
        CameraRow row = storedRow();
        selection::copyField(row.F6003_CAMERAGB, QByteArray::number(10000 + i));
        queue.queueCamera(row, false);
    }
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start(0);
    QVERIFY(drained(queue));
    QCOMPARE(host.calls.size(), size_t(kRows));
    QVERIFY(queue.stats().slices > 1);
    QVERIFY(turns >= int(queue.stats().slices) - 1);
}

void TestWriteBack::flushWritesEverythingUnlessTheHostIsDone() {
    Recorder host;
    CameraWriteBack queue(host.host(), 8);
    for (int i = 0; i < 3; ++i) {
        CameraRow row = storedRow();
        selection::copyField(row.F6003_CAMERAGB, QByteArray::number(20000 + i));
        queue.queueCamera(row, false);
    }
    queue.flush();
    QCOMPARE(host.calls.size(), size_t(3));

    queue.queueCamera(storedRow(), true);
    host.accepting = false;
    queue.flush();
    QCOMPARE(host.calls.size(), size_t(3));
    QCOMPARE(queue.drop(), 1);
}

QTEST_GUILESS_MAIN(TestWriteBack)
#include "tst_writeback.moc"
