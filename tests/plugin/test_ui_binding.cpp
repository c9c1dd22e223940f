// Opening the view: the UI library is found by name, handed the placement, the data block and
// the function table, refreshed, and closed and unloaded when the plug-in goes.
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "NxDbAdmin.h"
#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"

namespace {

class UiBinding : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_journal = m_root->path() + "/ui_journal.txt";
        setenv("TEST_UI_JOURNAL", m_journal.c_str(), 1);
        UseUi("TestUi");
    }
    void TearDown() override {
        unsetenv("TEST_UI_JOURNAL");
        StoreTest::TearDown();
    }
    void UseUi(const std::string& name) {
        m_root->write("cfg/Q7cctvUi_replay.ini", SettingsIni(name));
    }
    std::vector<std::string> Journal() const {
        std::ifstream in(m_journal);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Events() const {  // the first word of each line
        std::vector<std::string> words;
        for (const std::string& line : Journal()) {
            const std::string word = line.substr(0, line.find(' '));
            if (word == "ShowDialog" || word == "CloseDialog" || word == "unload" ||
                word == "AutoRefresh" || word == "AutoRefreshTour")
                words.push_back(word);
        }
        return words;
    }
    bool JournalHas(const std::string& text) const {
        for (const std::string& line : Journal())
            if (line == text)
                return true;
        return false;
    }
    void SeedReference() {
        Exec(
            "INSERT INTO NXMODEL.TB6000_STATIONINFO (F6000_TYPE,F6000_NO,F6000_NAME) VALUES "
            "(99,1,'Line 3 trains')");
        Exec(
            "INSERT INTO NXMODEL.TB6000_STATIONINFO (F6000_TYPE,F6000_NO,F6000_NAME) VALUES "
            "(1,1,'Depot')");
        Exec("INSERT INTO NXMODEL.TB6001_ZONE1INFO VALUES (99,7,'Train 7')");
        Exec("INSERT INTO NXMODEL.TB6002_ZONE2INFO VALUES (99,7,1,'Car 1')");
        Exec("INSERT INTO NXMODEL.TB6002_ZONE2INFO VALUES (99,7,2,'Car 2')");
        Exec("INSERT INTO NXMODEL.TB6004_MONITORINFO VALUES ('MON-3','DEC-3',2,4,3)");
        Exec("INSERT INTO NXMODEL.TB6004_MONITORINFO VALUES ('MON-1','DEC-1',1,1,1)");
        Exec(
            "INSERT INTO NXMODEL.TB6003_CAMERAINFO (F6003_IP,F6003_LINE,F6003_STATION,"
            "F6003_CAMERAGB,F6003_CAMERANAME) VALUES ('ip',3,99,'00300990070200100001','c')");
    }

    std::string m_journal;
};

TEST_P(UiBinding, OpenViewHandsPlacementDataAndFunctionTableToTheUi) {
    SeedReference();
    auto plug = MakePlugIn();
    CVGHostWindow parent(0x1234, 600);
    ASSERT_EQ(plug->OpenView(&parent, 10, 300, 410, 500, 0, 0, 0), 1);
    char addCamera[64];
    std::snprintf(addCamera, sizeof addCamera, "api entries=22 AddCameraInfo=%p",
                  reinterpret_cast<void*>(&AddCameraInfo));
    char blocks[128];
    std::snprintf(blocks, sizeof blocks, "blocks=%p count=6 hostContext=%p",
                  static_cast<void*>(plug->m_positionBlocks), static_cast<void*>(plug.get()));
    // y is measured from the bottom of the parent: 600 - 500.
    EXPECT_TRUE(
        JournalHas("ShowDialog hostWindow=4660 reserved=0 x=10 y=100 width=400 height=200 "
                   "rgb=10,20,44"));
    EXPECT_TRUE(JournalHas(addCamera));
    EXPECT_TRUE(JournalHas("grpArr count=1 dispatch=1"));
    EXPECT_TRUE(JournalHas("stations count=1 first=99,1,Line 3 trains"));
    EXPECT_TRUE(JournalHas("monitors first=MON-3,DEC-3,2,4"));
    EXPECT_TRUE(JournalHas("cameras count=1 first=00300990070200100001"));
    EXPECT_TRUE(JournalHas("zones z1=1 z2=2"));
    EXPECT_TRUE(JournalHas(blocks));
    EXPECT_TRUE(JournalHas("callback=1"));
    EXPECT_NE(Log().find("LoadLibrary yes"), std::string::npos);
    EXPECT_STREQ(plug->m_dllName, "TestUid.dll");
}

