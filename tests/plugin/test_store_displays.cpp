// Favourites, display modes, the current display and the six positions' displays.
#include <cstring>

#include "Layouts.h"
#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"

namespace {

ScreenCamera Screen(const char* station, const char* code) {
    ScreenCamera s{};
    CopyText(s.stationName, station);
    CopyText(s.cameraCode, code);
    CopyText(s.pointCode, code);
    return s;
}

_FavoriteInfo Favorite(const char* code, const char* desc) {
    _FavoriteInfo f{};
    CopyText(f.F6007_DESC, desc);
    f.camera = Screen("Train 1", code);
    return f;
}

class DisplayStore : public StoreTest {};

TEST_P(DisplayStore, FavouritesOfOneCameraGetTheirOwnNumbers) {
    auto plug = MakePlugIn();
    _FavoriteInfo a = Favorite("CAM1", "door 'left'");
    _FavoriteInfo b = Favorite("CAM1", "door again");
    ASSERT_EQ(AddFavorite(&a, plug.get()), 1);
    ASSERT_EQ(AddFavorite(&b, plug.get()), 1);
    EXPECT_GT(a.F6007_NO, 0);
    EXPECT_NE(a.F6007_NO, b.F6007_NO);
    ASSERT_EQ(plug->m_favorites.size(), 2u);
    EXPECT_EQ(plug->m_favorites.back().F6007_NO, b.F6007_NO);
    Rows row = Select(
        "select F6003_CAMERAGB,F6007_DESC,F0101_PTZPLEVEL from "
        "NXMODEL.dbo.TB6007_CCTVGBFAV where F6007_NO=" +
        std::to_string(a.F6007_NO));
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0], (std::vector<std::string>{"CAM1", "door 'left'", "3"}));
}

TEST_P(DisplayStore, UpdateFavouriteNeedsADescriptionAndTouchesOnlyKnownNumbers) {
    auto plug = MakePlugIn();
    _FavoriteInfo a = Favorite("CAM1", "before");
    ASSERT_EQ(AddFavorite(&a, plug.get()), 1);
    _FavoriteInfo change = a;
    CopyText(change.F6007_DESC, "");
    EXPECT_EQ(UpdateFavorite(&change, plug.get()), 0);
    CopyText(change.F6007_DESC, "after");
    change.F6007_NO = a.F6007_NO + 100;
    EXPECT_EQ(UpdateFavorite(&change, plug.get()), 1);
    EXPECT_EQ(Select("select F6007_DESC from NXMODEL.TB6007_CCTVGBFAV")[0][0], "before");
    change.F6007_NO = a.F6007_NO;
    EXPECT_EQ(UpdateFavorite(&change, plug.get()), 1);
    EXPECT_EQ(Select("select F6007_DESC from NXMODEL.TB6007_CCTVGBFAV")[0][0], "after");
    EXPECT_STREQ(plug->m_favorites.front().F6007_DESC, "after");
}

TEST_P(DisplayStore, RemoveFavouriteByPositionChecksTheRange) {
    auto plug = MakePlugIn();
    _FavoriteInfo a = Favorite("CAM1", "a");
    _FavoriteInfo b = Favorite("CAM2", "b");
    AddFavorite(&a, plug.get());
    AddFavorite(&b, plug.get());
    EXPECT_EQ(RemoveFavorite(2, plug.get()), 0);
    EXPECT_EQ(RemoveFavorite(-1, plug.get()), 0);
    EXPECT_NE(Log().find("[RemoveFavorite] position 2 outside the 2 favourites"),
              std::string::npos);
    EXPECT_EQ(RemoveFavorite(0, plug.get()), 1);
    Rows left = Select("select F6007_NO from NXMODEL.TB6007_CCTVGBFAV");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0][0], std::to_string(b.F6007_NO));
    ASSERT_EQ(plug->m_favorites.size(), 1u);
}

