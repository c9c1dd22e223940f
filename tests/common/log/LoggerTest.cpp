#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>

#include "LogTestSupport.h"
#include "Logger.h"

namespace {

std::string section(const std::string& name, const std::string& keys) {
    return "[" + name + "]\n" + keys;
}

// One platform root and one executable folder per test, NXROOT pointing at the root.
class LoggerTest : public ::testing::Test {
protected:
    TempDir root, exe;
    EnvGuard nxroot{"NXROOT", nullptr};

    void SetUp() override {
        makeDirs(root / "cfg");
        ::setenv("NXROOT", root.path().c_str(), 1);
    }
    void rootIni(const std::string& text) { writeFile(root / "cfg/debug.ini", text); }
    void exeIni(const std::string& text) { writeFile(exe / "debug.ini", text); }

    LogOptions ui() {
        LogOptions o = LogOptions::uiLibrary();
        o.exeDir = exe.path();
        return o;
    }
    LogOptions plugIn() {
        LogOptions o = LogOptions::plugIn();
        o.exeDir = exe.path();
        return o;
    }
    std::string uiLog() { return root / "log/QUORLA/Quorlaui.log"; }
};

const std::string kOn = "DebugFlag=1\nDebugLevel=3\n";

}  // namespace

// ---- where the configuration is found, and when the log is on ----

TEST_F(LoggerTest, RootConfigLogsUnderRoot) {
    rootIni(section("QUORLA", kOn));
    Logger log(ui());
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(log.logFilePath(), uiLog());
    EXPECT_EQ(log.lockName(), "QUORLA_Quorlaui.log");
    log.printTime3("hello %d", 1);
    EXPECT_NE(readFile(uiLog()).find("hello 1\n"), std::string::npos);
}

TEST_F(LoggerTest, ExecutableFolderFallbackWithoutRoot) {
    EnvGuard noRoot("NXROOT", nullptr);
    exeIni(section("QUORLA", kOn));
    Logger log(ui());
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(log.logFilePath(), exe / "log/QUORLA/Quorlaui.log");
}

TEST_F(LoggerTest, EmptyRootCountsAsUnset) {
    EnvGuard emptyRoot("NXROOT", "");
    exeIni(section("ORVEX", kOn));
    Logger log(plugIn());
    EXPECT_EQ(log.logFilePath(), exe / "log/ORVEX/plugin_Orvex.log");
}

TEST_F(LoggerTest, RootWithoutConfigUiLogsUnderRootPlugInUnderExecutable) {
    exeIni(section("QUORLA", kOn) + section("ORVEX", kOn));
    Logger uiLogger(ui());
    Logger plugInLogger(plugIn());
    EXPECT_EQ(uiLogger.logFilePath(), uiLog());
    EXPECT_EQ(plugInLogger.logFilePath(), exe / "log/ORVEX/plugin_Orvex.log");
    EXPECT_EQ(plugInLogger.lockName(), "ORVEX_plugin_Orvex.log");
}

TEST_F(LoggerTest, FeprootVariantReadsItsOwnRoot) {
    TempDir fep;
    makeDirs(fep / "cfg");
    writeFile(fep / "cfg/debug.ini", section("QUORLA", kOn));
    EnvGuard feproot("FEPROOT", fep.path().c_str());
    LogOptions o = LogOptions::uiLibrary(false);
    o.exeDir = exe.path();
    Logger log(o);
    EXPECT_EQ(log.logFilePath(), fep / "log/QUORLA/Quorlaui.log");
}

TEST_F(LoggerTest, DisabledLogsCreateNothing) {
    const char* configs[] = {"DebugFlag=2\nDebugLevel=3\n", "DebugLevel=3\n", "DebugFlag=one\n"};
    for (const char* keys : configs) {
        rootIni(section("QUORLA", keys));
        Logger log(ui());
        EXPECT_FALSE(log.enabled()) << keys;
        log.printTime0("x");
        log.print0("x");
        log.writeSection("x", 0, true, true, false);
        log.printTimeReload0("x");
        EXPECT_FALSE(exists(root / "log")) << keys;
    }
}

TEST_F(LoggerTest, MissingRootFolderDisablesAndNothingBlocks) {
    EnvGuard badRoot("NXROOT", "/nonexistent/nxroot");
    Logger log(ui());
    EXPECT_FALSE(log.enabled());
    log.printTime3("dropped");
}

TEST_F(LoggerTest, OtherSectionsAndMalformedLinesAreIgnored) {
    rootIni("garbage line\n[ORVEX]\nDebugFlag=1\n[QUORLA]\nDebugFlag = 1 \nDebugLevel=2\n");
    Logger log(ui());
    EXPECT_TRUE(log.enabled());
    EXPECT_EQ(log.debugLevel(), 2);
}