TEST_P(UiBinding, RefreshCallsReachTheUiWithSixBlocksAndTheTours) {
    Exec("INSERT INTO NXMODEL.TB6009_CCTVTOURINFO VALUES (1,'t',5,3)");
    Exec("INSERT INTO NXMODEL.TB6009_CCTVTOURINFO VALUES (2,'other level',5,1)");
    Exec("INSERT INTO NXMODEL.TB6010_TOURGBCAMERA VALUES (1,'s','n','c',1)");
    auto plug = MakePlugIn();
    EXPECT_EQ(UpdateUiState(plug.get()), 0);  // nothing loaded yet
    EXPECT_EQ(UpdateTourInfo(plug.get()), 0);
    CVGHostWindow parent(77, 480);
    ASSERT_EQ(plug->OpenView(&parent, 0, 0, 100, 100, 0, 0, 0), 1);
    EXPECT_EQ(UpdateUiState(plug.get()), 1);
    EXPECT_EQ(UpdateTourInfo(plug.get()), 1);
    EXPECT_TRUE(JournalHas("AutoRefresh count=6 hostWindow=77 api=1 info2=0 grpArr=0"));
    EXPECT_TRUE(JournalHas("AutoRefreshTour hostWindow=77 tours=1 cameras=1"));
    EXPECT_EQ(UpdateUiState(nullptr), 0);
    EXPECT_EQ(UpdateTourInfo(nullptr), 0);
}

TEST_P(UiBinding, DestructionClosesTheFormThenUnloadsAndASecondOpenReplacesTheFirst) {
    auto plug = MakePlugIn();
    CVGHostWindow first(5, 100);
    CVGHostWindow second(6, 100);
    ASSERT_EQ(plug->OpenView(&first, 0, 0, 10, 10, 0, 0, 0), 1);
    ASSERT_EQ(plug->OpenView(&second, 0, 0, 10, 10, 0, 0, 0), 1);
    plug.reset();
    EXPECT_EQ(Events(), (std::vector<std::string>{"ShowDialog", "CloseDialog", "unload",
                                                  "ShowDialog", "CloseDialog", "unload"}));
    EXPECT_TRUE(JournalHas("CloseDialog hostWindow=5"));
    EXPECT_TRUE(JournalHas("CloseDialog hostWindow=6"));
}

TEST_P(UiBinding, MissingLibraryIsLoggedAndTheViewStaysClosed) {
    UseUi("NoSuchUi");
    auto plug = MakePlugIn();
    CVGHostWindow parent(5, 100);
    EXPECT_EQ(plug->OpenView(&parent, 0, 0, 10, 10, 0, 0, 0), 0);
    EXPECT_NE(Log().find("LoadLibrary failed, nError: 126 ,m_dllName:NoSuchUid.dll "),
              std::string::npos);
    EXPECT_EQ(plug->m_uiLibrary, nullptr);
    EXPECT_EQ(UpdateUiState(plug.get()), 0);
    EXPECT_TRUE(Journal().empty());
}

TEST_P(UiBinding, MissingExportsAreSkipped) {
    UseUi("TestUiPartial.dll");
    auto plug = MakePlugIn();
    CVGHostWindow parent(5, 100);
    EXPECT_EQ(plug->OpenView(&parent, 0, 0, 10, 10, 0, 0, 0), 1);
    EXPECT_EQ(UpdateUiState(plug.get()), 0);
    EXPECT_EQ(UpdateTourInfo(plug.get()), 0);
    plug.reset();
    EXPECT_EQ(Events(), (std::vector<std::string>{"ShowDialog", "unload"}));
}

