#include "LogRules.h"

#include <gtest/gtest.h>

#include <set>

using namespace nxlog;

TEST(LogRules, LevelFilterTable) {
    struct Row {
        int debugLevel;
        bool passes[4];
    } rows[] = {
        {0, {true, false, false, false}}, {1, {true, true, false, false}},
        {2, {true, true, true, false}},   {3, {true, true, true, true}},
        {5, {true, true, true, true}},    {6, {false, false, true, false}},
        {7, {true, true, true, true}},    {-1, {false, false, false, false}},
    };
    for (const auto& r : rows)
        for (int level = 0; level < 4; ++level)
            EXPECT_EQ(levelPasses(level, r.debugLevel), r.passes[level])
                << "DebugLevel " << r.debugLevel << " level " << level;
}

TEST(LogRules, PrintfLevelZeroOnlyRefusesLevelSix) {
    EXPECT_TRUE(printfLevelPasses(0, -1));
    EXPECT_TRUE(printfLevelPasses(0, -100));
    EXPECT_FALSE(printfLevelPasses(0, 6));
    EXPECT_FALSE(printfLevelPasses(1, -1));
    EXPECT_TRUE(printfLevelPasses(2, 6));
}

TEST(LogRules, DateAndTimeTextsOfEachBuild) {
    EXPECT_EQ(dateText(2026, 12, 7), "2026-12-07");
    EXPECT_EQ(timeText(Build::UiLibrary, 9, 5, 7, 42), "09:05::07:042");
    EXPECT_EQ(timeText(Build::PlugIn, 9, 5, 7, 42), "09:05:07:0042");
    EXPECT_EQ(timeText(Build::UiLibrary, 23, 59, 59, 999), "23:59::59:999");
}

TEST(LogRules, ArchiveNamesHaveAtLeastThreeDigits) {
    EXPECT_EQ(archiveName("/l/Quorlaui.log", 0), "/l/Quorlaui.log.000");
    EXPECT_EQ(archiveName("/l/Quorlaui.log", 42), "/l/Quorlaui.log.042");
    EXPECT_EQ(archiveName("/l/Quorlaui.log", 1234), "/l/Quorlaui.log.1234");
}

TEST(LogRules, ArchivePlans) {
    struct Row {
        const char* name;
        int maxFiles;
        std::set<int> present;
        int slot;
        bool purge;
    } rows[] = {
        {"empty", 3, {}, 0, false},
        {"only .001 present", 3, {1}, 0, false},
        {"fills upward", 3, {0, 1}, 2, false},
        {"all three present", 3, {0, 1, 2}, 0, true},
        {"no slots, .000 free", 0, {}, 0, false},
        {"no slots, .000 taken", 0, {0}, 0, false},
        {"negative count", -4, {}, 0, false},
    };
    for (const auto& r : rows) {
        ArchivePlan p = planArchive(r.maxFiles, [&](int i) { return r.present.count(i) > 0; });
        EXPECT_EQ(p.slot, r.slot) << r.name;
        EXPECT_EQ(p.purgeAll, r.purge) << r.name;
    }
}

TEST(LogRules, ProfileNumbersOfBothReaders) {
    EXPECT_EQ(profileNumber(nullptr, 512), 512);
    EXPECT_EQ(profileNumber("7", 512), 7);
    EXPECT_EQ(profileNumber("-1", 0), -1);
    EXPECT_EQ(profileNumber("abc", 512), 0);
    EXPECT_EQ(profileNumber("", 512), 0);
    EXPECT_EQ(profileNumber("12abc", 0), 12);       // private-profile reader
    EXPECT_EQ(profileNumber("12abc", 0, true), 0);  // settings object: whole text or 0
    EXPECT_EQ(profileNumber(" 12 ", 0, true), 12);
}

TEST(LogRules, Utf16ToUtf8) {
    EXPECT_EQ(utf16ToUtf8(u"abc"), "abc");
    EXPECT_EQ(utf16ToUtf8(u"摄像机"), "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA");
    EXPECT_EQ(utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