TEST_P(DisplayStore, DisplayModeStoresNullForEmptyScreensAndWritesBothNumbersBack) {
    auto plug = MakePlugIn();
    _DisplayModeInfo mode{};
    CopyText(mode.F6006_DESC, "Evening 'wall'");
    mode.layout.F6005_SCREENCOUNT = 4;
    mode.layout.screens[0] = Screen("Train 1", "CAM1");
    mode.layout.screens[2] = Screen("Train 3", "CAM3");
    ASSERT_EQ(AddDisplayMode(&mode, plug.get()), 1);
    EXPECT_GT(mode.layout.F6005_NO, 0);
    EXPECT_GT(mode.F6006_NO, 0);
    Rows layout = Select(
        "select F6005_SCREENCOUNT,F6005_SCR1STANAME,F6005_SCR1CAMERAGB,"
        "F6005_SCR2CAMERAGB,F6005_SCR3STANAME,F6005_SCR3CAMERAGB,"
        "F6005_SCR8CAMERAGB from NXMODEL.dbo.TB6005_CCTVGBMON where F6005_NO=" +
        std::to_string(mode.layout.F6005_NO));
    ASSERT_EQ(layout.size(), 1u);
    EXPECT_EQ(layout[0],
              (std::vector<std::string>{"4", "Train 1", "CAM1", "", "Train 3", "CAM3", ""}));
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON where F6005_SCR2CAMERAGB is null and "
                    "F6005_SCR8STANAME is null"),
              1);
    Rows modeRow = Select(
        "select F0101_PTZPLEVEL,F6005_NO,F6006_DESC from "
        "NXMODEL.TB6006_CCTVMODEINFO where F6006_NO=" +
        std::to_string(mode.F6006_NO));
    ASSERT_EQ(modeRow.size(), 1u);
    EXPECT_EQ(modeRow[0], (std::vector<std::string>{"3", std::to_string(mode.layout.F6005_NO),
                                                    "Evening 'wall'"}));
}

TEST_P(DisplayStore, ModifyAndRemoveDisplayMode) {
    auto plug = MakePlugIn();
    _DisplayModeInfo mode{};
    CopyText(mode.F6006_DESC, "one");
    mode.layout.F6005_SCREENCOUNT = 1;
    ASSERT_EQ(AddDisplayMode(&mode, plug.get()), 1);
    CopyText(mode.F6006_DESC, "two");
    EXPECT_EQ(ModifyDisplayMode(&mode, plug.get()), 1);
    EXPECT_EQ(Select("select F6006_DESC from NXMODEL.TB6006_CCTVMODEINFO")[0][0], "two");
    EXPECT_EQ(RemoveDisplayMode(1, plug.get()), 0);
    EXPECT_EQ(RemoveDisplayMode(0, plug.get()), 1);
    EXPECT_EQ(Count("NXMODEL.TB6006_CCTVMODEINFO"), 0);
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON"), 0);
    EXPECT_TRUE(plug->m_displayModes.empty());
    EXPECT_EQ(ModifyDisplayMode(&mode, plug.get()), 0);  // no mode row left
}

screenset Window(int count, int index, const char* station, const char* code) {
    screenset w{};
    w.screenCount = count;
    w.windowIndex = index;
    w.camera = Screen(station, code);
    return w;
}

TEST_P(DisplayStore, ScreenUpdatesRefuseBadCountsAndWindowsWithOneLogLine) {
    auto plug = MakePlugIn();
    screenset two = Window(2, 0, "S", "C");
    screenset nine = Window(8, 8, "S", "C");
    EXPECT_EQ(UpdateScreenInfo(&two, plug.get()), 0);
    EXPECT_EQ(UpdateScreenInfo(&nine, plug.get()), 0);
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON"), 0);
    EXPECT_EQ(Count("NXMODEL.TB6008_CCTVCURMON"), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("[UpdateScreenInfo] >>> screenNum: 2, screenIndex: 0, stationName:S"),
              std::string::npos);
    EXPECT_NE(log.find("[UpdateScreenInfo] >>> screenNum: 8, screenIndex: 8, stationName:S"),
              std::string::npos);
}

TEST_P(DisplayStore, FirstScreenUpdateInsertsLayoutAndCurrentMonitorSecondUpdatesThem) {
    auto plug = MakePlugIn();
    screenset w0 = Window(4, 0, "Train 1", "CAM1");
    ASSERT_EQ(UpdateScreenInfo(&w0, plug.get()), 1);
    const int layoutNo = plug->m_current.layout.F6005_NO;
    const int curNo = plug->m_current.F6008_NO;
    EXPECT_GT(layoutNo, 0);
    Rows cur =
        Select("select F6008_NO,F6005_NO from NXMODEL.TB6008_CCTVCURMON where F0101_PTZPLEVEL=3");
    ASSERT_EQ(cur.size(), 1u);
    EXPECT_EQ(cur[0], (std::vector<std::string>{std::to_string(curNo), std::to_string(layoutNo)}));
    screenset w1 = Window(4, 1, "Train 2", "CAM2");
    ASSERT_EQ(UpdateScreenInfo(&w1, plug.get()), 1);
    EXPECT_EQ(plug->m_current.layout.F6005_NO, layoutNo);
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON"), 1);
    EXPECT_EQ(
        Select("select F6005_SCR1CAMERAGB,F6005_SCR2CAMERAGB from NXMODEL.TB6005_CCTVGBMON")[0],
        (std::vector<std::string>{"CAM1", "CAM2"}));
}

