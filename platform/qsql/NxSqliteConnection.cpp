// SQLite backend: one file shared by every process of the workstation. WAL lets readers go on
// while one writer works; the busy timeout makes a writer wait for another's lock instead of
// failing at once.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "NxDbConnection.h"

namespace nxsql {
namespace {

// mkdir -p of the folder that holds 'path'.
bool makeParentFolders(const std::string& path, std::string* error) {
    size_t slash = path.find('/', 1);
    while (slash != std::string::npos) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0775) != 0 && errno != EEXIST) {
            *error = "cannot create folder " + folder + ": " + std::strerror(errno);
            return false;
        }
        slash = path.find('/', slash + 1);
    }
    return true;
}

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(sqlite3* db) : m_db(db) {}
    ~SqliteConnection() override { sqlite3_close_v2(m_db); }

    bool execute(const std::string& sql, ResultSet* rows, std::string* error) override;
    bool begin(const std::string& lockTable, std::string* error) override;
    bool broken() const override { return false; }
    bool inTransaction() const override { return sqlite3_get_autocommit(m_db) == 0; }
    long long affectedRows() const override { return m_affected; }

private:
    bool prepareOne(const std::string& sql, sqlite3_stmt** statement, std::string* error);
    static void collectColumns(sqlite3_stmt* statement, ResultSet* rows);
    static void collectRow(sqlite3_stmt* statement, ResultSet* rows);
    std::string lastError() const { return sqlite3_errmsg(m_db); }

    sqlite3* m_db;
    long long m_affected = 0;
};

bool SqliteConnection::prepareOne(const std::string& sql, sqlite3_stmt** statement,
                                  std::string* error) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()) + 1, statement, &tail) !=
        SQLITE_OK) {
        *error = lastError();
        return false;
    }
    if (*statement == nullptr) {
        *error = "empty statement";
        return false;
    }
    sqlite3_stmt* extra = nullptr;
    const char* rest = tail;
    while (rest != nullptr && *rest != '\0') {
        const char* before = rest;
        if (sqlite3_prepare_v2(m_db, rest, -1, &extra, &rest) != SQLITE_OK || extra != nullptr ||
            rest == before) {
            sqlite3_finalize(extra);
            sqlite3_finalize(*statement);
            *statement = nullptr;
            *error = "more than one statement in one call: refused";
            return false;
        }
    }
    return true;
}

void SqliteConnection::collectColumns(sqlite3_stmt* statement, ResultSet* rows) {
    std::vector<std::string> names;
    int count = sqlite3_column_count(statement);
    for (int c = 0; c < count; ++c) {
        const char* name = sqlite3_column_name(statement, c);
        names.emplace_back(name ? name : "");
    }
    rows->setColumns(std::move(names));
}

void SqliteConnection::collectRow(sqlite3_stmt* statement, ResultSet* rows) {
    int count = sqlite3_column_count(statement);
    for (int c = 0; c < count; ++c) {
        if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
            rows->addNull();
            continue;
        }
        const unsigned char* text = sqlite3_column_text(statement, c);
        int bytes = sqlite3_column_bytes(statement, c);
        rows->addText(reinterpret_cast<const char*>(text), text ? static_cast<size_t>(bytes) : 0);
    }
}

bool SqliteConnection::execute(const std::string& sql, ResultSet* rows, std::string* error) {
    m_affected = 0;
    sqlite3_stmt* statement = nullptr;
    if (!prepareOne(sql, &statement, error))
        return false;
    if (rows)
        collectColumns(statement, rows);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (rows)
            collectRow(statement, rows);
    }
    bool ok = rc == SQLITE_DONE;
    if (!ok)
        *error = lastError();
    m_affected = sqlite3_changes(m_db);
    sqlite3_finalize(statement);
    return ok;
}

bool SqliteConnection::begin(const std::string& /*lockTable*/, std::string* error) {
    // IMMEDIATE takes the file's write lock now: no other writer until COMMIT or ROLLBACK.
    return execute("BEGIN IMMEDIATE", nullptr, error);
}

}  // namespace

std::unique_ptr<Connection> openSqlite(const NxDbSettings& settings, std::string* error) {
    const std::string& path = settings.sqlitePath;
    if (path.empty()) {
        *error = "no SQLite file configured";
        return nullptr;
    }
    if (path != ":memory:" && !makeParentFolders(path, error))
        return nullptr;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        *error = "cannot open SQLite file " + path + ": " + (db ? sqlite3_errmsg(db) : "no memory");
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, settings.busyTimeoutMs);
    auto connection = std::make_unique<SqliteConnection>(db);
    // NORMAL is the usual pairing with WAL: a commit does not wait for the disk.
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
        std::string reason;
        if (!connection->execute(pragma, nullptr, &reason)) {
            *error = std::string("SQLite file ") + path + ": " + pragma + ": " + reason;
            return nullptr;
        }
    }
    return connection;
}

}  // namespace nxsql
