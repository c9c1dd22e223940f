// The database out of reach: every failed statement says why, the operator can be told, and a
// fresh read after the database is back fills the lists again.
#include <cstring>
#include <functional>

#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"

namespace {

class Outage : public StoreTest {
protected:
    void SeedReference() {
        for (const char* sql :
             {"INSERT INTO NXMODEL.TB6000_STATIONINFO VALUES (99,1,'Line 3 trains')",
              "INSERT INTO NXMODEL.TB6001_ZONE1INFO VALUES (99,7,'Train 7')",
              "INSERT INTO NXMODEL.TB6002_ZONE2INFO VALUES (99,7,1,'Car 1')",
              "INSERT INTO NXMODEL.TB6004_MONITORINFO VALUES ('MON-1','DEC-1',1,1,3)",
              "INSERT INTO NXMODEL.TB6003_CAMERAINFO (F6003_IP,F6003_LINE,F6003_STATION,"
              "F6003_CAMERAGB,F6003_CAMERANAME) VALUES ('ip',3,99,'00300990070200100001','c')"})
            ASSERT_EQ(Exec(sql), 1) << sql;
    }
};

TEST_P(Outage, EveryFailedStatementIsLoggedWithTheDatabasesReason) {
    auto plug = MakePlugIn();
    Unreachable();
    CameraRow cam{};
    CopyText(cam.F6003_CAMERAGB, "00300990070200100001");
    _FavoriteInfo fav{};
    CopyText(fav.F6007_DESC, "f");
    _DisplayModeInfo mode{};
    mode.layout.F6005_SCREENCOUNT = 1;
    screenset window{};
    window.screenCount = 1;
    TourRow tour{};
    TourCameraList none{0, nullptr};
    MonitorRow monitor{};
    MonitorList monitors{1, &monitor};
    const struct {
        const char* line;
        std::function<void()> call;
    } cases[] = {
        {"[CameraInfoAdd] error,cmdbuf:INSERT", [&] { AddCameraInfo(&cam, plug.get()); }},
        {"[CameraInfoModify] error,cmdbuf:UPDATE", [&] { ModifyCameraInfo(&cam, plug.get()); }},
        {"[CameraInfoRemove] error,cmdbuf:DELETE", [&] { RemoveCameraInfo(plug.get()); }},
        {"[MonitorModify] select error,cmdbuf:SELECT",
         [&] { ModifyMonitor(&monitors, plug.get()); }},
        {"[MonitorModify] insert error,cmdbuf:INSERT",
         [&] { ModifyMonitor(&monitors, plug.get()); }},
        {"[AddFavorite] cannot lock", [&] { EXPECT_EQ(AddFavorite(&fav, plug.get()), 0); }},
        {"[insertItem_MonitorInfo] >>> cannot lock",
         [&] { EXPECT_EQ(AddDisplayMode(&mode, plug.get()), 0); }},
        {"[updateItem_MonitorInfo] >>> update failed",
         [&] { EXPECT_EQ(UpdateScreenInfo(&window, plug.get()), 0); }},
        {"[TourInfoAdd] cannot lock", [&] { AddTourInfo(&tour, &none, plug.get()); }},
        {"[GetSipCamera] error,cmdbuf:select", [&] { plug->LoadSipCameras(); }},
        {"[UpdateTourInfo] tours not read", [&] { LoadTours(*plug); }},
    };
    plug->m_current.layout.F6005_NO = 1;  // a stored layout for UpdateScreenInfo to update
    for (const auto& c : cases) {
        c.call();
        const std::string log = Log();
        const std::size_t at = log.find(c.line);
        ASSERT_NE(at, std::string::npos) << c.line;
        const std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_NE(line.find(GetParam() == Backend::SQLite ? "cannot create folder"
                                                          : "cannot connect to PostgreSQL"),
                  std::string::npos)
            << line;
    }
}

TEST_P(Outage, UnreadableConfigurationIsReportedAndAFreshReadFillsTheLists) {
    SeedReference();
    Unreachable();
    auto plug = MakePlugIn();
    char problem[64];
    EXPECT_EQ(ReadConfiguration(nullptr, nullptr, problem, sizeof problem, plug.get()), 0);
    EXPECT_EQ(std::string(problem).rfind("trains (TB6001_ZONE1INFO) not read: reason: ", 0), 0u)
        << problem;
    EXPECT_EQ(std::strlen(problem), sizeof problem - 1);  // cut to the caller's buffer
    init_param data{};
    ZoneInfo zones{};
    EXPECT_EQ(ReadConfiguration(&data, &zones, problem, sizeof problem, plug.get()), 0);
    EXPECT_EQ(ReadConfiguration(&data, nullptr, problem, sizeof problem, plug.get()), 0);

    Reachable();
    ASSERT_EQ(ReadConfiguration(&data, &zones, problem, sizeof problem, plug.get()), 1);
    EXPECT_STREQ(problem, "");
    EXPECT_EQ(zones.zone1Count, 1);
    EXPECT_EQ(zones.zone2Count, 1);
    ASSERT_NE(data.sipGrpArr, nullptr);
    EXPECT_EQ(data.sipGrpArr->count, 1);
    ASSERT_NE(data.sipCameras, nullptr);
    EXPECT_EQ(data.sipCameras->count, 1);
    EXPECT_STREQ(data.monitorRows[0].F6004_MONITOR, "MON-1");
    EXPECT_EQ(data.apiTable->ReadConfiguration, &ReadConfiguration);
    EXPECT_EQ(ReadConfiguration(nullptr, nullptr, nullptr, 0, plug.get()), 1);
}

NX_STORE_BACKENDS(Outage);

}  // namespace
