#include "CNX_DBOption.h"

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "NxDbConnection.h"
#include "NxDbPool.h"
#include "NxSqlText.h"

using nxsql::PooledConnection;
using nxsql::ResultSet;

namespace {

std::atomic<CNX_DBOption::ErrorSink> g_sink{nullptr};
std::atomic<void*> g_sinkContext{nullptr};

// The transaction open in this thread, if any: other objects of the thread run on it too.
thread_local PooledConnection* t_txConnection = nullptr;
thread_local const void* t_txOwner = nullptr;

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool readFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return true;
}

struct BackendName {
    const char* name;
    NxDbSettings::Backend backend;
};
const BackendName kBackendNames[] = {
    {"sqlite", NxDbSettings::Backend::SQLite},
    {"sqlite3", NxDbSettings::Backend::SQLite},
    {"postgresql", NxDbSettings::Backend::PostgreSQL},
    {"postgres", NxDbSettings::Backend::PostgreSQL},
    {"pgsql", NxDbSettings::Backend::PostgreSQL},
};

bool applySetting(NxDbSettings* settings, const std::string& key, const std::string& value,
                  const std::string& root) {
    std::string k = lowered(key);
    if (k == "backend") {
        for (const BackendName& entry : kBackendNames) {
            if (lowered(value) == entry.name) {
                settings->backend = entry.backend;
                return true;
            }
        }
        settings->error = "nxdb.ini: unknown Backend '" + value + "' (sqlite or postgresql)";
        return false;
    }
    if (k == "path") {
        settings->sqlitePath = (!value.empty() && value[0] != '/') ? root + "/" + value : value;
    } else if (k == "conninfo") {
        settings->pgConnInfo = value;
    } else if (k == "busytimeoutms") {
        long ms = std::strtol(value.c_str(), nullptr, 10);
        settings->busyTimeoutMs = ms < 0 ? 0 : (ms > 600000 ? 600000 : static_cast<int>(ms));
    }
    return true;  // unknown keys are left for other readers
}

}  // namespace

namespace nxsql {

NxDbSettings parseSettings(const std::string& iniText, const std::string& root) {
    NxDbSettings settings;
    settings.sqlitePath = root + "/data/nxmodel.db";
    std::istringstream in(iniText);
    std::string line, section;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        line = nxsql::trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            section =
                lowered(nxsql::trimmed(line.substr(1, close == std::string::npos ? 0 : close - 1)));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            settings.error = "nxdb.ini line " + std::to_string(number) + ": expected key=value";
            return settings;
        }
        if (section != "database")
            continue;
        if (!applySetting(&settings, nxsql::trimmed(line.substr(0, eq)),
                          nxsql::trimmed(line.substr(eq + 1)), root)) {
            return settings;
        }
    }
    return settings;
}

}  // namespace nxsql

struct CNX_DBOption::Impl {
    std::unique_ptr<PooledConnection> pooled;
    std::unique_ptr<ResultSet> rows;
    std::string error;
    bool inTransaction = false;
    long long affected = 0;
    char empty[1] = {'\0'};

    bool fail(const std::string& reason) {
        // Server messages are UTF-8 (and may be localised); callers log and show GBK.
        static thread_local nxsql::GbkCodec codec;
        codec.toGbk(reason.data(), reason.size(), &error);
        CNX_DBOption::ErrorSink sink = g_sink.load();
        if (sink)
            sink(error.c_str(), g_sinkContext.load());
        return false;
    }

    bool connect() {
        if (pooled)
            return true;
        std::string reason;
        pooled = nxsql::borrowConnection(&reason);
        return pooled ? true : fail(reason);
    }

    // The connection a statement of this object runs on.
    PooledConnection* target(const void* self) {
        if (t_txConnection != nullptr && t_txOwner != self)
            return t_txConnection;
        return connect() ? pooled.get() : nullptr;
    }

    bool run(const void* self, const char* sql, ResultSet* into) {
        error.clear();
        affected = 0;
        if (sql == nullptr)
            return fail("no statement given");
        PooledConnection* c = target(self);
        if (c == nullptr)
            return false;
        std::string utf8, reason;
        if (!c->codec.toUtf8(sql, std::strlen(sql), &utf8, &reason))
            return fail(reason);
        if (!c->connection->execute(nxsql::mapQualifiedNames(utf8), into, &reason)) {
            return fail(reason);
        }
        affected = c->connection->affectedRows();
        return true;
    }

    short endTransaction(const void* self, const char* verb) {
        if (!inTransaction) {
            fail(std::string(verb) + " without an open transaction");
            return 0;
        }
        std::string reason;
        const bool commit = std::strcmp(verb, "COMMIT") == 0;
        bool ok = commit ? pooled->connection->commit(&reason)
                         : pooled->connection->execute(verb, nullptr, &reason);
        if (!ok) {
            std::string ignored;
            pooled->connection->execute("ROLLBACK", nullptr, &ignored);
        }
        inTransaction = false;
        if (t_txOwner == self) {
            t_txConnection = nullptr;
            t_txOwner = nullptr;
        }
        return ok ? 1 : (fail(reason), 0);
    }

