// The database layer's text rules, without a database.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "NxDbPool.h"
#include "NxSqlText.h"

using nxsql::mapQualifiedNames;
using nxsql::splitStatements;

TEST(QualifiedNames, QualifiersAreDroppedWhateverTheirCase) {
    EXPECT_EQ(mapQualifiedNames("select * from NXMODEL.dbo.TB6003_CAMERAINFO where a=1"),
              "select * from TB6003_CAMERAINFO where a=1");
    EXPECT_EQ(mapQualifiedNames("DELETE FROM NXMODEL.TB6006_CCTVMODEINFO WHERE F6006_NO=1"),
              "DELETE FROM TB6006_CCTVMODEINFO WHERE F6006_NO=1");
    EXPECT_EQ(mapQualifiedNames("select max(F6007_NO) FROM nxmodel.Dbo.T"),
              "select max(F6007_NO) FROM T");
    EXPECT_EQ(mapQualifiedNames("INSERT INTO NXMODEL.dbo.T (A) VALUES(1);"),
              "INSERT INTO T (A) VALUES(1);");
    EXPECT_EQ(mapQualifiedNames("select a from NXMODEL.dbo.T x,NXMODEL.U y"),
              "select a from T x,U y");
}

TEST(QualifiedNames, LiteralsCommentsAndLookalikesStay) {
    EXPECT_EQ(mapQualifiedNames("insert into T values ('NXMODEL.dbo.T', 'it''s NXMODEL.T')"),
              "insert into T values ('NXMODEL.dbo.T', 'it''s NXMODEL.T')");
    EXPECT_EQ(mapQualifiedNames("select 1 -- NXMODEL.dbo.T\nfrom XNXMODEL.T"),
              "select 1 -- NXMODEL.dbo.T\nfrom XNXMODEL.T");
    EXPECT_EQ(mapQualifiedNames("select a.NXMODEL.T /* NXMODEL.T */"),
              "select a.NXMODEL.T /* NXMODEL.T */");
    EXPECT_EQ(mapQualifiedNames("NXMODEL."), "NXMODEL.");
    EXPECT_EQ(mapQualifiedNames("select 'unterminated NXMODEL.T"),
              "select 'unterminated NXMODEL.T");
    EXPECT_EQ(mapQualifiedNames("select * from NXMODEL.dbo"), "select * from dbo");
}

TEST(Statements, ScriptsSplitAtTheSemicolonsThatEndStatements) {
    auto parts = splitStatements(
        "-- head; comment\nCREATE TABLE A (x int);\n\n INSERT INTO A VALUES ('a;b');;"
        "/* c; */ INSERT INTO A VALUES (2)\n-- tail only\n");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "-- head; comment\nCREATE TABLE A (x int)");
    EXPECT_EQ(parts[1], "INSERT INTO A VALUES ('a;b')");
    EXPECT_EQ(parts[2], "/* c; */ INSERT INTO A VALUES (2)\n-- tail only");
    EXPECT_TRUE(splitStatements(" ;\n-- nothing\n").empty());
}

TEST(Statements, TableNamesForLocksArePlain) {
    EXPECT_TRUE(nxsql::isPlainTableName("NXMODEL.dbo.TB6007_CCTVGBFAV"));
    EXPECT_FALSE(nxsql::isPlainTableName(""));
    EXPECT_FALSE(nxsql::isPlainTableName("T; DROP TABLE T"));
    EXPECT_FALSE(nxsql::isPlainTableName("T "));
    EXPECT_FALSE(nxsql::isPlainTableName(".T"));
}

TEST(Values, QuotesInsideAValueAreDoubled) {
    EXPECT_EQ(nxsql::doubledQuotes("it's"), "it''s");
    EXPECT_EQ(nxsql::doubledQuotes("'; DROP TABLE x; --"), "''; DROP TABLE x; --");
    EXPECT_EQ(nxsql::doubledQuotes(""), "");
}

TEST(Values, IntegersAreParsedAndClamped) {
    EXPECT_EQ(nxsql::parseInt64("42"), 42);
    EXPECT_EQ(nxsql::parseInt64("-7"), -7);
    EXPECT_EQ(nxsql::parseInt64("3.9"), 3);
    EXPECT_EQ(nxsql::parseInt64("1e3"), 1000);
    EXPECT_EQ(nxsql::parseInt64("99999999999999999999999"), LLONG_MAX);
    EXPECT_EQ(nxsql::parseInt64("1e300"), LLONG_MAX);
    EXPECT_EQ(nxsql::parseInt64("abc"), 0);
    EXPECT_EQ(nxsql::parseInt64(""), 0);
    EXPECT_EQ(nxsql::parseInt64(nullptr), 0);
    EXPECT_EQ(nxsql::clampToInt(5000000000LL), INT_MAX);
    EXPECT_EQ(nxsql::clampToInt(-5000000000LL), INT_MIN);
}