TEST_F(LoggerTest, UnwritableLogFolderDropsRecordsQuietly) {
    rootIni(section("QUORLA", kOn));
    writeFile(root / "log", "a file where the folder should be");
    Logger log(ui());
    EXPECT_TRUE(log.enabled());
    log.printTime3("lost");  // must neither crash nor block
    EXPECT_EQ(readFile(root / "log"), "a file where the folder should be");
}

TEST_F(LoggerTest, PlugInCreatesOnlyTheLastFolderLevel) {
    rootIni(section("ORVEX", kOn));
    Logger log(plugIn());
    log.printTime2("first");  // <root>/log does not exist: the plug-in does not create it
    EXPECT_FALSE(exists(root / "log"));
    makeDirs(root / "log");
    log.printTime2("second");
    EXPECT_NE(readFile(root / "log/ORVEX/plugin_Orvex.log").find("second"), std::string::npos);
}

TEST_F(LoggerTest, ReloadSeesConfigurationChanges) {
    rootIni(section("QUORLA", "DebugFlag=1\nDebugLevel=0\n"));
    Logger log(ui());
    log.printTime3("before");
    rootIni(section("QUORLA", "DebugFlag=1\nDebugLevel=3\n"));
    log.printTime3("still filtered");  // not a reload kind: the old level holds
    log.printTimeReload3("after reload");
    EXPECT_TRUE(log.isLevelOn(3));
    std::string text = readFile(uiLog());
    EXPECT_EQ(text.find("before"), std::string::npos);
    EXPECT_EQ(text.find("still filtered"), std::string::npos);
    EXPECT_NE(text.find("after reload"), std::string::npos);
}

// ---- records ----

TEST_F(LoggerTest, LevelRuleDecidesWhatIsWritten) {
    struct Row {
        int debugLevel;
        const char* expected;  // which of the records 0..3 appear
    } rows[] = {{3, "0123"}, {2, "012"}, {6, "2"}, {-1, "0"}};
    for (const auto& r : rows) {
        rootIni(section("QUORLA", "DebugFlag=1\nDebugLevel=" + std::to_string(r.debugLevel)));
        std::remove(uiLog().c_str());
        Logger log(ui());
        log.printTime0("rec0");
        log.print1("rec1");
        log.printTime2("rec2");
        log.printTime3("rec3");
        log.writeSection("section0", 0, false, false, false);
        std::string text = readFile(uiLog());
        std::string seen;
        for (char c = '0'; c <= '3'; ++c)
            if (text.find(std::string("rec") + c) != std::string::npos)
                seen += c;
        EXPECT_EQ(seen, r.expected) << "DebugLevel " << r.debugLevel;
        // writeSection at level 0 follows the plain rule, so -1 drops it while printTime0 writes.
        EXPECT_EQ(text.find("section0") != std::string::npos,
                  r.debugLevel != -1 && r.debugLevel != 6)
            << "DebugLevel " << r.debugLevel;
    }
}

TEST_F(LoggerTest, BannerAndDateOnlyOnFirstStampedRecord) {
    rootIni(section("QUORLA", kOn));
    Logger log(ui());
    log.printTime3("first");
    log.printTime3("second");
    const std::string text = readFile(uiLog());
    const std::regex expected(
        "\n\n\n------- New log system start -------\nDate: \\d{4}-\\d{2}-\\d{2}\n"
        "\\[\\d{2}:\\d{2}::\\d{2}:\\d{3}\\] : first\n"
        "\\[\\d{2}:\\d{2}::\\d{2}:\\d{3}\\] : second\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LoggerTest, UnstampedFirstRecordHasNoDateLine) {
    rootIni(section("ORVEX", kOn));
    makeDirs(root / "log");
    Logger log(plugIn());
    log.print1("plain");
    log.printTime2("stamped");
    const std::string text = readFile(root / "log/ORVEX/plugin_Orvex.log");
    EXPECT_TRUE(
        std::regex_match(text, std::regex("\n\n\n------- New log system start -------\nplain\n"
                                          "\\[\\d{2}:\\d{2}:\\d{2}:\\d{4}\\] : stamped\n")))
        << text;
}

TEST_F(LoggerTest, SectionAndSourceLayouts) {
    rootIni(section("QUORLA", kOn));
    Logger log(ui());
    log.print0("start");  // the banner goes first; the rest follows without it
    const std::size_t start = readFile(uiLog()).size();
    log.writeSection(nullptr, 0, true, true, false);
    log.writeSection(nullptr, 0, false, false, false);
    log.writeSection("text", 1, false, true, false);
    log.writeSource("src", 2, "a.cpp", 12, true, false);
    log.writeSource("src", 2, "", 12, true, false);
    log.writeSource("plain", 2, "b.cpp", 7, false, false);
    log.writeText(u"摄像机", 3, false, false);
    const std::string T = "\\[\\d{2}:\\d{2}::\\d{2}:\\d{3}\\]";
    const std::regex expected(T + " :     <<<< New Section >>>>\n" + "    <<<< New Section >>>>\n" +
                              T + " : text\n" + T + "a.cpp\\(12\\) : src\n" + T +
                              "\\(12\\) : src\n" + "b.cpp\\(7\\) : plain\n" + "摄像机\n");
    const std::string tail = readFile(uiLog()).substr(start);
    EXPECT_TRUE(std::regex_match(tail, expected)) << tail;
}

TEST_F(LoggerTest, LongRecordsAreCutAt4339Bytes) {
    rootIni(section("QUORLA", kOn));
    Logger log(ui());
    log.print0("-");
    const std::size_t start = readFile(uiLog()).size();
    const std::string big(5000, 'x');
    log.print3("%s", big.c_str());
    EXPECT_EQ(readFile(uiLog()).substr(start), std::string(4339, 'x') + "\n");

    // printTimeReload0 drops a format that is itself too long; its siblings cut it.
    const std::size_t before = readFile(uiLog()).size();
    log.printTimeReload0(big.c_str());
    EXPECT_EQ(readFile(uiLog()).size(), before);
    log.printTimeReload1(big.c_str());
    EXPECT_GT(readFile(uiLog()).size(), before + 4339);
}

TEST_F(LoggerTest, DataLogNeedsExactlyOne) {
    rootIni(section("QUORLA", "DebugFlag=1\nDataLog=1\n"));
    EXPECT_TRUE(Logger(ui()).isDataLogOn());
    rootIni(section("QUORLA", "DebugFlag=1\nDataLog=2\n"));
    EXPECT_FALSE(Logger(ui()).isDataLogOn());
}

// ---- rotation ----

class RotationTest : public LoggerTest {
protected:
    void configure(const std::string& keys) { rootIni(section("QUORLA", "DebugFlag=1\n" + keys)); }
    std::string archive(int i) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%03d", i);
        return uiLog() + buf;
    }
};