TEST_P(DisplayStore, CurrentMonitorNumberIsTheLevelsOwnRow) {
    ASSERT_EQ(Exec("INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (3,1)"),
              1);
    ASSERT_EQ(Exec("INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (1,1)"),
              1);
    const std::string own =
        Select("select F6008_NO from NXMODEL.TB6008_CCTVCURMON where F0101_PTZPLEVEL=3")[0][0];
    auto plug = MakePlugIn();
    screenset w0 = Window(1, 0, "Train 1", "CAM1");
    ASSERT_EQ(UpdateScreenInfo(&w0, plug.get()), 1);
    EXPECT_EQ(std::to_string(plug->m_current.F6008_NO), own);
    EXPECT_EQ(Count("NXMODEL.TB6008_CCTVCURMON"), 2);
}

TEST_P(DisplayStore, CurrentDisplayChoosesTheWindowRangeFromTheCurrentScreen) {
    auto plug = MakePlugIn();
    DispatcherMonitorInfo d{};
    d.layout.F6005_SCREENCOUNT = 8;
    d.curScreenNum = 2;
    d.layout.screens[1] = Screen("Train 1", "CAM1");
    ASSERT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 1);
    EXPECT_GT(d.F6008_NO, 0);
    EXPECT_GT(d.layout.F6005_NO, 0);
    EXPECT_EQ(plug->m_newSelection, 1);
    d.curScreenNum = 5;
    ASSERT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 1);
    const std::string log = Log();
    EXPECT_NE(log.find("(8) BEFORE -->>>> switch camera >>> Cur_ScreenNum: 2, screenNum: 8, "
                       "start: 0, stop: 4"),
              std::string::npos);
    EXPECT_NE(log.find("(8) BEFORE -->>>> switch camera >>> Cur_ScreenNum: 5, screenNum: 8, "
                       "start: 4, stop: 0"),
              std::string::npos);
    EXPECT_NE(log.find("All Camera in Screen is empty! Switch SCREEN >>> screenNum: 8"),
              std::string::npos);
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON"), 1);
    d.layout.F6005_SCREENCOUNT = 3;
    EXPECT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 0);
}

TEST_P(DisplayStore, SingleScreenDisplayRemembersTheSelectedCamera) {
    auto plug = MakePlugIn();
    DispatcherMonitorInfo d{};
    d.layout.F6005_SCREENCOUNT = 1;
    d.curWindow = 3;
    d.curMonitor = 2;
    ASSERT_EQ(UpdateCurDisplayInfo(&d, false, true, plug.get()), 1);
    EXPECT_EQ(plug->m_curCamera, 3);
    EXPECT_EQ(plug->m_curMonitor, 2);
    EXPECT_EQ(plug->m_newSelection, 0);
    EXPECT_EQ(plug->m_current.curWindow, 0);  // reset
}

