#pragma once
// Text helpers of the database layer: GBK <-> UTF-8 conversion and the rewriting of the
// platform's qualified table names. Pure functions, no database needed.
#include <iconv.h>

#include <string>
#include <vector>

namespace nxsql {

// One pair of iconv descriptors (GB18030 <-> UTF-8); not thread-safe, one per connection.
class GbkCodec {
public:
    GbkCodec();
    ~GbkCodec();
    GbkCodec(const GbkCodec&) = delete;
    GbkCodec& operator=(const GbkCodec&) = delete;

    // Strict: an invalid or truncated GBK sequence fails with a reason naming the byte offset.
    bool toUtf8(const char* gbk, size_t length, std::string* utf8, std::string* error);
    // Lenient: bytes that are not valid UTF-8 become '?', so a read never fails.
    void toGbk(const char* utf8, size_t length, std::string* gbk);
    void appendGbk(const char* utf8, size_t length, std::string* gbk);

private:
    iconv_t m_toUtf8;
    iconv_t m_toGbk;
};

// NXMODEL.dbo.T and NXMODEL.T (qualifiers matched without regard to case) become T. Quoted
// literals, quoted identifiers and comments are left alone.
std::string mapQualifiedNames(const std::string& sql);

// A text value for a statement: every single quote doubled (the caller adds the enclosing quotes).
// The one place where values are made safe for SQL text.
std::string doubledQuotes(const std::string& text);

// The text without leading and trailing blanks.
std::string trimmed(const std::string& s);

// Splits a script at the semicolons that end statements (not those inside literals or
// comments); empty statements are dropped; each piece is trimmed.
std::vector<std::string> splitStatements(const std::string& script);

// True for a plain (optionally qualified) table name: letters, digits, '_' and '.'.
bool isPlainTableName(const std::string& name);

// Text to integer the way a record reader wants it: leading integer or decimal, clamped to
// the target range; anything else 0.
long long parseInt64(const char* text);
int clampToInt(long long value);

}  // namespace nxsql