    short begin(const void* self, const std::string& lockTable) {
        error.clear();
        if (inTransaction || t_txConnection != nullptr) {
            fail("a transaction is already open in this thread");
            return 0;
        }
        if (!connect())
            return 0;
        std::string reason;
        if (!pooled->connection->begin(lockTable, &reason)) {
            fail(reason);
            return 0;
        }
        inTransaction = true;
        t_txConnection = pooled.get();
        t_txOwner = self;
        return 1;
    }
};

CNX_DBOption::CNX_DBOption() : m_impl(std::make_unique<Impl>()) {
    m_impl->connect();
}

CNX_DBOption::~CNX_DBOption() {
    if (m_impl->inTransaction)
        RollbackTransaction();
    m_impl->rows.reset();
    nxsql::returnConnection(std::move(m_impl->pooled));
}

short CNX_DBOption::BeginSelectRcdSet(char* sql, int /*mode*/) {
    m_impl->rows.reset();
    PooledConnection* c = m_impl->target(this);
    if (c == nullptr)
        return 0;
    auto rows = std::make_unique<ResultSet>(&c->codec);
    if (!m_impl->run(this, sql, rows.get()))
        return 0;
    m_impl->rows = std::move(rows);
    return 1;
}

int CNX_DBOption::GetRcdCount() {
    return m_impl->rows ? m_impl->rows->rows() : 0;
}

int CNX_DBOption::GetIntVal(int row, int column) {
    return nxsql::clampToInt(GetInt64Val(row, column));
}

long long CNX_DBOption::GetInt64Val(int row, int column) {
    if (!m_impl->rows)
        return 0;
    return nxsql::parseInt64(m_impl->rows->text(row, column));
}

char* CNX_DBOption::GetColVal(int row, int column, int* length) {
    const char* text = m_impl->rows ? m_impl->rows->text(row, column) : nullptr;
    if (text == nullptr) {
        m_impl->empty[0] = '\0';  // a caller may have written into it
        text = m_impl->empty;
    }
    if (length)
        *length = static_cast<int>(std::strlen(text));
    return const_cast<char*>(text);
}

void CNX_DBOption::EndSelectRcdSet() {
    m_impl->rows.reset();
}

short CNX_DBOption::ExecuteCmd(char* sql, int /*mode*/, int* /*affected*/) {
    return m_impl->run(this, sql, nullptr) ? 1 : 0;
}

short CNX_DBOption::BeginTableTransaction(const char* table) {
    std::string name = table ? table : "";
    if (!nxsql::isPlainTableName(name)) {
        m_impl->fail("transaction refused: '" + name + "' is not a table name");
        return 0;
    }
    return m_impl->begin(this, nxsql::mapQualifiedNames(name));
}

short CNX_DBOption::BeginTransaction() {
    return m_impl->begin(this, std::string());
}

short CNX_DBOption::CommitTransaction() {
    return m_impl->endTransaction(this, "COMMIT");
}

short CNX_DBOption::RollbackTransaction() {
    return m_impl->endTransaction(this, "ROLLBACK");
}

int CNX_DBOption::GetColCount() {
    return m_impl->rows ? m_impl->rows->columns() : 0;
}

const char* CNX_DBOption::GetColName(int column) {
    const char* name = m_impl->rows ? m_impl->rows->columnName(column) : nullptr;
    return name ? name : "";
}

bool CNX_DBOption::IsNull(int row, int column) {
    return !m_impl->rows || m_impl->rows->isNull(row, column);
}

long long CNX_DBOption::GetAffectedRows() const {
    return m_impl->affected;
}

bool CNX_DBOption::IsConnected() const {
    return m_impl->pooled != nullptr;
}

const char* CNX_DBOption::GetLastErrorText() const {
    return m_impl->error.c_str();
}

void CNX_DBOption::Configure(const NxDbSettings& settings) {
    nxsql::configurePool(settings);
}

NxDbSettings CNX_DBOption::SettingsFromEnvironment() {
    const char* root = std::getenv("NXROOT");
    if (root == nullptr || *root == '\0') {
        NxDbSettings settings;
        settings.error = "NXROOT is not set: no database configured";
        return settings;
    }
    const std::string ini = std::string(root) + "/cfg/nxdb.ini";
    std::string text;
    struct stat st;
    bool present = stat(ini.c_str(), &st) == 0;
    if (present && (!S_ISREG(st.st_mode) || !readFile(ini, &text))) {
        // Falling back to a local file would quietly split this workstation from the others.
        NxDbSettings settings;
        settings.error = ini + " exists but cannot be read";
        return settings;
    }
    return nxsql::parseSettings(text, root);  // no file: the defaults
}

void CNX_DBOption::ClosePool() {
    nxsql::closePool();
}

NxDbPoolStats CNX_DBOption::PoolStats() {
    return nxsql::poolStats();
}

NxDbSettings CNX_DBOption::CurrentSettings() {
    return nxsql::poolSettings();
}

void CNX_DBOption::SetErrorSink(ErrorSink sink, void* context) {
    g_sinkContext.store(context);
    g_sink.store(sink);
}
