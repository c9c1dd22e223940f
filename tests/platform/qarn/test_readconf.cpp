#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "CReadConf.h"

namespace {

class ReadConf : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(m_path) << "[General]\nmetro=12\nbgConsistent=true\nbackground_red=0x20\n"
                                 "uiLibrary = Quorlaui.dll ; the replay page\nmetro=99\n"
                                 "[Other]\nmetro=7\noff=0\n";
    }
    void TearDown() override { std::remove(m_path.c_str()); }
    std::string m_path = "/tmp/nx-readconf-" + std::to_string(::getpid()) + ".ini";
};

TEST_F(ReadConf, ReadsSectionAndKeyWithTheFirstValueWinning) {
    CReadConf conf(m_path);
    ASSERT_TRUE(conf.IsLoaded());
    EXPECT_EQ(conf.GetLong("General", "metro", "0"), 12);
    EXPECT_EQ(conf.GetLong("general", "METRO", "0"), 12);
    EXPECT_EQ(conf.GetLong("Other", "metro", "0"), 7);
    EXPECT_EQ(conf.GetString("General", "uiLibrary", ""), "Quorlaui.dll");
    EXPECT_TRUE(conf.GetBool("General", "bgConsistent", "0"));
    EXPECT_FALSE(conf.GetBool("Other", "off", "1"));
    EXPECT_EQ(conf.GetLong("General", "background_red", "5"), 0);  // decimal only
}

TEST_F(ReadConf, MissingKeysSectionsAndFilesGiveTheDefault) {
    CReadConf conf(m_path);
    EXPECT_EQ(conf.GetLong("General", "background_blue", "0"), 0);
    EXPECT_EQ(conf.GetLong("Nowhere", "metro", "3"), 3);
    EXPECT_EQ(conf.GetString("General", "missing", "dflt"), "dflt");
    CReadConf none("/nonexistent/dir/x.ini");
    EXPECT_FALSE(none.IsLoaded());
    EXPECT_EQ(none.GetLong("General", "metro", "0"), 0);
    EXPECT_FALSE(none.GetBool("General", "bgConsistent", "0"));
    EXPECT_EQ(none.GetString("General", "uiLibrary", ""), "");
}

}  // namespace