TEST_F(RotationTest, FullFileIsArchivedBeforeTheNextWriteWithoutNewBanner) {
    configure("MaxFileSize=100\n");
    makeDirs(root / "log/QUORLA");
    writeFile(uiLog(), std::string(100, 'a'));
    Logger log(ui());
    log.print0("next");
    EXPECT_EQ(readFile(archive(0)), std::string(100, 'a'));
    EXPECT_NE(readFile(uiLog()).find("next"), std::string::npos);
    log.print0(std::string(120, 'b').c_str());
    log.print0("after rotation");
    EXPECT_EQ(readFile(uiLog()),
              "after rotation\n");  // a file begun after a rotation has no banner
}

TEST_F(RotationTest, BelowTheSizeNothingMoves) {
    configure("MaxFileSize=100\n");
    makeDirs(root / "log/QUORLA");
    writeFile(uiLog(), std::string(99, 'a'));
    Logger(ui()).print0("x");
    EXPECT_FALSE(exists(archive(0)));
}

TEST_F(RotationTest, DefaultsArchiveAt512KiB) {
    configure("");
    makeDirs(root / "log/QUORLA");
    writeFile(uiLog(), std::string(524287, 'a'));
    Logger log(ui());
    log.print0("x");
    EXPECT_FALSE(exists(archive(0)));
    log.print0("y");
    EXPECT_TRUE(exists(archive(0)));
}

TEST_F(RotationTest, AllSlotsTakenArePurgedAndRefilledFromZero) {
    configure("MaxFileSize=10\nMaxFiles=3\n");
    makeDirs(root / "log/QUORLA");
    for (int i = 0; i < 3; ++i)
        writeFile(archive(i), "old");
    writeFile(uiLog(), std::string(10, 'f'));
    Logger(ui()).print0("x");
    EXPECT_EQ(readFile(archive(0)), std::string(10, 'f'));
    EXPECT_FALSE(exists(archive(1)));
    EXPECT_FALSE(exists(archive(2)));
}

TEST_F(RotationTest, LowestFreeSlotIsTaken) {
    configure("MaxFileSize=10\nMaxFiles=3\n");
    makeDirs(root / "log/QUORLA");
    writeFile(archive(1), "kept");
    writeFile(uiLog(), std::string(10, 'f'));
    Logger(ui()).print0("x");
    EXPECT_EQ(readFile(archive(0)), std::string(10, 'f'));
    EXPECT_EQ(readFile(archive(1)), "kept");
}

TEST_F(RotationTest, NoSlotsRotatesOnceThenGrowsWithoutLosingTheArchive) {
    configure("MaxFileSize=10\nMaxFiles=0\n");
    makeDirs(root / "log/QUORLA");
    writeFile(uiLog(), std::string(10, 'f'));
    Logger log(ui());
    log.print0("0123456789");
    log.print0("grows");
    log.print0("still");
    EXPECT_EQ(readFile(archive(0)), std::string(10, 'f'));  // never replaced
    EXPECT_NE(readFile(uiLog()).find("grows\nstill\n"), std::string::npos);
}
