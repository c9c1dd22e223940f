#pragma once
// A fresh, empty database for each test, on the backend the test program was built for:
// SQLite in a new temporary folder, or a new schema inside a per-program PostgreSQL database
// (NX_TEST_PG_CONNINFO names the server; NX_TEST_NO_PG=1 skips those tests instead).
#include <gtest/gtest.h>

#include <string>

#include "CNX_DBOption.h"

namespace nxtest {

bool isPostgres();  // the backend of this test program

struct Fresh {
    enum Kind { Ready, Skip, Fail } kind = Fail;
    std::string message;
};
// Points CNX_DBOption at a new empty database; an NXROOT-style folder is made for it too.
Fresh freshDatabase();
// Closes the pooled connections and removes the test's folder.
void releaseDatabase();
const std::string& nxroot();  // folder of the current fresh database (has cfg/nxdb.ini)
NxDbSettings settings();      // the settings of the current fresh database

// First value of a statement run with the backend's own client library, as UTF-8 text
// ("<error: ...>" on failure). Checks what the database really holds.
std::string rawScalar(const std::string& utf8Sql);
bool rawExecute(const std::string& utf8Sql);

// Runs a GBK statement through CNX_DBOption; result of ExecuteCmd.
short exec(const std::string& gbkSql);
// First column of the first row of a GBK select through CNX_DBOption ("" when none).
std::string scalar(const std::string& gbkSql);

class DbTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fresh fresh = freshDatabase();
        if (fresh.kind == Fresh::Skip)
            GTEST_SKIP() << fresh.message;
        ASSERT_EQ(fresh.kind, Fresh::Ready) << fresh.message;
    }
    void TearDown() override { releaseDatabase(); }
};

}  // namespace nxtest
