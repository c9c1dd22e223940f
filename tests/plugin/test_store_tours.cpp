// Tours of a PTZ level and their cameras.
#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"
#include "TourIndex.h"

namespace {

TEST(TourIndexRule, TakesTheSmallestFreeIndexOfAnAscendingList) {
    EXPECT_EQ(FirstFreeTourIndex({1, 2, 4}), 3);
    EXPECT_EQ(FirstFreeTourIndex({2, 3}), 1);
    EXPECT_EQ(FirstFreeTourIndex({1, 2, 3}), 4);
    EXPECT_EQ(FirstFreeTourIndex({1, 3, 5, 6}), 2);
    EXPECT_EQ(FirstFreeTourIndex({5}), 1);
}

TourRow Tour(const char* desc, int timespace, int index = 0) {
    TourRow t{};
    t.F6009_TOURINDEX = index;
    CopyText(t.F6009_TOURDESC, desc);
    t.F6009_TIMESPACE = timespace;
    return t;
}

TourCameraRow TourCamera(int ownIndex, const char* code, int position) {
    TourCameraRow c{};
    c.F6009_TOURINDEX = ownIndex;
    CopyText(c.F6010_STANAME, "Train 7");
    CopyText(c.F6003_CAMERAGB, code);
    CopyText(c.F6003_CAMERANAME, "Car 2 'door'");
    c.F6010_CAMERAINDEX = position;
    return c;
}

class TourStore : public StoreTest {
protected:
    void AddTourRow(int index, int level) {
        ASSERT_EQ(
            Exec("INSERT INTO NXMODEL.dbo.TB6009_CCTVTOURINFO (F6009_TOURINDEX,F6009_TOURDESC,"
                 "F6009_TIMESPACE,F0101_PTZPLEVEL) VALUES(" +
                 std::to_string(index) + ",'t'," + std::to_string(10) + "," +
                 std::to_string(level) + ")"),
            1);
    }
    void AddCameraRow(int index, const char* code) {
        ASSERT_EQ(Exec("INSERT INTO NXMODEL.dbo.TB6010_TOURGBCAMERA (F6009_TOURINDEX,F6010_STANAME,"
                       "F6003_CAMERANAME,F6003_CAMERAGB,F6010_CAMERAINDEX) VALUES(" +
                       std::to_string(index) + ",'s','n','" + code + "',1)"),
                  1);
    }
    Rows CamerasOf(int index) {
        return Select(
            "select F6003_CAMERAGB,F6010_CAMERAINDEX from NXMODEL.dbo.TB6010_TOURGBCAMERA "
            "where F6009_TOURINDEX=" +
            std::to_string(index) + " order by F6010_CAMERAINDEX");
    }
};

TEST_P(TourStore, NewToursTakeTheFirstFreeIndexOverAllLevels) {
    auto plug = MakePlugIn();  // level 3
    TourRow tour = Tour("Morning 'peak'", 15);
    TourCameraList none{0, nullptr};
    AddTourInfo(&tour, &none, plug.get());
    AddTourRow(2, 1);
    AddTourRow(4, 1);
    AddTourInfo(&tour, &none, plug.get());
    Rows rows = Select(
        "select F6009_TOURINDEX,F6009_TOURDESC,F6009_TIMESPACE,F0101_PTZPLEVEL from "
        "NXMODEL.dbo.TB6009_CCTVTOURINFO order by F6009_TOURINDEX");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "Morning 'peak'", "15", "3"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"3", "Morning 'peak'", "15", "3"}));
    EXPECT_EQ(plug->m_tourIndexList, (std::vector<int>{1, 2, 4}));
}

TEST_P(TourStore, IndexUsedByAnotherLevelIsNotReused) {
    for (int i = 1; i <= 5; ++i)
        AddTourRow(i, 1);
    auto plug = MakePlugIn();
    TourRow tour = Tour("t", 5);
    TourCameraList none{0, nullptr};
    AddTourInfo(&tour, &none, plug.get());
    EXPECT_EQ(
        Count("NXMODEL.dbo.TB6009_CCTVTOURINFO where F6009_TOURINDEX=6 and F0101_PTZPLEVEL=3"), 1);
}

TEST_P(TourStore, CamerasAreAddedUnderTheNewIndexAndReadBackInCameraOrder) {
    auto plug = MakePlugIn();
    TourRow tour = Tour("t", 5, 42);
    TourCameraRow cams[2] = {TourCamera(77, "B", 2), TourCamera(78, "A", 1)};
    TourCameraList list{2, cams};
    AddTourInfo(&tour, &list, plug.get());
    EXPECT_EQ(CamerasOf(1), (Rows{{"A", "1"}, {"B", "2"}}));
    LoadTours(*plug);
    ASSERT_EQ(plug->m_tours.count, 1);
    EXPECT_STREQ(plug->m_tours.rows[0].F6009_TOURDESC, "t");
    ASSERT_EQ(plug->m_tourCameras.count, 2);
    EXPECT_STREQ(plug->m_tourCameras.rows[0].F6003_CAMERAGB, "A");
    EXPECT_STREQ(plug->m_tourCameras.rows[0].F6003_CAMERANAME, "Car 2 'door'");
    EXPECT_EQ(plug->m_tourCameras.rows[1].F6009_TOURINDEX, 1);
}