TEST_P(UiBinding, NamesTooLongForTheirFieldAreRefused) {
    UseUi(std::string(40, 'u'));
    auto plug = MakePlugIn();
    CVGHostWindow parent(5, 100);
    EXPECT_EQ(plug->OpenView(&parent, 0, 0, 10, 10, 0, 0, 0), 0);
    EXPECT_NE(Log().find("[ReadSettings] uiLibrary too long (40 characters, at most 31)"),
              std::string::npos);
    UseUi(std::string(28, 'u'));  // fits, but not once "d.dll" is appended
    auto second = MakePlugIn();
    EXPECT_EQ(second->OpenView(&parent, 0, 0, 10, 10, 0, 0, 0), 0);
    EXPECT_NE(Log().find("[OpenView] uiLibrary name too long: " + std::string(28, 'u') + "d.dll"),
              std::string::npos);
    EXPECT_EQ(plug->OpenView(nullptr, 0, 0, 10, 10, 0, 0, 0), 0);
    EXPECT_NE(Log().find("[OpenView] no parent window, view not opened"), std::string::npos);
    EXPECT_TRUE(Journal().empty());
}

TEST_P(UiBinding, StationAndMonitorListsAreCapped) {
    for (int i = 0; i < 262; ++i)
        Exec("INSERT INTO NXMODEL.TB6000_STATIONINFO VALUES (99," + std::to_string(i) + ",'s')");
    Exec("INSERT INTO NXMODEL.TB6001_ZONE1INFO VALUES (99,7,'Train 7')");
    Exec("INSERT INTO NXMODEL.TB6002_ZONE2INFO VALUES (99,7,1,'Car 1')");
    for (int i = 0; i < 10; ++i)
        Exec("INSERT INTO NXMODEL.TB6004_MONITORINFO VALUES ('M" + std::to_string(i) +
             "','D',1,1,3)");
    auto plug = MakePlugIn();
    plug->LoadStations();
    EXPECT_EQ(plug->m_stationCount, 260);
    EXPECT_STREQ(plug->m_monitors[7].F6004_DECODER, "D");
}

TEST_P(UiBinding, RoleLevelAndSettingsFollowTheEnvironment) {
    setenv("NX_USER", "op2", 1);
    auto supervisor = MakePlugIn();
    EXPECT_EQ(supervisor->m_ptzLevel, 5);
    EXPECT_NE(Log().find("Current ptz level: 5"), std::string::npos);
    EXPECT_EQ(supervisor->m_metro, 3);
    EXPECT_EQ(supervisor->m_background, 10u | (20u << 8) | (44u << 16));
    EXPECT_EQ(supervisor->m_bgConsistent, 1);
    setenv("NX_USER", "stranger", 1);
    EXPECT_EQ(MakePlugIn()->m_ptzLevel, 0);
    unsetenv("NXROOT");
    auto bare = MakePlugIn();
    EXPECT_EQ(bare->m_metro, 0);
    EXPECT_EQ(bare->m_background, 0u);
    EXPECT_STREQ(bare->m_dllName, "");
}

TEST_P(UiBinding, TheDemoDataSetFeedsTheView) {
    std::string error;
    ASSERT_TRUE(nxdb::loadDemo(true, &error)) << error;
    auto plug = MakePlugIn();
    EXPECT_EQ(plug->m_zoneInfo.zone1Count, 10);
    EXPECT_EQ(plug->m_zoneInfo.zone2Count, 60);
    EXPECT_NE(plug->m_monitors[0].F6004_MONITOR[0], '\0');
    CVGHostWindow parent(9, 700);
    ASSERT_EQ(plug->OpenView(&parent, 0, 0, 100, 100, 0, 0, 0), 1);
    EXPECT_TRUE(JournalHas("stations count=1 first=99,99,3\xBA\xC5\xCF\xDF\xC1\xD0\xB3\xB5"));
    EXPECT_EQ(plug->m_sipCameras.count, 240);
    EXPECT_EQ(UpdateTourInfo(plug.get()), 1);
    EXPECT_EQ(plug->m_tours.count, 0);  // the demo tours belong to levels 1 and 2
    EXPECT_GT(plug->m_tourCameras.count, 0);
}

INSTANTIATE_TEST_SUITE_P(Db, UiBinding, ::testing::Values(Backend::SQLite), BackendName);

}  // namespace
