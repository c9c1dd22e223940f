// Camera and monitor rows written back by the UI library, on both databases.
#include <ctime>
#include <cstring>

#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"

namespace {

const char kGbkName[] = "\xC9\xE3\xCF\xF1\xBB\xFA";  // 摄像机 in GBK

CameraRow Camera(const char* code, const char* name, int line = 3, int station = 99) {
    CameraRow c{};
    CopyText(c.F6003_IP, "10.3.99.1");
    c.F6003_LINE = line;
    c.F6003_STATION = station;
    c.F6001_ZONE1NO = 7;
    c.F6002_ZONE2NO = 2;
    c.F6003_DEVTYPE = 1;
    CopyText(c.F6003_CAMERANAME, name);
    CopyText(c.F6003_CAMERAGB, code);
    c.F6003_STATUS = 1;
    return c;
}

class CameraStore : public StoreTest {};

TEST_P(CameraStore, AddedCameraReadsBackWithEveryColumnAndItsInsertTime) {
    auto plug = MakePlugIn();
    CameraRow cam = Camera("34020000001320000001", "O'Brien's \"front\" cam");
    const long long before = std::time(nullptr);
    AddCameraInfo(&cam, plug.get());
    const long long after = std::time(nullptr);
    Rows rows = Select(
        "select F6003_IP,F6003_LINE,F6003_STATION,F6001_ZONE1NO,F6002_ZONE2NO,F6003_DEVTYPE,"
        "F6003_CAMERANAME,F6003_CAMERAGB,F6003_STATUS,F6003_UPDATETIME from "
        "NXMODEL.dbo.TB6003_CAMERAINFO");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "10.3.99.1");
    EXPECT_EQ(rows[0][1], "3");
    EXPECT_EQ(rows[0][2], "99");
    EXPECT_EQ(rows[0][3], "7");
    EXPECT_EQ(rows[0][4], "2");
    EXPECT_EQ(rows[0][5], "1");
    EXPECT_EQ(rows[0][6], "O'Brien's \"front\" cam");
    EXPECT_EQ(rows[0][7], "34020000001320000001");
    EXPECT_EQ(rows[0][8], "1");
    const long long stamp = std::atoll(rows[0][9].c_str());
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
}

TEST_P(CameraStore, ChineseNamesRoundTripThroughTheSipCameraList) {
    auto plug = MakePlugIn();
    CameraRow a = Camera("00300990070200100001", kGbkName);
    CameraRow otherLine = Camera("00400990070200100002", "x", 4);
    CameraRow otherStation = Camera("00300120070200100003", "y", 3, 12);
    AddCameraInfo(&a, plug.get());
    AddCameraInfo(&otherLine, plug.get());
    AddCameraInfo(&otherStation, plug.get());
    plug->LoadSipCameras();  // metro 3, station 99 only
    ASSERT_EQ(plug->m_sipCameras.count, 1);
    EXPECT_STREQ(plug->m_sipCameras.rows[0].F6003_CAMERANAME, kGbkName);
    EXPECT_STREQ(plug->m_sipCameras.rows[0].F6003_CAMERAGB, "00300990070200100001");
}

TEST_P(CameraStore, KnownCodeUnderAnotherLineIsUpdatedNotRejected) {
    auto plug = MakePlugIn();
    CameraRow first = Camera("00300990070200100001", "old", 2, 5);
    AddCameraInfo(&first, plug.get());
    CameraRow again = Camera("00300990070200100001", "new");
    AddCameraInfo(&again, plug.get());
    Rows rows = Select(
        "select F6003_LINE,F6003_STATION,F6003_CAMERANAME from "
        "NXMODEL.TB6003_CAMERAINFO");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"3", "99", "new"}));
    EXPECT_EQ(Log().find("[CameraInfoAdd] error"), std::string::npos);
}

TEST_P(CameraStore, ModifyChangesOnlyTheKeyedRowAndUnknownCodesChangeNothing) {
    auto plug = MakePlugIn();
    CameraRow a = Camera("00300990070200100001", "a");
    CameraRow b = Camera("00300990070200100002", "b");
    AddCameraInfo(&a, plug.get());
    AddCameraInfo(&b, plug.get());
    CopyText(a.F6003_CAMERANAME, "a2");
    a.F6003_STATUS = 0;
    ModifyCameraInfo(&a, plug.get());
    CameraRow ghost = Camera("99999999999999999999", "ghost");
    ModifyCameraInfo(&ghost, plug.get());
    Rows rows = Select(
        "select F6003_CAMERAGB,F6003_CAMERANAME,F6003_STATUS from "
        "NXMODEL.TB6003_CAMERAINFO order by F6003_CAMERAGB");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"00300990070200100001", "a2", "0"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"00300990070200100002", "b", "1"}));
    EXPECT_EQ(Log().find("[CameraInfoModify] error"), std::string::npos);
}

TEST_P(CameraStore, RemoveEmptiesTheTableAndAddsRebuildIt) {
    auto plug = MakePlugIn();
    for (const char* code : {"00300990070200100001", "00300990070200100002"}) {
        CameraRow c = Camera(code, "c");
        AddCameraInfo(&c, plug.get());
    }
    RemoveCameraInfo(plug.get());
    EXPECT_EQ(Count("NXMODEL.TB6003_CAMERAINFO"), 0);
    CameraRow c = Camera("00300990070200100003", "c");
    AddCameraInfo(&c, plug.get());
    EXPECT_EQ(Count("NXMODEL.TB6003_CAMERAINFO"), 1);
}

TEST_P(CameraStore, TwoMonitorRowsOfOneDecoderInsertThenUpdate) {
    auto plug = MakePlugIn();
    MonitorRow rows[2] = {};
    CopyText(rows[0].F6004_MONITOR, "MON-1");
    CopyText(rows[0].F6004_DECODER, "DEC-1");
    CopyText(rows[1].F6004_MONITOR, "MON-1'b");
    CopyText(rows[1].F6004_DECODER, "DEC-1");
    MonitorList list{2, rows};
    ModifyMonitor(&list, plug.get());
    Rows stored = Select("select F6011_MONITOR,F6011_DECODER from NXMODEL.TB6011_MONITOR");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], (std::vector<std::string>{"MON-1'b", "DEC-1"}));
}

TEST_P(CameraStore, MonitorListWithoutRowsIsRefusedWithALogLine) {
    auto plug = MakePlugIn();
    MonitorList list{3, nullptr};
    ModifyMonitor(&list, plug.get());
    ModifyMonitor(nullptr, plug.get());
    EXPECT_EQ(Count("NXMODEL.TB6011_MONITOR"), 0);
    EXPECT_NE(Log().find("[MonitorModify] 3 rows announced, none given"), std::string::npos);
}

NX_STORE_BACKENDS(CameraStore);

}  // namespace