TEST_P(TourStore, FailedHeadInsertAddsNoCameras) {
    auto plug = MakePlugIn();
    TourRow tour = Tour("\xFF\xFE\xFD", 5);  // not GBK: the head cannot be stored
    TourCameraRow cams[1] = {TourCamera(0, "A", 1)};
    TourCameraList list{1, cams};
    AddTourInfo(&tour, &list, plug.get());
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 0);
    EXPECT_EQ(Count("NXMODEL.dbo.TB6010_TOURGBCAMERA"), 0);
    EXPECT_NE(Log().find("[TourInfoAdd] failed: INSERT INTO"), std::string::npos);
}

TEST_P(TourStore, AFailedCameraLeavesTheTourAndTheOtherCameras) {
    auto plug = MakePlugIn();
    TourRow tour = Tour("t", 5);
    TourCameraRow cams[3] = {TourCamera(0, "A", 1), TourCamera(0, "B", 2), TourCamera(0, "C", 3)};
    CopyText(cams[1].F6003_CAMERANAME, "\xFF\xFE");  // not GBK
    TourCameraList list{3, cams};
    AddTourInfo(&tour, &list, plug.get());
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 1);
    EXPECT_EQ(CamerasOf(1), (Rows{{"A", "1"}, {"C", "3"}}));
    EXPECT_NE(Log().find("[TourInfoAdd] insert camera failed:INSERT INTO"), std::string::npos);
}

// The index is chosen under the table lock; without it nothing is written.
TEST_P(TourStore, NoLockNoTour) {
    auto plug = MakePlugIn();
    TourRow tour = Tour("t", 5);
    TourCameraRow cams[1] = {TourCamera(0, "A", 1)};
    TourCameraList list{1, cams};
    CNX_DBOption outer;  // this thread's transaction: the tour's own lock cannot be taken
    ASSERT_EQ(outer.BeginTransaction(), 1);
    AddTourInfo(&tour, &list, plug.get());
    ASSERT_EQ(outer.CommitTransaction(), 1);
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 0);
    EXPECT_EQ(Count("NXMODEL.dbo.TB6010_TOURGBCAMERA"), 0);
    EXPECT_NE(Log().find("[TourInfoAdd] cannot lock TB6009_CCTVTOURINFO, no tour added"),
              std::string::npos);
}

// A head that did not commit has no index to put cameras under.
TEST_P(TourStore, HeadRefusedAtCommitAddsNoCameras) {
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "SQLite has no refusal at commit";
    RefuseWrites("TB6009_CCTVTOURINFO", "INSERT", true);
    auto plug = MakePlugIn();
    TourRow tour = Tour("t", 5);
    TourCameraRow cams[1] = {TourCamera(0, "A", 1)};
    TourCameraList list{1, cams};
    AddTourInfo(&tour, &list, plug.get());
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 0);
    EXPECT_EQ(Count("NXMODEL.dbo.TB6010_TOURGBCAMERA"), 0);
    const std::string log = Log();
    const std::size_t at = log.find("[TourInfoAdd] commit failed, nothing stored: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(log.find("refused by the test", at), std::string::npos);
}

TEST_P(TourStore, ModifyReplacesCamerasUnderTheToursOwnIndex) {
    AddTourRow(1, 3);
    AddCameraRow(1, "OLD");
    auto plug = MakePlugIn();
    TourRow tour = Tour("renamed", 30, 1);
    TourCameraRow cams[1] = {TourCamera(9, "NEW", 1)};
    TourCameraList list{1, cams};
    ModifyTourInfo(&tour, &list, plug.get());
    EXPECT_EQ(CamerasOf(1), (Rows{{"NEW", "1"}}));
    EXPECT_TRUE(CamerasOf(9).empty());
    EXPECT_EQ(
        Select("select F6009_TOURDESC,F6009_TIMESPACE from NXMODEL.dbo.TB6009_CCTVTOURINFO")[0],
        (std::vector<std::string>{"renamed", "30"}));
    TourCameraList none{0, nullptr};
    ModifyTourInfo(&tour, &none, plug.get());
    EXPECT_TRUE(CamerasOf(1).empty());
}

TEST_P(TourStore, AnotherLevelsTourKeepsItsCameras) {
    AddTourRow(4, 1);
    AddCameraRow(4, "LEVEL1");
    auto plug = MakePlugIn();  // level 3
    TourRow tour = Tour("mine?", 30, 4);
    TourCameraRow cams[1] = {TourCamera(4, "INTRUDER", 1)};
    TourCameraList list{1, cams};
    ModifyTourInfo(&tour, &list, plug.get());
    RemoveTourInfo(4, plug.get());
    EXPECT_EQ(CamerasOf(4), (Rows{{"LEVEL1", "1"}}));
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 1);
}

TEST_P(TourStore, RemoveDeletesTheLevelsTourAndItsCameras) {
    AddTourRow(2, 3);
    AddCameraRow(2, "X");
    auto plug = MakePlugIn();
    RemoveTourInfo(-1, plug.get());
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 1);
    RemoveTourInfo(2, plug.get());
    EXPECT_EQ(Count("NXMODEL.dbo.TB6009_CCTVTOURINFO"), 0);
    EXPECT_TRUE(CamerasOf(2).empty());
}

NX_STORE_BACKENDS(TourStore);

}  // namespace
