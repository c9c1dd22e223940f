// Input a UI library or the network could hand over: nulls, texts without their NUL, quotes and
// semicolons, bytes that are not GBK.
#include <cstring>
#include <memory>
#include <thread>

#include "Layouts.h"
#include "PlugInApi.h"
#include "PlugTestEnv.h"
#include "SqlText.h"

namespace {

TEST(SqlText, QuotesAreDoubledAndFieldsReadOnlyToTheirSize) {
    EXPECT_EQ(SqlQuoted("it's ''x"), "it''s ''''x");
    char unterminated[4] = {'a', '\'', 'c', 'd'};
    EXPECT_EQ(SqlFormat("v='%s' n=%d", unterminated, 7), "v='a''c' n=7");
    EXPECT_EQ(SqlFormat("%s", std::string(5000, 'x')).size(), 5000u);
    char field[5];
    CopyText(field, "abcdefgh");
    EXPECT_STREQ(field, "abcd");
    CopyText(field, "abcdefgh", 2);
    EXPECT_STREQ(field, "ab");
    CopyText(field, nullptr);
    EXPECT_STREQ(field, "");
}

// A cut never splits a character: the half would be invalid GBK and refused by the database.
TEST(SqlText, CopiesStopAtACharacterBoundary) {
    const char* gbk = "\xC9\xE3\xCF\xF1\xBB\xFA";  // three two-byte characters
    char five[6];
    CopyText(five, gbk);
    EXPECT_STREQ(five, "\xC9\xE3\xCF\xF1");
    char four[5];
    CopyText(four, "a\x81\x30\x81\x30");  // a four-byte GB18030 character does not fit
    EXPECT_STREQ(four, "a");
    const char source[4] = {'x', '\xC9', '\xE3', 'y'};  // unterminated source
    char three[3];
    CopyField(three, source);
    EXPECT_STREQ(three, "x");
    CopyText(five, "abcdefgh");
    EXPECT_STREQ(five, "abcde");
}

// GbkFit never counts past the text, also where the text ends inside a character.
TEST(SqlText, FitStaysInsideTheTextAndOnCharacterBoundaries) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t limit, fit;
    };
    const Case cases[] = {
        {"four-byte character that fits", "\x81\x30\x81\x30", 4, 4},
        {"lead and digit ending the text", "a\x81\x30", 10, 3},
        {"lone lead ending the text", "a\x81", 10, 2},
        {"lone lead cut off", "a\x81", 1, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GbkFit(c.text.data(), c.text.size(), c.limit), c.fit) << c.name;
    // Exactly its bytes on the heap: a read past the NUL is an error under ASan.
    std::unique_ptr<char[]> tail(new char[4]{'a', '\x81', '\x30', '\0'});
    char field[16];
    CopyText(field, tail.get());
    EXPECT_STREQ(field, "a\x81\x30");
}

// A field filled to its last byte with Chinese text loses its last whole character, not half.
TEST(SqlText, FullFieldsOfChineseTextEndOnACharacter) {
    ScreenCamera s{};
    for (std::size_t i = 0; i < sizeof s.stationName; i += 2) {
        s.stationName[i] = '\xC9';
        s.stationName[i + 1] = '\xE3';
    }
    const std::string whole(s.stationName, 42);
    EXPECT_EQ(SqlFormat("'%s'", s.stationName), "'" + whole + "'");
    TerminateScreen(s);
    EXPECT_EQ(std::string(s.stationName), whole);
}

class Hostile : public StoreTest {};

