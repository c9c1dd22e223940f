#pragma once
// Database access for the plug-in: SQL text in, rows of text and integers out. The backend
// (SQLite by default, PostgreSQL for shared workstations) comes from $NXROOT/cfg/nxdb.ini:
//   [Database]
//   Backend=sqlite|postgresql
//   Path=<sqlite file>            (default $NXROOT/data/nxmodel.db)
//   ConnInfo=<libpq conninfo>     (postgresql)
//   BusyTimeoutMs=5000            (wait for another writer's lock before failing)
// A relative Path is taken from $NXROOT. Without the file: SQLite at the default path.
// Each object borrows an open connection from a per-process pool and gives it back in its
// destructor, so statements never pay for a connect. Statement texts and returned texts are the
// plug-in's 8-bit GBK; the databases hold UTF-8; the conversion happens here. Qualified names
// NXMODEL.dbo.T and NXMODEL.T become the backend's own T. One statement per call.
#include <cstdint>
#include <memory>
#include <string>

struct NxDbSettings {
    enum class Backend { SQLite, PostgreSQL };
    Backend backend = Backend::SQLite;
    std::string sqlitePath;    // SQLite file
    std::string pgConnInfo;    // libpq conninfo
    int busyTimeoutMs = 5000;  // SQLite busy timeout; PostgreSQL lock_timeout
    std::string error;         // why no usable settings could be read ("" when fine)
};

// Connections opened by this process since start, and how many wait idle in the pool.
struct NxDbPoolStats {
    long opened = 0;
    int idle = 0;
    int busy = 0;
};

class NxDbConnection;  // one open backend connection, owned by the pool

class CNX_DBOption {
public:
    CNX_DBOption();
    ~CNX_DBOption();
    CNX_DBOption(const CNX_DBOption&) = delete;
    CNX_DBOption& operator=(const CNX_DBOption&) = delete;

    // 1 when the record set is open. The mode argument (101) is accepted and ignored.
    short BeginSelectRcdSet(char* sql, int mode);
    int GetRcdCount();
    int GetIntVal(int row, int column);
    long long GetInt64Val(int row, int column);
    // NUL-terminated GBK text, valid until the set is closed; "" for NULL or out of range.
    char* GetColVal(int row, int column, int* length);
    void EndSelectRcdSet();
    // 1 on success. The mode argument (100) and the pointer are accepted and ignored.
    short ExecuteCmd(char* sql, int mode, int* affected);

    // An insert and the read-back of its number run inside one of these, so no other writer of
    // the table can slip a row in between: BEGIN IMMEDIATE on SQLite, LOCK TABLE ... IN SHARE ROW
    // EXCLUSIVE MODE on PostgreSQL. The table may be qualified as in the statements. 1 on success.
    short BeginTableTransaction(const char* table);
    short CommitTransaction();
    short RollbackTransaction();  // also done by the destructor for an open transaction
    // A plain transaction without a table lock (admin tool, bulk loads). 1 on success.
    short BeginTransaction();
    // While an object of this thread holds a transaction, the statements of every other object
    // of the thread run on that transaction's connection, so they see its rows and cannot
    // wait on its lock.

    // Extras of the open record set.
    int GetColCount();
    const char* GetColName(int column);  // "" out of range
    bool IsNull(int row, int column);
    long long GetAffectedRows() const;  // rows changed by the last ExecuteCmd

    bool IsConnected() const;
    const char* GetLastErrorText() const;  // last backend or conversion error, "" if none

    // Process-wide settings: read from $NXROOT/cfg/nxdb.ini on first use unless set here (tests,
    // tools). Setting them closes the pooled connections.
    static void Configure(const NxDbSettings& settings);
    static NxDbSettings SettingsFromEnvironment();
    static void ClosePool();
    static NxDbPoolStats PoolStats();
    static NxDbSettings CurrentSettings();
    // Optional: every refused or failed statement is also reported here (the plug-in routes it
    // to its log). The text carries the reason; the caller logs its own statement text.
    using ErrorSink = void (*)(const char* text, void* context);
    static void SetErrorSink(ErrorSink sink, void* context);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
