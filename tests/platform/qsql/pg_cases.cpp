// What only the PostgreSQL backend has: a server that can end sessions under the pool.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "CNX_DBOption.h"
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
