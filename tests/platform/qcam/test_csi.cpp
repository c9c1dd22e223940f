#include <gtest/gtest.h>

#include "CScdCsi.h"

namespace {

TEST(SwitchingJournal, RecordsEveryCallWithItsArgumentsInOrder) {
    CScdCsi csi;
    std::vector<std::string> logged;
    csi.SetSink([&](const std::string& line) { logged.push_back(line); });
    csi.CCTV_Login(3);
    csi.CCTV_SelectCam("CAM", 3, 0, 1, 2, 2, 3, 255);
    csi.CCTV_SelectMon(nullptr);
    csi.CCTV_Scan(17);
    const std::vector<std::string> expected = {"CCTV_Login(3)",
                                               "CCTV_SelectCam(CAM,3,0,1,2,2,3,255)",
                                               "CCTV_SelectMon((null))", "CCTV_Scan(17)"};
    EXPECT_EQ(csi.Journal(), expected);
    ASSERT_EQ(logged.size(), 4u);
    EXPECT_EQ(logged[1], "[CScdCsi] CCTV_SelectCam(CAM,3,0,1,2,2,3,255)");
    csi.ClearJournal();
    EXPECT_TRUE(csi.Journal().empty());
}

}  // namespace
