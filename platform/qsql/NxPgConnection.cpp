// PostgreSQL backend for workstations that share one server. Each statement goes through
// PQexecParams without parameters, which accepts exactly one statement per call.
#include <libpq-fe.h>

#include <cstdlib>

#include "NxDbConnection.h"

namespace nxsql {
namespace {

void ignoreNotice(void*, const char*) {}  // "already exists, skipping" and the like

// One line: a message with DETAIL or CONTEXT lines becomes their texts joined by "; ".
std::string trimmedMessage(const char* text) {
    std::string message = text ? text : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    for (std::size_t at = message.find('\n'); at != std::string::npos;
         at = message.find('\n', at)) {
        std::size_t end = at + 1;
        while (end < message.size() && (message[end] == ' ' || message[end] == '\t'))
            ++end;
        message.replace(at, end - at, "; ");
    }
    return message;
}

class PgConnection : public Connection {
public:
    explicit PgConnection(PGconn* conn) : m_conn(conn) {}
    ~PgConnection() override { PQfinish(m_conn); }

    bool execute(const std::string& sql, ResultSet* rows, std::string* error) override;
    bool begin(const std::string& lockTable, std::string* error) override;
    bool commit(std::string* error) override;
    bool inTransaction() const override { return PQtransactionStatus(m_conn) != PQTRANS_IDLE; }
    // Also notices a session the server has ended meanwhile (restart, terminated backend):
    // reading what is waiting on the socket turns the status bad; it never blocks.
    bool broken() const override {
        if (PQstatus(m_conn) != CONNECTION_OK)
            return true;
        if (PQtransactionStatus(m_conn) != PQTRANS_IDLE)
            return false;
        // The server's farewell message and the end of the stream may need two reads.
        for (int read = 0; read < 2; ++read) {
            if (PQconsumeInput(m_conn) == 0 || PQstatus(m_conn) != CONNECTION_OK)
                return true;
        }
        return false;
    }
    long long affectedRows() const override { return m_affected; }

private:
    static void collect(PGresult* result, ResultSet* rows);

    PGconn* m_conn;
    long long m_affected = 0;
    std::string m_tag;  // command tag of the last successful statement ("COMMIT", "ROLLBACK", ...)
};

void PgConnection::collect(PGresult* result, ResultSet* rows) {
    int columns = PQnfields(result);
    std::vector<std::string> names;
    for (int c = 0; c < columns; ++c)
        names.emplace_back(PQfname(result, c));
    rows->setColumns(std::move(names));
    int count = PQntuples(result);
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (PQgetisnull(result, r, c)) {
                rows->addNull();
            } else {
                rows->addText(PQgetvalue(result, r, c),
                              static_cast<size_t>(PQgetlength(result, r, c)));
            }
        }
    }
}

bool PgConnection::execute(const std::string& sql, ResultSet* rows, std::string* error) {
    m_affected = 0;
    m_tag.clear();
    PGresult* result = PQexecParams(m_conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
    ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (ok) {
        if (rows && status == PGRES_TUPLES_OK)
            collect(result, rows);
        m_affected = std::atoll(PQcmdTuples(result));
        m_tag = PQcmdStatus(result);
    } else if (status == PGRES_EMPTY_QUERY) {
        *error = "empty statement";
    } else {
        *error = trimmedMessage(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn));
        if (error->empty())
            *error = trimmedMessage(PQerrorMessage(m_conn));
    }
    PQclear(result);
    return ok;
}

bool PgConnection::begin(const std::string& lockTable, std::string* error) {
    if (!execute("BEGIN", nullptr, error))
        return false;
    if (lockTable.empty())
        return true;
    // Conflicts with itself and with every insert, update and delete; readers go on.
    std::string lock = "LOCK TABLE " + lockTable + " IN SHARE ROW EXCLUSIVE MODE";
    if (execute(lock, nullptr, error))
        return true;
    std::string ignored;
    execute("ROLLBACK", nullptr, &ignored);
    return false;
}

bool PgConnection::commit(std::string* error) {
    if (!execute("COMMIT", nullptr, error))
        return false;
    // A transaction with a failed statement answers COMMIT with the tag ROLLBACK.
    if (m_tag == "COMMIT")
        return true;
    *error = "COMMIT ended as " + m_tag + ": an earlier statement of the transaction failed";
    return false;
}

// Session settings every statement of the plug-in relies on.
const char* const kSessionSettings[] = {
    // Quote doubling is the only escaping the statements use; a backslash must stay a backslash
    // even on a server configured the old way.
    "SET standard_conforming_strings = on",
};

}  // namespace

std::unique_ptr<Connection> openPostgres(const NxDbSettings& settings, std::string* error) {
    // The statements run on the GUI thread: an unreachable server must not hold it for minutes.
    // A connect_timeout in ConnInfo comes later and wins.
    const char* const keys[] = {"connect_timeout", "dbname", nullptr};
    const char* const values[] = {"5", settings.pgConnInfo.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
        *error = "cannot connect to PostgreSQL: " +
                 trimmedMessage(conn ? PQerrorMessage(conn) : "no memory");
        PQfinish(conn);
        return nullptr;
    }
    PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
    if (PQsetClientEncoding(conn, "UTF8") != 0) {
        *error =
            "PostgreSQL: cannot set client encoding UTF8: " + trimmedMessage(PQerrorMessage(conn));
        PQfinish(conn);
        return nullptr;
    }
    auto connection = std::make_unique<PgConnection>(conn);
    // A lock held by a stuck workstation must not freeze this one for ever.
    std::string timeout = "SET lock_timeout = " + std::to_string(settings.busyTimeoutMs);
    if (!connection->execute(timeout, nullptr, error)) {
        *error = "PostgreSQL: " + *error;
        return nullptr;
    }
    for (const char* setting : kSessionSettings) {
        if (!connection->execute(setting, nullptr, error)) {
            *error = std::string("PostgreSQL: ") + setting + ": " + *error;
            return nullptr;
        }
    }
    return connection;
}

}  // namespace nxsql
