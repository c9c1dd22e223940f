// What only the PostgreSQL backend has: a server that can end sessions under the pool.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "CNX_DBOption.h"
#include "NxSqlText.h"
#include "NxTestDb.h"

namespace {

class PgServer : public nxtest::DbTest {};

std::string sessionId() {
    CNX_DBOption db;
    char sql[] = "select pg_backend_pid()";
    if (db.BeginSelectRcdSet(sql, 101) != 1)
        return "";
    return db.GetColVal(0, 0, nullptr);
}

}  // namespace

TEST_F(PgServer, APooledSessionEndedByTheServerIsReplacedBeforeUse) {
    std::string first = sessionId();
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(nxtest::rawScalar("select pg_terminate_backend(" + first + ", 10000)"), "t");
    // The next object gets a working session instead of a failed statement.
    std::string second = sessionId();
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, first);
    EXPECT_EQ(nxtest::exec("CREATE TABLE T (ID int)"), 1);
}

TEST_F(PgServer, ALockHeldTooLongFailsTheWaiterInsteadOfFreezingIt) {
    NxDbSettings quick = nxtest::settings();
    quick.busyTimeoutMs = 200;
    CNX_DBOption::Configure(quick);
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (ID int)"), 1);
    CNX_DBOption owner;
    ASSERT_EQ(owner.BeginTableTransaction("NXMODEL.dbo.T"), 1);
    std::string waiterError;
    short waiterResult = -1;
    std::thread waiter([&] {
        CNX_DBOption other;
        waiterResult = other.BeginTableTransaction("T");
        waiterError = other.GetLastErrorText();
    });
    waiter.join();
    EXPECT_EQ(waiterResult, 0);
    EXPECT_NE(waiterError.find("lock"), std::string::npos) << waiterError;
    EXPECT_EQ(owner.CommitTransaction(), 1);
}

TEST_F(PgServer, ASessionEndedWhileInUseFailsItsStatementAndIsNotReused) {
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (ID int)"), 1);
    std::string ended;
    {
        CNX_DBOption db;
        char pid[] = "select pg_backend_pid()";
        ASSERT_EQ(db.BeginSelectRcdSet(pid, 101), 1);
        ended = db.GetColVal(0, 0, nullptr);
        db.EndSelectRcdSet();
        ASSERT_EQ(nxtest::rawScalar("select pg_terminate_backend(" + ended + ", 10000)"), "t");
        char insert[] = "INSERT INTO T (ID) VALUES (1)";
        EXPECT_EQ(db.ExecuteCmd(insert, 100, nullptr), 0);
        EXPECT_STRNE(db.GetLastErrorText(), "");
    }
    EXPECT_EQ(nxtest::exec("INSERT INTO T (ID) VALUES (2)"), 1);
    EXPECT_NE(sessionId(), ended);
}

// PostgreSQL answers COMMIT with ROLLBACK when a statement of the transaction failed.
TEST_F(PgServer, ACommitTurnedIntoRollbackIsAFailure) {
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (ID int)"), 1);
    CNX_DBOption db;
    ASSERT_EQ(db.BeginTransaction(), 1);
    char insert[] = "INSERT INTO T (ID) VALUES (1)";
    ASSERT_EQ(db.ExecuteCmd(insert, 100, nullptr), 1);
    char bad[] = "INSERT INTO NO_SUCH_TABLE VALUES (1)";
    EXPECT_EQ(db.ExecuteCmd(bad, 100, nullptr), 0);
    EXPECT_EQ(db.CommitTransaction(), 0);
    EXPECT_NE(std::string(db.GetLastErrorText()).find("ROLLBACK"), std::string::npos)
        << db.GetLastErrorText();
    EXPECT_EQ(nxtest::rawScalar("SELECT count(*) FROM T"), "0");
}

// Quote doubling is the only escaping: a server configured with backslash escapes in literals
// must not let a backslash undo it.
TEST_F(PgServer, BackslashesStayTextOnAServerThatEscapesThem) {
    NxDbSettings old = nxtest::settings();
    const std::size_t options = old.pgConnInfo.find("options='");
    ASSERT_NE(options, std::string::npos);
    old.pgConnInfo.insert(options + 9, "-cstandard_conforming_strings=off ");
    CNX_DBOption::Configure(old);
    ASSERT_EQ(nxtest::exec("CREATE TABLE T (NAME text, ID int)"), 1);
    const std::string value = "\\',99)--";
    ASSERT_EQ(
        nxtest::exec("INSERT INTO T (NAME, ID) VALUES ('" + nxsql::doubledQuotes(value) + "', 1)"),
        1);
    EXPECT_EQ(nxtest::rawScalar("SELECT NAME || '|' || ID FROM T"), value + "|1");
}
