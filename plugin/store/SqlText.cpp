#include "SqlText.h"

#include "NxSqlText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::string SqlQuoted(const std::string& text) {
    return nxsql::doubledQuotes(text);
}

std::string SqlFormatRaw(const char* fmt, ...) {
    if (!fmt)
        return {};
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const int needed = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        if (std::vsnprintf(buffer.data(), buffer.size(), fmt, again) == needed)
            out.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(again);
    return out;
}

SqlQuery::~SqlQuery() {
    Close();
}

void SqlQuery::Close() {
    if (m_open)
        m_db->EndSelectRcdSet();
    m_open = false;
}

bool SqlQuery::Open(const std::string& sql) {
    Close();
    m_reason.clear();
    if (sql.empty()) {
        m_reason = " reason: the statement could not be formed";
        return false;
    }
    std::vector<char> text(sql.begin(), sql.end());
    text.push_back('\0');
    m_open = m_db->BeginSelectRcdSet(text.data(), 101) == 1;
    if (!m_open)
        m_reason = std::string(" reason: ") + m_db->GetLastErrorText();
    return m_open;
}

std::string SqlQuery::Reason() const {
    return m_reason;
}

int SqlQuery::Rows() {
    return m_open ? m_db->GetRcdCount() : 0;
}

int SqlQuery::Int(int row, int column) {
    return m_db->GetIntVal(row, column);
}

long long SqlQuery::Int64(int row, int column) {
    return m_db->GetInt64Val(row, column);
}

std::string SqlQuery::Text(int row, int column) {
    const char* value = m_db->GetColVal(row, column, nullptr);
    return value ? value : "";
}

SqlResult SqlExecute(CNX_DBOption& db, const std::string& sql) {
    SqlResult result;
    if (sql.empty()) {
        result.reason = "the statement could not be formed";
        return result;
    }
    std::vector<char> text(sql.begin(), sql.end());
    text.push_back('\0');
    result.ok = db.ExecuteCmd(text.data(), 100, nullptr) == 1;
    result.changed = result.ok ? db.GetAffectedRows() : 0;
    if (!result.ok)
        result.reason = db.GetLastErrorText();
    return result;
}

SqlResult SqlExecute(const std::string& sql) {
    CNX_DBOption db;
    return SqlExecute(db, sql);
}
