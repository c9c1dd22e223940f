// What only the SQLite backend has: the file, its journal mode and foreign bytes in it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "CNX_DBOption.h"
#include "NxTestDb.h"

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class SqliteFile : public nxtest::DbTest {};

}  // namespace

TEST_F(SqliteFile, CreatesItsFolderAndUsesTheWriteAheadLog) {
    NxDbSettings s = nxtest::settings();
    s.sqlitePath = nxtest::nxroot() + "/deeper/still/nxmodel.db";
    CNX_DBOption::Configure(s);
    CNX_DBOption db;
    ASSERT_TRUE(db.IsConnected()) << db.GetLastErrorText();
    char sql[] = "PRAGMA journal_mode";
    ASSERT_EQ(db.BeginSelectRcdSet(sql, 101), 1);
    EXPECT_STREQ(db.GetColVal(0, 0, nullptr), "wal");
    char create[] = "CREATE TABLE T (ID int)";
    ASSERT_EQ(db.ExecuteCmd(create, 100, nullptr), 1);
    EXPECT_TRUE(exists(s.sqlitePath));
    EXPECT_TRUE(exists(s.sqlitePath + "-wal"));
}

TEST_F(SqliteFile, BytesThatAreNotUtf8ReadBackAsQuestionMarks) {
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (NAME text)"), 1);
    ASSERT_TRUE(nxtest::rawExecute("INSERT INTO T VALUES (CAST(X'41FF42' AS TEXT))"));
    EXPECT_EQ(nxtest::scalar("select NAME from T"), "A?B");
}

TEST_F(SqliteFile, TextInAnIntegerColumnReadsAsZero) {
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (ID int)"), 1);
    ASSERT_EQ(nxtest::exec("INSERT INTO T VALUES ('abc')"), 1);
    ASSERT_EQ(nxtest::exec("INSERT INTO T VALUES (2.75)"), 1);
    CNX_DBOption db;
    char sql[] = "select ID from T";
    ASSERT_EQ(db.BeginSelectRcdSet(sql, 101), 1);
    EXPECT_EQ(db.GetIntVal(0, 0), 0);
    EXPECT_EQ(db.GetIntVal(1, 0), 2);
}
