#include "NxTestDb.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <filesystem>
#include <fstream>

namespace nxtest {
namespace {

std::string g_root;
NxDbSettings g_settings;
int g_counter = 0;

std::string makeTempFolder() {
    char pattern[] = "/tmp/nxqsql-test.XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

void writeIni(const std::string& root, const NxDbSettings& s) {
    mkdir((root + "/cfg").c_str(), 0775);
    std::ofstream ini(root + "/cfg/nxdb.ini");
    ini << "[Database]\n";
    if (s.backend == NxDbSettings::Backend::PostgreSQL) {
        ini << "Backend=postgresql\nConnInfo=" << s.pgConnInfo << "\n";
    } else {
        ini << "Backend=sqlite\nPath=" << s.sqlitePath << "\n";
    }
}

std::string pgAdminConnInfo() {
    const char* conninfo = std::getenv("NX_TEST_PG_CONNINFO");
    return conninfo ? conninfo : "";
}

std::string pgRun(const std::string& conninfo, const std::string& sql, bool* ok) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    std::string value;
    *ok = false;
    if (PQstatus(conn) != CONNECTION_OK) {
        value = std::string("<error: ") + PQerrorMessage(conn) + ">";
    } else {
        PQsetClientEncoding(conn, "UTF8");
        PGresult* r = PQexec(conn, sql.c_str());
        ExecStatusType st = PQresultStatus(r);
        *ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
        if (!*ok) {
            value = std::string("<error: ") + PQresultErrorMessage(r) + ">";
        } else if (st == PGRES_TUPLES_OK && PQntuples(r) > 0 && PQnfields(r) > 0) {
            value = PQgetvalue(r, 0, 0);
        }
        PQclear(r);
    }
    PQfinish(conn);
    return value;
}

// One database per test program, dropped when the program ends.
class PgDatabase {
public:
    const std::string& name() {
        if (m_name.empty())
            create();
        return m_name;
    }
    ~PgDatabase() {
        if (m_name.empty() || getpid() != m_owner)
            return;
        CNX_DBOption::ClosePool();
        bool ok;
        pgRun(pgAdminConnInfo(), "DROP DATABASE IF EXISTS " + m_name + " WITH (FORCE)", &ok);
    }

private:
    void create() {
        m_owner = getpid();
        std::string name = "nxt_" + std::to_string(getpid()) + "_" + std::to_string(time(nullptr));
        bool ok;
        std::string error = pgRun(pgAdminConnInfo(), "CREATE DATABASE " + name, &ok);
        m_name = ok ? name : "";
        m_error = error;
    }
    std::string m_name, m_error;
    pid_t m_owner = 0;
};

PgDatabase& pgDatabase() {
    static PgDatabase db;
    return db;
}

Fresh freshPostgres() {
    Fresh fresh;
    if (pgAdminConnInfo().empty()) {
        const char* skip = std::getenv("NX_TEST_NO_PG");
        if (skip && std::string(skip) == "1") {
            fresh.kind = Fresh::Skip;
            fresh.message = "NX_TEST_NO_PG=1: PostgreSQL tests skipped";
            return fresh;
        }
        fresh.message =
            "NX_TEST_PG_CONNINFO is not set: start a server (scripts/pg_cluster.sh) and export "
            "its conninfo, or set NX_TEST_NO_PG=1 to skip the PostgreSQL tests";
        return fresh;
    }
    const std::string& db = pgDatabase().name();
    if (db.empty()) {
        fresh.message = "cannot create a test database on " + pgAdminConnInfo();
        return fresh;
    }
    std::string schema = "t" + std::to_string(++g_counter);
    std::string base = pgAdminConnInfo() + " dbname=" + db;
    bool ok;
    std::string error = pgRun(base, "CREATE SCHEMA " + schema, &ok);
    if (!ok) {
        fresh.message = "cannot create schema " + schema + ": " + error;
        return fresh;
    }
    g_settings = NxDbSettings();
    g_settings.backend = NxDbSettings::Backend::PostgreSQL;
    g_settings.pgConnInfo = base + " options='-csearch_path=" + schema + "'";
    fresh.kind = Fresh::Ready;
    return fresh;
}

Fresh freshSqlite() {
    g_settings = NxDbSettings();
    g_settings.backend = NxDbSettings::Backend::SQLite;
    g_settings.sqlitePath = g_root + "/data/nxmodel.db";
    Fresh fresh;
    fresh.kind = Fresh::Ready;
    return fresh;
}

}  // namespace

bool isPostgres() {
#ifdef NX_TEST_PG
    return true;
#else
    return false;
#endif
}

Fresh freshDatabase() {
    g_root = makeTempFolder();
    Fresh fresh = isPostgres() ? freshPostgres() : freshSqlite();
    if (fresh.kind != Fresh::Ready)
        return fresh;
    g_settings.busyTimeoutMs = 10000;
    writeIni(g_root, g_settings);
    CNX_DBOption::Configure(g_settings);
    return fresh;
}

void releaseDatabase() {
    CNX_DBOption::ClosePool();
    if (g_root.compare(0, 17, "/tmp/nxqsql-test.") == 0) {
        std::error_code ignored;
        std::filesystem::remove_all(g_root, ignored);
    }
}

const std::string& nxroot() {
    return g_root;
}

NxDbSettings settings() {
    return g_settings;
}

std::string rawScalar(const std::string& utf8Sql) {
    if (isPostgres()) {
        bool ok;
        return pgRun(g_settings.pgConnInfo, utf8Sql, &ok);
    }
    sqlite3* db = nullptr;
    std::string value = "<error: open>";
    if (sqlite3_open(g_settings.sqlitePath.c_str(), &db) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 10000);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, utf8Sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            value = std::string("<error: ") + sqlite3_errmsg(db) + ">";
        } else {
            int rc = sqlite3_step(st);
            value = "";
            if (rc == SQLITE_ROW && sqlite3_column_text(st, 0)) {
                value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                value = std::string("<error: ") + sqlite3_errmsg(db) + ">";
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
}

bool rawExecute(const std::string& utf8Sql) {
    return rawScalar(utf8Sql).compare(0, 7, "<error:") != 0;
}

short exec(const std::string& gbkSql) {
    CNX_DBOption db;
    std::string sql = gbkSql;
    return db.ExecuteCmd(&sql[0], 100, nullptr);
}

std::string scalar(const std::string& gbkSql) {
    CNX_DBOption db;
    std::string sql = gbkSql;
    if (db.BeginSelectRcdSet(&sql[0], 101) != 1 || db.GetRcdCount() < 1)
        return "";
    return db.GetColVal(0, 0, nullptr);
}

}  // namespace nxtest