// The operator's layout row is the one the level's current monitor row points at: another
// number, or none, handed in does not move the write elsewhere.
TEST_P(DisplayStore, CurrentDisplayAlwaysWritesTheLayoutTheCurrentMonitorPointsAt) {
    auto plug = MakePlugIn();
    _DisplayModeInfo mode{};
    mode.layout.F6005_SCREENCOUNT = 1;
    mode.layout.screens[0] = Screen("Train 5", "MODE");
    ASSERT_EQ(AddDisplayMode(&mode, plug.get()), 1);
    DispatcherMonitorInfo d{};
    d.layout.F6005_SCREENCOUNT = 1;
    d.layout.screens[0] = Screen("Train 1", "CAM1");
    ASSERT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 1);
    const int own = d.layout.F6005_NO;
    auto first = [&](const std::string& sql) {
        const Rows rows = Select(sql);
        return rows.empty() ? std::string("<no row>") : rows[0][0];
    };
    auto pointedAt = [&] {
        return first("select F6005_NO from NXMODEL.TB6008_CCTVCURMON where F0101_PTZPLEVEL=3");
    };
    auto codeOf = [&](int layout) {
        return first("select F6005_SCR1CAMERAGB from NXMODEL.TB6005_CCTVGBMON where F6005_NO=" +
                     std::to_string(layout));
    };
    const struct {
        const char* name;
        int handedIn;
    } cases[] = {{"a display mode's layout", mode.layout.F6005_NO}, {"no layout", 0}};
    for (const auto& c : cases) {
        d.layout.F6005_NO = c.handedIn;
        d.layout.screens[0] = Screen("Train 2", c.name);
        ASSERT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 1) << c.name;
        EXPECT_EQ(d.layout.F6005_NO, own) << c.name;
        EXPECT_EQ(plug->m_current.layout.F6005_NO, own) << c.name;
        EXPECT_EQ(pointedAt(), std::to_string(own)) << c.name;
        EXPECT_EQ(codeOf(own), c.name);
        EXPECT_EQ(codeOf(mode.layout.F6005_NO), "MODE") << c.name;
    }
    // A layout row removed meanwhile is stored afresh and the current monitor follows it.
    ASSERT_EQ(Exec("DELETE FROM NXMODEL.TB6005_CCTVGBMON WHERE F6005_NO=" + std::to_string(own)),
              1);
    ASSERT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 1);
    EXPECT_NE(d.layout.F6005_NO, own);
    EXPECT_EQ(pointedAt(), std::to_string(d.layout.F6005_NO));
    EXPECT_EQ(codeOf(d.layout.F6005_NO), "no layout");
}

// Chinese text filling a whole field loses its last whole character, not half of one, so the
// database accepts the insert and the update.
TEST_P(DisplayStore, FullFieldsOfChineseTextAreStoredCutOnACharacter) {
    auto plug = MakePlugIn();
    std::string full;
    for (int i = 0; i < 22; ++i)
        full += "\xC9\xE3";
    const std::string stored = full.substr(0, 42);
    for (int index : {0, 1}) {  // the first stores the layout, the second updates it
        screenset w = Window(4, index, "", "CAM");
        std::memcpy(w.camera.stationName, full.data(), sizeof w.camera.stationName);
        ASSERT_EQ(UpdateScreenInfo(&w, plug.get()), 1) << index;
    }
    EXPECT_EQ(Select("select F6005_SCR1STANAME,F6005_SCR2STANAME from NXMODEL.TB6005_CCTVGBMON"),
              (Rows{{stored, stored}}));
}

// A statement the database refuses is a failure the caller hears of, with the reason logged;
// the display in memory stays what is stored.
TEST_P(DisplayStore, RefusedStatementsAreReportedAsFailures) {
    auto plug = MakePlugIn();
    screenset w0 = Window(4, 0, "Train 1", "CAM1");
    ASSERT_EQ(UpdateScreenInfo(&w0, plug.get()), 1);
    screenset bad = Window(4, 1, "\xFF\xFE", "CAM2");  // not GBK
    EXPECT_EQ(UpdateScreenInfo(&bad, plug.get()), 0);
    EXPECT_EQ(plug->m_current.layout.screens[1].cameraCode[0], '\0');
    DispatcherMonitorInfo d = plug->m_current;
    d.layout.screens[2] = bad.camera;
    EXPECT_EQ(UpdateCurDisplayInfo(&d, true, false, plug.get()), 0);

    _DisplayModeInfo mode{};
    mode.layout.F6005_SCREENCOUNT = 1;
    ASSERT_EQ(AddDisplayMode(&mode, plug.get()), 1);
    CopyText(mode.F6006_DESC, "\xFF");
    EXPECT_EQ(ModifyDisplayMode(&mode, plug.get()), 0);
    const std::string log = Log();
    for (const char* line : {"[updateItem_MonitorInfo] >>> update failed: UPDATE",
                             "[ModifyDisplayMode] update failed: UPDATE"}) {
        const std::size_t at = log.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_NE(log.find("reason: invalid GBK", at), std::string::npos) << line;
    }
}