TEST_P(Hostile, NullArgumentsNeitherCrashNorWrite) {
    auto plug = MakePlugIn();
    void* p = plug.get();
    UpdateCamerasByGroup(0, nullptr, p);
    CameraDescList list{};
    UpdateCamerasByGroup(0, &list, nullptr);
    EXPECT_EQ(UpdateScreenInfo(nullptr, p), 0);
    EXPECT_EQ(AddDisplayMode(nullptr, p), 0);
    EXPECT_EQ(ModifyDisplayMode(nullptr, p), 0);
    EXPECT_EQ(RemoveDisplayMode(0, nullptr), 0);
    EXPECT_EQ(UpdateCurDisplayInfo(nullptr, true, true, p), 0);
    EXPECT_EQ(AddFavorite(nullptr, p), 0);
    EXPECT_EQ(UpdateFavorite(nullptr, p), 0);
    EXPECT_EQ(RemoveFavorite(0, nullptr), 0);
    EXPECT_EQ(OperateOnCamera(nullptr, 2, 0, nullptr, p), 0);
    EXPECT_EQ(ScanRoundMode(nullptr, 3, nullptr, p), 0);
    EXPECT_EQ(UpdateScreenInfoByDevNumber(nullptr, p), 0);
    EXPECT_EQ(UpdateUiState(nullptr), 0);
    AddTourInfo(nullptr, nullptr, p);
    ModifyTourInfo(nullptr, nullptr, p);
    RemoveTourInfo(1, nullptr);
    EXPECT_EQ(UpdateTourInfo(nullptr), 0);
    EXPECT_EQ(OperateTour(nullptr, nullptr), 0);
    AddCameraInfo(nullptr, p);
    ModifyCameraInfo(nullptr, p);
    RemoveCameraInfo(nullptr);
    ModifyMonitor(nullptr, p);
    TourRow tour{};
    TourCameraList noRows{2, nullptr};
    AddTourInfo(&tour, &noRows, p);
    // Every record-less call with a plug-in leaves a line naming its operation.
    const std::string log = Log();
    for (const char* line :
         {"[UpdateScreenInfo] >>> no screen record", "[AddDisplayMode] no display mode record",
          "[UpdateCurDisplayInfo] >>> no display record", "[AddFavorite] no favourite record",
          "[TourInfoAdd] no tour or camera list", "[TourInfoModify] no tour or camera list",
          "[CameraInfoAdd] no camera record", "[CameraInfoModify] no camera record",
          "[TourInfoAdd] 2 cameras announced, none given", "[MonitorModify] no monitor list",
          "[ScanRoundMode] no control record", "[OperateOnCamera] no control record",
          "[UpdateScreenInfoByDevNumber] no camera record", "[getGroupCameras] : no result record"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    for (const char* table : {"NXMODEL.TB6005_CCTVGBMON", "NXMODEL.TB6007_CCTVGBFAV",
                              "NXMODEL.TB6009_CCTVTOURINFO", "NXMODEL.TB6003_CAMERAINFO"})
        EXPECT_EQ(Count(table), 0) << table;
}

TEST_P(Hostile, QuotesAndSemicolonsAreStoredAsText) {
    auto plug = MakePlugIn();
    const char* evil = "x'); DELETE FROM TB6003_CAMERAINFO; --";
    CameraRow keep{};
    CopyText(keep.F6003_CAMERAGB, "KEEP");
    AddCameraInfo(&keep, plug.get());
    CameraRow cam{};
    CopyText(cam.F6003_CAMERAGB, "EVIL';--");
    CopyText(cam.F6003_CAMERANAME, evil);
    AddCameraInfo(&cam, plug.get());
    ModifyCameraInfo(&cam, plug.get());
    _FavoriteInfo fav{};
    CopyText(fav.F6007_DESC, "';DROP TABLE TB6007_CCTVGBFAV;--");
    CopyText(fav.camera.cameraCode, "EVIL';--");
    ASSERT_EQ(AddFavorite(&fav, plug.get()), 1);
    Rows cams = Select(
        "select F6003_CAMERAGB,F6003_CAMERANAME from NXMODEL.TB6003_CAMERAINFO "
        "order by F6003_CAMERAGB");
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0], (std::vector<std::string>{"EVIL';--", evil}));
    EXPECT_EQ(Select("select F6007_DESC from NXMODEL.TB6007_CCTVGBFAV")[0][0],
              "';DROP TABLE TB6007_CCTVGBFAV;--");
}

TEST_P(Hostile, TextsWithoutTheirNulAreCutToTheirField) {
    auto plug = MakePlugIn();
    CameraRow cam;
    std::memset(&cam, 'A', sizeof cam);  // 300 bytes of text over the whole record
    cam.F6003_LINE = 3;
    AddCameraInfo(&cam, plug.get());
    Rows rows =
        Select("select F6003_IP,F6003_CAMERANAME,F6003_CAMERAGB from NXMODEL.TB6003_CAMERAINFO");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], std::string(23, 'A'));
    EXPECT_EQ(rows[0][1], std::string(255, 'A'));
    EXPECT_EQ(rows[0][2], std::string(23, 'A'));

    screenset w;
    std::memset(&w, 'B', sizeof w);
    w.screenCount = 4;
    w.windowIndex = 1;
    ASSERT_EQ(UpdateScreenInfo(&w, plug.get()), 1);
    EXPECT_EQ(std::strlen(plug->m_current.layout.screens[1].stationName), 43u);
    EXPECT_EQ(Select("select F6005_SCR2STANAME from NXMODEL.TB6005_CCTVGBMON")[0][0],
              std::string(43, 'B'));

    TourRow tour;
    std::memset(&tour, 'C', sizeof tour);
    TourCameraList none{0, nullptr};
    AddTourInfo(&tour, &none, plug.get());
    EXPECT_EQ(Select("select F6009_TOURDESC from NXMODEL.TB6009_CCTVTOURINFO")[0][0],
              std::string(135, 'C'));
}

