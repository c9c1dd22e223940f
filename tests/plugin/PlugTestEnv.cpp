#include "PlugTestEnv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CNX_DBOption.h"
#include "NxDbAdmin.h"

namespace fs = std::filesystem;

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

TempRoot::TempRoot() {
    char pattern[] = "/tmp/nx-plug.XXXXXX";
    m_path = mkdtemp(pattern);
    write("cfg/debug.ini", "[ORVEX]\nDebugFlag=1\nDebugLevel=3\nMaxFileSize=67108864\n");
    write("cfg/rbac.ini",
          "[Users]\nop1 = Dispatcher\nop2 = Supervisor\n[Levels]\nDispatcher = 1,3,0\n"
          "Supervisor = 2,5,1\n");
    fs::create_directories(m_path + "/log");
}

TempRoot::~TempRoot() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

void TempRoot::write(const std::string& relative, const std::string& text) const {
    const fs::path file = fs::path(m_path) / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

std::string TempRoot::logText() const {
    std::ifstream in(logPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string SettingsIni(const std::string& uiLibrary, int metro) {
    return "[General]\nmetro=" + std::to_string(metro) +
           "\nbgConsistent=1\nbackground_red=10\nbackground_green=20\nbackground_blue=300\n"
           "uiLibrary=" +
           uiLibrary + "\n";
}

namespace {

int ExecOn(const std::string& sql) {
    CNX_DBOption db;
    std::string text = sql;
    return db.ExecuteCmd(&text[0], 100, nullptr);
}

std::string PgAdminConnInfo() {
    const char* conninfo = std::getenv("NX_TEST_PG_CONNINFO");
    return conninfo ? conninfo : "";
}

}  // namespace

DbSetup ConfigureDatabase(Backend backend, const TempRoot& root, std::string* pgDatabase) {
    NxDbSettings settings;
    if (backend == Backend::SQLite) {
        settings.backend = NxDbSettings::Backend::SQLite;
        settings.sqlitePath = root.path() + "/nxmodel.db";
    } else {
        const std::string admin = PgAdminConnInfo();
        if (admin.empty()) {
            const char* noPg = std::getenv("NX_TEST_NO_PG");
            if (noPg && std::string(noPg) == "1")
                return DbSetup::Skip;
            ADD_FAILURE() << "NX_TEST_PG_CONNINFO is not set (scripts/test.sh sets it; "
                             "NX_TEST_NO_PG=1 skips the PostgreSQL cases)";
            return DbSetup::Fail;
        }
        static std::atomic<int> counter{0};
        *pgDatabase = "nxplug_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        settings.backend = NxDbSettings::Backend::PostgreSQL;
        settings.pgConnInfo = admin;
        CNX_DBOption::Configure(settings);
        ExecOn("DROP DATABASE IF EXISTS " + *pgDatabase);
        if (ExecOn("CREATE DATABASE " + *pgDatabase) != 1) {
            ADD_FAILURE() << "cannot create database " << *pgDatabase;
            return DbSetup::Fail;
        }
        settings.pgConnInfo = admin + " dbname=" + *pgDatabase;
    }
    CNX_DBOption::Configure(settings);
    std::string error;
    if (!nxdb::initSchema(&error)) {
        ADD_FAILURE() << "schema: " << error;
        return DbSetup::Fail;
    }
    return DbSetup::Ready;
}

void DropDatabase(const std::string& pgDatabase) {
    CNX_DBOption::ClosePool();
    if (pgDatabase.empty())
        return;
    NxDbSettings settings;
    settings.backend = NxDbSettings::Backend::PostgreSQL;
    settings.pgConnInfo = PgAdminConnInfo();
    CNX_DBOption::Configure(settings);
    ExecOn("DROP DATABASE IF EXISTS " + pgDatabase + " WITH (FORCE)");
    CNX_DBOption::ClosePool();
}

void StoreTest::SetUp() {
    m_root = std::make_unique<TempRoot>();
    setenv("NXROOT", m_root->path().c_str(), 1);
    setenv("NX_USER", "op1", 1);
    m_root->write("cfg/Q7cctvUi_replay.ini", SettingsIni("NoSuchUi"));
    switch (ConfigureDatabase(GetParam(), *m_root, &m_pgDatabase)) {
        case DbSetup::Ready:
            m_settings = CNX_DBOption::CurrentSettings();
            break;
        case DbSetup::Skip:
            GTEST_SKIP() << "NX_TEST_NO_PG=1: PostgreSQL cases skipped";
        case DbSetup::Fail:
            FAIL() << "no database for this test";
    }
}

void StoreTest::TearDown() {
    DropDatabase(m_pgDatabase);
    unsetenv("NXROOT");
    m_root.reset();
}

std::unique_ptr<CPlugOrvex> StoreTest::MakePlugIn() {
    return std::make_unique<CPlugOrvex>();
}

int StoreTest::Exec(const std::string& sql) {
    return ExecOn(sql);
}

Rows StoreTest::Select(const std::string& sql) {
    CNX_DBOption db;
    std::string text = sql;
    Rows rows;
    if (db.BeginSelectRcdSet(&text[0], 101) != 1) {
        ADD_FAILURE() << "select failed: " << sql << ": " << db.GetLastErrorText();
        return rows;
    }
    for (int r = 0; r < db.GetRcdCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < db.GetColCount(); ++c)
            row.push_back(db.GetColVal(r, c, nullptr));
        rows.push_back(row);
    }
    db.EndSelectRcdSet();
    return rows;
}

int StoreTest::Count(const std::string& table) {
    Rows rows = Select("select count(*) from " + table);
    return rows.empty() ? -1 : std::atoi(rows[0][0].c_str());
}

void StoreTest::RefuseWrites(const std::string& table, const std::string& event, bool atCommit) {
    const std::string name = "nx_refuse_" + table + "_" + event;
    if (GetParam() == Backend::SQLite) {
        ASSERT_FALSE(atCommit) << "SQLite cannot refuse at commit";
        ASSERT_EQ(Exec("CREATE TRIGGER " + name + " BEFORE " + event + " ON " + table +
                       " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END"),
                  1);
        return;
    }
    ASSERT_EQ(Exec("CREATE OR REPLACE FUNCTION nx_refuse() RETURNS trigger LANGUAGE plpgsql AS "
                   "$$ BEGIN RAISE EXCEPTION 'refused by the test'; END $$"),
              1);
    ASSERT_EQ(Exec(std::string("CREATE ") + (atCommit ? "CONSTRAINT " : "") + "TRIGGER " + name +
                   (atCommit ? " AFTER " : " BEFORE ") + event + " ON " + table +
                   (atCommit ? " DEFERRABLE INITIALLY DEFERRED" : "") +
                   " FOR EACH ROW EXECUTE FUNCTION nx_refuse()"),
              1);
}

void StoreTest::Unreachable() {
    NxDbSettings gone = m_settings;
    gone.sqlitePath = "/proc/nx-no-such-folder/nxmodel.db";
    gone.pgConnInfo = "host=" + m_root->path() + "/no-server port=1 user=postgres";
    CNX_DBOption::Configure(gone);
}

void StoreTest::Reachable() {
    CNX_DBOption::Configure(m_settings);
}
