#pragma once
// One open backend connection and the record set it fills. Internal to the database layer.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CNX_DBOption.h"
#include "NxSqlText.h"

namespace nxsql {

// Rows of one select, every cell stored as NUL-terminated GBK text in one buffer.
class ResultSet {
public:
    explicit ResultSet(GbkCodec* codec) : m_codec(codec) {}

    void setColumns(std::vector<std::string> utf8Names);
    void addNull();
    void addText(const char* utf8, size_t length);

    int rows() const {
        return m_columns.empty() ? 0 : static_cast<int>(m_cells.size() / m_columns.size());
    }
    int columns() const { return static_cast<int>(m_columns.size()); }
    bool inRange(int row, int column) const;
    const char* text(int row, int column) const;  // nullptr out of range
    bool isNull(int row, int column) const;
    const char* columnName(int column) const;

private:
    struct Cell {
        size_t offset;
        bool null;
    };
    size_t index(int row, int column) const {
        return static_cast<size_t>(row) * m_columns.size() + static_cast<size_t>(column);
    }

    GbkCodec* m_codec;
    std::vector<std::string> m_columns;  // GBK
    std::vector<Cell> m_cells;
    std::string m_data;
};

class Connection {
public:
    virtual ~Connection() = default;
    // Runs exactly one UTF-8 statement; rows (when given) receive a select's record set.
    virtual bool execute(const std::string& sql, ResultSet* rows, std::string* error) = 0;
    // Opens a transaction; with a table, other writers of that table are kept out until it ends.
    virtual bool begin(const std::string& lockTable, std::string* error) = 0;
    // Ends the open transaction with COMMIT; false when it did not commit (the server may have
    // turned it into a ROLLBACK because an earlier statement of it failed).
    virtual bool commit(std::string* error) { return execute("COMMIT", nullptr, error); }
    virtual bool broken() const = 0;
    // True while a transaction is open on the connection, whoever opened it.
    virtual bool inTransaction() const = 0;
    virtual long long affectedRows() const = 0;
};

std::unique_ptr<Connection> openSqlite(const NxDbSettings& settings, std::string* error);
std::unique_ptr<Connection> openPostgres(const NxDbSettings& settings, std::string* error);

// A pooled connection with its converter.
struct PooledConnection {
    std::unique_ptr<Connection> connection;
    GbkCodec codec;
    uint64_t generation = 0;
};

std::unique_ptr<PooledConnection> borrowConnection(std::string* error);
void returnConnection(std::unique_ptr<PooledConnection> pooled);

}  // namespace nxsql