TEST_P(Hostile, BytesThatAreNotGbkAreRefusedWithALogLine) {
    auto plug = MakePlugIn();
    CameraRow cam{};
    CopyText(cam.F6003_CAMERAGB, "CODE");
    CopyText(cam.F6003_CAMERANAME, "\x81\xFF\xFE bad");
    AddCameraInfo(&cam, plug.get());
    EXPECT_EQ(Count("NXMODEL.TB6003_CAMERAINFO"), 0);
    EXPECT_NE(Log().find("[CameraInfoAdd] error,cmdbuf:INSERT INTO NXMODEL.TB6003_CAMERAINFO"),
              std::string::npos);
    _FavoriteInfo fav{};
    CopyText(fav.F6007_DESC, "\xFF");
    EXPECT_EQ(AddFavorite(&fav, plug.get()), 0);
    EXPECT_TRUE(plug->m_favorites.empty());
    EXPECT_NE(Log().find("InsertFavorite return Error. INSERT INTO"), std::string::npos);
}

NX_STORE_BACKENDS(Hostile);

// Two workstations on one server add favourites and display modes at the same moment; each
// must read back the numbers of its own rows.
class TwoWorkstations : public StoreTest {};

TEST_P(TwoWorkstations, EachGetsTheNumbersOfItsOwnRows) {
    constexpr int kRounds = 25;
    auto a = MakePlugIn();
    auto b = MakePlugIn();
    auto work = [](CPlugOrvex* plug, const char* tag, std::vector<_FavoriteInfo>* favs,
                   std::vector<_DisplayModeInfo>* modes) {
        for (int i = 0; i < kRounds; ++i) {
            _FavoriteInfo f{};
            CopyText(f.F6007_DESC, (std::string(tag) + std::to_string(i)).c_str());
            CopyText(f.camera.cameraCode, tag);
            if (AddFavorite(&f, plug) == 1)
                favs->push_back(f);
            _DisplayModeInfo m{};
            CopyText(m.F6006_DESC, (std::string(tag) + std::to_string(i)).c_str());
            m.layout.F6005_SCREENCOUNT = 1;
            CopyText(m.layout.screens[0].cameraCode, tag);
            if (AddDisplayMode(&m, plug) == 1)
                modes->push_back(m);
        }
    };
    std::vector<_FavoriteInfo> favA, favB;
    std::vector<_DisplayModeInfo> modeA, modeB;
    std::thread ta(work, a.get(), "A", &favA, &modeA);
    std::thread tb(work, b.get(), "B", &favB, &modeB);
    ta.join();
    tb.join();
    ASSERT_EQ(favA.size() + favB.size(), 2u * kRounds);
    ASSERT_EQ(modeA.size() + modeB.size(), 2u * kRounds);
    for (const auto* favs : {&favA, &favB})
        for (const _FavoriteInfo& f : *favs)
            EXPECT_EQ(Select("select F6007_DESC from NXMODEL.TB6007_CCTVGBFAV where F6007_NO=" +
                             std::to_string(f.F6007_NO))[0][0],
                      f.F6007_DESC);
    for (const auto* modes : {&modeA, &modeB})
        for (const _DisplayModeInfo& m : *modes) {
            Rows row = Select(
                "select F6006_DESC,F6005_NO from NXMODEL.TB6006_CCTVMODEINFO where "
                "F6006_NO=" +
                std::to_string(m.F6006_NO));
            ASSERT_EQ(row.size(), 1u);
            EXPECT_EQ(row[0],
                      (std::vector<std::string>{m.F6006_DESC, std::to_string(m.layout.F6005_NO)}));
            EXPECT_EQ(Select("select F6005_SCR1CAMERAGB from NXMODEL.TB6005_CCTVGBMON where "
                             "F6005_NO=" +
                             std::to_string(m.layout.F6005_NO))[0][0],
                      m.layout.screens[0].cameraCode);
        }
}

NX_STORE_BACKENDS(TwoWorkstations);

}  // namespace
