#pragma once
// Building SQL statements and copying texts into fixed fields. Every text value of a statement
// passes through SqlQuoted (quotes doubled), statements grow as needed, and a statement that
// cannot be formed comes back empty, so it is never executed half-made.
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "CNX_DBOption.h"
#include "gbk_text.h"

// A text value as it goes between single quotes: every ' written twice.
std::string SqlQuoted(const std::string& text);
// printf into a growable string; "" when the format cannot be applied.
std::string SqlFormatRaw(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The text of a fixed field: at most N - 1 bytes, cut at a character boundary, also when the
// caller filled the field to its last byte.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, GbkFit(field, strnlen(field, N), N - 1));
}

namespace sqltext {
struct Quoted {
    std::string text;
};
// A fixed text field (or literal) is read as FieldText reads it.
template <std::size_t N>
Quoted Arg(const char (&field)[N]) {
    return Quoted{SqlQuoted(FieldText(field))};
}
inline Quoted Arg(const std::string& text) {
    return Quoted{SqlQuoted(text)};
}
template <typename T, typename = std::enable_if_t<std::is_arithmetic<T>::value>>
T Arg(T value) {
    return value;
}
template <typename T>
T Pass(T value) {
    return value;
}
inline const char* Pass(const Quoted& q) {
    return q.text.c_str();
}

template <typename... H>
std::string Apply(const char* fmt, const H&... held) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    return SqlFormatRaw(fmt, Pass(held)...);
#pragma GCC diagnostic pop
}
}  // namespace sqltext

// The statement with every text argument quoted by SqlQuoted.
template <typename... A>
std::string SqlFormat(const char* fmt, const A&... args) {
    return sqltext::Apply(fmt, sqltext::Arg(args)...);
}

// Bounded, NUL-terminated copy of at most maxChars bytes (and what fits the field), cut at a
// character boundary.
template <std::size_t N>
void CopyText(char (&field)[N], const char* text, std::size_t maxChars = N - 1) {
    std::size_t limit = maxChars < N - 1 ? maxChars : N - 1;
    std::size_t n = text ? GbkFit(text, strnlen(text, limit + 4), limit) : 0;
    std::memcpy(field, text ? text : "", n);
    std::memset(field + n, 0, N - n);
}
template <std::size_t N, std::size_t M>
void CopyField(char (&field)[N], const char (&source)[M]) {
    std::size_t n = GbkFit(source, strnlen(source, M), N - 1);
    std::memcpy(field, source, n);
    std::memset(field + n, 0, N - n);
}
// Makes a fixed field NUL-terminated within its size, cut at a character boundary; what follows
// the text is cleared.
template <std::size_t N>
void BoundField(char (&field)[N]) {
    const std::size_t n = GbkFit(field, strnlen(field, N), N - 1);
    std::memset(field + n, 0, N - n);
}

// A select that is closed when it goes out of scope; on its own connection, or on the one of a
// running operation (so it sees that operation's uncommitted rows).
class SqlQuery {
public:
    SqlQuery() : m_owned(new CNX_DBOption), m_db(m_owned.get()) {}
    explicit SqlQuery(CNX_DBOption& db) : m_db(&db) {}
    ~SqlQuery();
    SqlQuery(const SqlQuery&) = delete;
    SqlQuery& operator=(const SqlQuery&) = delete;

    bool Open(const std::string& sql);  // false for an empty statement or a failed open
    void Close();
    // After a failed Open: " reason: " and the database's reason; otherwise "" (a select that
    // ran and found nothing has no reason). Appended to the operation's own log line.
    std::string Reason() const;
    int Rows();
    int Int(int row, int column);
    long long Int64(int row, int column);
    std::string Text(int row, int column);

private:
    std::unique_ptr<CNX_DBOption> m_owned;
    CNX_DBOption* m_db;
    bool m_open = false;
    std::string m_reason;
};

// What a statement did: whether it ran, the rows it changed, and the driver's reason when not.
struct SqlResult {
    bool ok = false;
    long long changed = 0;
    std::string reason;
};
// Executes a statement on db; an empty statement (one that could not be formed) is refused.
SqlResult SqlExecute(CNX_DBOption& db, const std::string& sql);
SqlResult SqlExecute(const std::string& sql);