TEST_P(DisplayStore, ARefusedCurrentMonitorRowFailsTheStore) {
    ASSERT_EQ(
        Exec("INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (3,77)"), 1);
    RefuseWrites("TB6008_CCTVCURMON", "UPDATE");
    auto plug = MakePlugIn();
    screenset w0 = Window(1, 0, "Train 1", "CAM1");
    EXPECT_EQ(UpdateScreenInfo(&w0, plug.get()), 0);
    EXPECT_EQ(plug->m_current.F6008_NO, 0);
    EXPECT_EQ(Select("select F6005_NO from NXMODEL.TB6008_CCTVCURMON"), (Rows{{"77"}}));
    EXPECT_NE(Log().find("refused by the test"), std::string::npos);
}

TEST_P(DisplayStore, AFailedDisplayModeInsertReturnsNothingAndKeepsNothing) {
    auto plug = MakePlugIn();
    _DisplayModeInfo badLayout{};
    badLayout.layout.F6005_SCREENCOUNT = 1;
    badLayout.layout.screens[0] = Screen("\x81\x20", "CAM1");  // not GBK
    EXPECT_EQ(AddDisplayMode(&badLayout, plug.get()), 0);
    EXPECT_EQ(Count("NXMODEL.TB6005_CCTVGBMON"), 0);
    _DisplayModeInfo badMode{};
    badMode.layout.F6005_SCREENCOUNT = 1;
    CopyText(badMode.F6006_DESC, "\xFF");
    EXPECT_EQ(AddDisplayMode(&badMode, plug.get()), 0);
    EXPECT_EQ(badMode.F6006_NO, 0);
    EXPECT_EQ(Count("NXMODEL.TB6006_CCTVMODEINFO"), 0);
    EXPECT_TRUE(plug->m_displayModes.empty());
    const std::string log = Log();
    EXPECT_NE(log.find("[insertItem_MonitorInfo] >>> failed to dboption.ExecuteCmd, err = 0 "
                       "reason: invalid GBK"),
              std::string::npos);
    EXPECT_NE(log.find("[AddDisplayMode] insert failed: INSERT"), std::string::npos);
}

TEST_P(DisplayStore, PositionsReadTheirLevelsLayoutsCappedAtEightScreens) {
    ASSERT_EQ(Exec("INSERT INTO NXMODEL.TB6003_CAMERAINFO (F6003_CAMERAGB,F6003_CAMERANAME) VALUES "
                   "('CAM1','Front')"),
              1);
    ASSERT_EQ(Exec("INSERT INTO NXMODEL.TB6005_CCTVGBMON (F6005_SCREENCOUNT,F6005_SCR1STANAME,"
                   "F6005_SCR1CAMERAGB,F6005_SCR6STANAME,F6005_SCR6CAMERAGB) VALUES "
                   "(12,'Train 1','CAM1','Train 6','GONE')"),
              1);
    const std::string layoutNo = Select("select max(F6005_NO) from NXMODEL.TB6005_CCTVGBMON")[0][0];
    ASSERT_EQ(Exec("INSERT INTO NXMODEL.TB6008_CCTVCURMON (F0101_PTZPLEVEL,F6005_NO) VALUES (2," +
                   layoutNo + ")"),
              1);
    auto plug = MakePlugIn();
    plug->m_positionTable[2] = 2;  // position 2 is level 2
    plug->m_positionTable[1] = 7;  // position 1: a level without a row
    LoadPositionDisplays(*plug);
    const DispatcherMonitorInfo& p2 = plug->m_positionInfo[1];
    EXPECT_EQ(std::to_string(p2.layout.F6005_NO), layoutNo);
    EXPECT_EQ(p2.layout.F6005_SCREENCOUNT, 8);
    EXPECT_STREQ(p2.layout.screens[0].cameraName, "Front");
    EXPECT_STREQ(p2.layout.screens[5].stationName, "Train 6");
    EXPECT_EQ(plug->m_positionInfo[0].layout.F6005_NO, 0);
    EXPECT_NE(
        Log().find("[getCameraNameByGB] : failed to find record in TB6003_CAMERAINFO by gb GONE"),
        std::string::npos);
}

TEST_P(DisplayStore, UpdateScreenInfoByDevNumberLooksOnlyAtTheCode) {
    auto plug = MakePlugIn();
    ScreenCamera s = Screen("S", "");
    EXPECT_EQ(UpdateScreenInfoByDevNumber(&s, plug.get()), 0);
    CopyText(s.cameraCode, "CAM");
    EXPECT_EQ(UpdateScreenInfoByDevNumber(&s, plug.get()), 1);
}

NX_STORE_BACKENDS(DisplayStore);

}  // namespace
