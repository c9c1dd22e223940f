#include "SqlText.h"

#include "NxSqlText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

std::size_t GbkFit(const char* text, std::size_t n, std::size_t limit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t at = 0;
    while (at < n) {
        std::size_t width = 1;
        if (p[at] >= 0x81 && p[at] <= 0xFE && at + 1 < n)
            width = (p[at + 1] >= 0x30 && p[at + 1] <= 0x39) ? 4 : 2;
        if (at + width > limit)
            break;
        at += width;
    }
    return at < limit ? at : limit;
}

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
    if (sql.empty())
        return false;
    Close();
    std::vector<char> text(sql.begin(), sql.end());
    text.push_back('\0');
    m_open = m_db->BeginSelectRcdSet(text.data(), 101) == 1;
    return m_open;
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

int SqlExecute(CNX_DBOption& db, const std::string& sql) {
    if (sql.empty())
        return 0;
    std::vector<char> text(sql.begin(), sql.end());
    text.push_back('\0');
    return db.ExecuteCmd(text.data(), 100, nullptr);
}

int SqlExecute(const std::string& sql) {
    CNX_DBOption db;
    return SqlExecute(db, sql);
}
