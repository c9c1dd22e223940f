// Camera tours through the switching interface, PTZ requests and the cameras of a group.
#include <cstring>

#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"
#include "camera/CameraOps.h"

namespace {

using Journal = std::vector<std::string>;

class CameraOps : public StoreTest {
protected:
    void AddPoint(const char* code, const char* group, int pointNo, const char* devNo) {
        ASSERT_EQ(
            Exec(SqlFormat("INSERT INTO NXMODEL.TB4009_DIGPOINT (F4009_POINTCODE,F4009_AOJ,"
                           "F1010_APPSYSID,F4004_MEASTYPEID,F4009_POINTNO1,F1002_BAYAREANO,"
                           "F4009_POINTDESC,F1001_GROUPCODE) VALUES ('%s',1,10,4,%d,6,"
                           "'desc %s','%s')",
                           std::string(code), pointNo, std::string(code), std::string(group))),
            1);
        AddDevice(2, code, devNo);
    }
    void AddDevice(int type, const char* code, const char* devNo) {
        ASSERT_EQ(
            Exec("INSERT INTO NXMODEL.TB2023_CCTVDEV (F2023_DEVNO,F2023_TYPE,F4009_POINTCODE) "
                 "VALUES ('" +
                 std::string(devNo) + "'," + std::to_string(type) + ",'" + code + "')"),
            1);
    }
    static screenset Window(int count, int index, const char* point) {
        screenset w{};
        w.screenCount = count;
        w.windowIndex = index;
        CopyText(w.camera.pointCode, point);
        CopyText(w.camera.cameraName, "Door cam");
        return w;
    }
    static ptzctlex Control(int code, int arg) {
        ptzctlex c{};
        c.words[0] = code;
        c.words[1] = arg;
        return c;
    }
};

TEST(Division, FollowsTheWindowHalfAndTheScreenCount) {
    screenset w{};
    const int firstHalfZero[] = {1, 5, 7};
    for (int count : firstHalfZero) {
        w.screenCount = count;
        w.windowIndex = 2;
        EXPECT_EQ(DivisionOf(w), 0) << count;
    }
    w.screenCount = 4;
    EXPECT_EQ(DivisionOf(w), 1);
    w.windowIndex = 6;
    for (int count : {4, 5, 8}) {
        w.screenCount = count;
        EXPECT_EQ(DivisionOf(w), 1) << count;
    }
    w.screenCount = 6;
    EXPECT_EQ(DivisionOf(w), 0);
}

TEST_P(CameraOps, TourStartOnWindowSixGoesToTheSecondMonitorAsWindowTwo) {
    AddPoint("PT-CAM-1", "G1", 1, "501");
    AddDevice(1, "PT-DEC-6", "0x");  // text that is no number gives decoder 0
    AddDevice(1, "PT-DEC-6B", "260");
    auto plug = MakePlugIn();
    CopyText(plug->m_dispatch.entries[0].code, "MON-A");
    std::memcpy(plug->m_dispatch.entries[0].code + 24, "MON-B", 6);
    CopyText(plug->m_decoderPoints[0][5], "PT-DEC-6B");
    screenset w = Window(8, 5, "PT-CAM-1");
    ptzctlex c = Control(17, 9);
    EXPECT_EQ(ScanRoundMode(&w, 3, &c, plug.get()), 1);
    EXPECT_EQ(plug->m_csi.Journal(),
              (Journal{"CCTV_Login(3)", "CCTV_SelectCam(PT-CAM-1,3,0,1,2,2,3,4)",
                       "CCTV_SelectMon(MON-B)", "CCTV_Scan(9)"}));
    EXPECT_NE(Log().find("[CScdCsi] CCTV_Scan(9)"), std::string::npos);
}

TEST_P(CameraOps, TourStopOnWindowOneUsesTheFirstMonitorAndDecoderZero) {
    AddPoint("PT-CAM-1", "G1", 1, "501");
    auto plug = MakePlugIn();
    CopyText(plug->m_dispatch.entries[0].code, "MON-A");
    screenset w = Window(1, 0, "PT-CAM-1");
    ptzctlex c = Control(18, 0);
    EXPECT_EQ(ScanRoundMode(&w, 3, &c, plug.get()), 1);
    EXPECT_EQ(plug->m_csi.Journal(),
              (Journal{"CCTV_Login(3)", "CCTV_SelectCam(PT-CAM-1,3,0,0,1,2,3,0)",
                       "CCTV_SelectMon(MON-A)", "CCTV_Scan(0)"}));
}

TEST_P(CameraOps, RefusedTourRequestsReachNoSwitchingCall) {
    AddPoint("PT-CAM-1", "G1", 1, "501");
    auto plug = MakePlugIn();
    screenset w = Window(8, 5, "PT-CAM-1");
    ptzctlex c19 = Control(19, 0);
    ptzctlex c17 = Control(17, 0);
    EXPECT_EQ(ScanRoundMode(&w, 3, &c19, plug.get()), 0);
    EXPECT_EQ(ScanRoundMode(&w, 0, &c17, plug.get()), 0);
    EXPECT_EQ(ScanRoundMode(&w, 2, &c17, plug.get()), 0);
    EXPECT_EQ(ScanRoundMode(&w, 3, nullptr, plug.get()), 0);
    screenset unknown = Window(8, 5, "PT-NONE");
    EXPECT_EQ(ScanRoundMode(&unknown, 3, &c17, plug.get()), -1);
    screenset outside = Window(8, 9, "PT-CAM-1");
    EXPECT_EQ(ScanRoundMode(&outside, 3, &c17, plug.get()), 0);
    EXPECT_EQ(ScanRoundMode(nullptr, 3, &c17, plug.get()), 0);
    EXPECT_TRUE(plug->m_csi.Journal().empty());
    EXPECT_NE(Log().find("[getCameraInfoByCode] : failed to find record in TB4009_DIGPOINT by code "
                         "PT-NONE"),
              std::string::npos);
}

TEST_P(CameraOps, PtzAndPresetRequestsAreCheckedButSendNothing) {
    auto plug = MakePlugIn();
    screenset w = Window(4, 0, "PT-CAM-1");
    ptzctlex up = Control(1, 0);
    ptzctlex bad = Control(15, 0);
    EXPECT_EQ(OperateOnCamera(&w, 2, 0, &up, plug.get()), 0);
    EXPECT_EQ(OperateOnCamera(&w, 2, 0, &bad, plug.get()), 0);
    EXPECT_EQ(OperateOnCamera(&w, 4, 1, &up, plug.get()), 0);
    EXPECT_EQ(OperateOnCamera(nullptr, 14, 1, &up, plug.get()), 0);
    EXPECT_TRUE(plug->m_csi.Journal().empty());
    const std::string log = Log();
    EXPECT_NE(log.find("上"), std::string::npos);
    EXPECT_NE(log.find("调用预置位"), std::string::npos);
}

TEST_P(CameraOps, OperateTourWritesOneLogLinePerCall) {
    auto plug = MakePlugIn();
    screenset w = Window(4, 0, "PT-CAM-1");
    const std::string line =
        "[TourOperate] >>> PtzLevel:3 ,TourCameraCode: PT-CAM-1  ,TourCameraDesc: Door cam";
    EXPECT_EQ(OperateTour(&w, plug.get()), 1);
    EXPECT_EQ(OperateTour(&w, plug.get()), 1);
    EXPECT_EQ(OperateTour(nullptr, plug.get()), 1);
    const std::string log = Log();
    const auto first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    const auto second = log.find(line, first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(log.find(line, second + 1), std::string::npos);
    EXPECT_EQ(log.find("[TourOperate]", second + 1), std::string::npos);
}

TEST_P(CameraOps, GroupCamerasAreListedInPointOrderAndReplacedByTheNextCall) {
    AddPoint("PT-B", "G'1", 2, "702");
    AddPoint("PT-A", "G'1", 1, "701");
    AddPoint("PT-X", "OTHER", 0, "700");
    auto plug = MakePlugIn();
    plug->m_stationCount = 2;
    CopyText(plug->m_groups[1].code, "G'1");
    CameraDescList result{};
    UpdateCamerasByGroup(1, &result, plug.get());
    ASSERT_EQ(result.count, 2);
    EXPECT_STREQ(result.rows[0].F4009_POINTCODE, "PT-A");
    EXPECT_STREQ(result.rows[0].F2023_DEVNO, "701");
    EXPECT_STREQ(result.rows[0].F4009_POINTDESC, "desc PT-A");
    EXPECT_EQ(result.rows[0].F1002_BAYAREANO, 6);
    EXPECT_STREQ(result.rows[1].F4009_POINTCODE, "PT-B");

    UpdateCamerasByGroup(0, &result, plug.get());  // empty group code: nothing found
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(result.rows, nullptr);
    UpdateCamerasByGroup(2, &result, plug.get());
    EXPECT_EQ(result.count, 0);
    EXPECT_NE(Log().find("[getGroupCameras] : group index 2 outside the 2 groups"),
              std::string::npos);
    result.count = 5;
    UpdateCamerasByGroup(-1, &result, plug.get());
    EXPECT_EQ(result.count, 5);  // untouched
    UpdateCamerasByGroup(1, nullptr, plug.get());
}

NX_STORE_BACKENDS(CameraOps);

}  // namespace
