#pragma once
// A private platform root (cfg files, log folder) and a fresh CCTV database for each test, on
// SQLite or PostgreSQL. PostgreSQL comes from NX_TEST_PG_CONNINFO; without it the PostgreSQL
// cases fail, unless NX_TEST_NO_PG=1 skips them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CNX_DBOption.h"
#include "PlugOrvex.h"

enum class Backend { SQLite, PostgreSQL };
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    const std::string& path() const { return m_path; }
    void write(const std::string& relative, const std::string& text) const;
    std::string logText() const;  // the plug-in's log so far
    std::string logPath() const { return m_path + "/log/ORVEX/plugin_Orvex.log"; }

private:
    std::string m_path;
};

// The settings file of the plug-in with the given uiLibrary (and metro 3).
std::string SettingsIni(const std::string& uiLibrary, int metro = 3);

using Rows = std::vector<std::vector<std::string>>;

class StoreTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<CPlugOrvex> MakePlugIn();
    int Exec(const std::string& sql);  // ExecuteCmd result
    Rows Select(const std::string& sql);
    int Count(const std::string& table);
    std::string Log() const { return m_root->logText(); }
    // Makes the database refuse every event ("INSERT", "UPDATE") on the table; with atCommit
    // (PostgreSQL only) the refusal comes when the transaction commits.
    void RefuseWrites(const std::string& table, const std::string& event, bool atCommit = false);
    // Points the store at a database that cannot be reached, and back.
    void Unreachable();
    void Reachable();

    std::unique_ptr<TempRoot> m_root;
    std::string m_pgDatabase;
    NxDbSettings m_settings;
};

// Picks and prepares the database of this test.
enum class DbSetup { Ready, Skip, Fail };
DbSetup ConfigureDatabase(Backend backend, const TempRoot& root, std::string* pgDatabase);
void DropDatabase(const std::string& pgDatabase);

#define NX_STORE_BACKENDS(suite)                                                                 \
    INSTANTIATE_TEST_SUITE_P(Db, suite, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), \
                             BackendName)