TEST(Codec, ConvertsBothWaysAndNamesTheBadByte) {
    nxsql::GbkCodec codec;
    std::string utf8, gbk, error;
    ASSERT_TRUE(codec.toUtf8("\xC9\xE3\xCF\xF1\xBB\xFA ok", 9, &utf8, &error));
    EXPECT_EQ(utf8, "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA ok");
    codec.toGbk(utf8.data(), utf8.size(), &gbk);
    EXPECT_EQ(gbk, "\xC9\xE3\xCF\xF1\xBB\xFA ok");
    EXPECT_FALSE(codec.toUtf8("ab\x81\x20", 4, &utf8, &error));
    EXPECT_NE(error.find("byte 2"), std::string::npos) << error;
    EXPECT_TRUE(utf8.empty());
    EXPECT_FALSE(codec.toUtf8("ab\xC9", 3, &utf8, &error));  // cut in the middle of a character
    // A long text crosses the converter's buffer boundary intact.
    std::string longGbk;
    for (int i = 0; i < 3000; ++i)
        longGbk += "\xC9\xE3";
    ASSERT_TRUE(codec.toUtf8(longGbk.data(), longGbk.size(), &utf8, &error));
    EXPECT_EQ(utf8.size(), 9000u);
    codec.toGbk(utf8.data(), utf8.size(), &gbk);
    EXPECT_EQ(gbk, longGbk);
}

TEST(Settings, IniFileChoosesTheBackend) {
    NxDbSettings none = nxsql::parseSettings("", "/r");
    EXPECT_EQ(none.backend, NxDbSettings::Backend::SQLite);
    EXPECT_EQ(none.sqlitePath, "/r/data/nxmodel.db");
    EXPECT_EQ(none.error, "");

    NxDbSettings pg = nxsql::parseSettings(
        "\xEF\xBB\xBF; comment\n[Other]\nBackend=sqlite\n[Database]\n Backend = PostgreSQL \n"
        "ConnInfo=host=db1 port=5432 dbname=nxmodel password=a;b\nBusyTimeoutMs=2500\n",
        "/r");
    EXPECT_EQ(pg.backend, NxDbSettings::Backend::PostgreSQL);
    EXPECT_EQ(pg.pgConnInfo, "host=db1 port=5432 dbname=nxmodel password=a;b");
    EXPECT_EQ(pg.busyTimeoutMs, 2500);

    NxDbSettings relative = nxsql::parseSettings("[database]\npath=db/x.db\n", "/r");
    EXPECT_EQ(relative.sqlitePath, "/r/db/x.db");
    NxDbSettings absolute = nxsql::parseSettings("[Database]\nPath=/var/x.db\n", "/r");
    EXPECT_EQ(absolute.sqlitePath, "/var/x.db");

    EXPECT_NE(nxsql::parseSettings("[Database]\nBackend=oracle\n", "/r").error, "");
    EXPECT_NE(nxsql::parseSettings("[Database]\nno equals sign\n", "/r").error, "");
}

TEST(Settings, AnIniThatCannotBeReadIsAnErrorNotTheDefault) {
    char pattern[] = "/tmp/nxqsql-ini.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string root = pattern;
    ASSERT_EQ(mkdir((root + "/cfg").c_str(), 0775), 0);
    ASSERT_EQ(mkdir((root + "/cfg/nxdb.ini").c_str(), 0775), 0);  // not a file
    const char* saved = std::getenv("NXROOT");
    std::string keep = saved ? saved : "";
    setenv("NXROOT", root.c_str(), 1);
    EXPECT_NE(CNX_DBOption::SettingsFromEnvironment().error.find("cannot be read"),
              std::string::npos);
    rmdir((root + "/cfg/nxdb.ini").c_str());
    NxDbSettings none = CNX_DBOption::SettingsFromEnvironment();
    EXPECT_EQ(none.error, "");
    EXPECT_EQ(none.sqlitePath, root + "/data/nxmodel.db");
    rmdir((root + "/cfg").c_str());
    rmdir(root.c_str());
    if (saved)
        setenv("NXROOT", keep.c_str(), 1);
    else
        unsetenv("NXROOT");
}

TEST(Settings, WithoutNxrootThereIsNoDatabase) {
    const char* saved = std::getenv("NXROOT");
    std::string keep = saved ? saved : "";
    unsetenv("NXROOT");
    EXPECT_NE(CNX_DBOption::SettingsFromEnvironment().error.find("NXROOT"), std::string::npos);
    if (saved)
        setenv("NXROOT", keep.c_str(), 1);
}
