#include "NxSqlText.h"

#include <cerrno>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace nxsql {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// ASCII reads the same in GBK and UTF-8.
bool isAscii(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

bool isIdentChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

bool matchesWord(const std::string& s, size_t at, const char* word) {
    size_t i = 0;
    for (; word[i]; ++i) {
        if (at + i >= s.size())
            return false;
        if (std::toupper(static_cast<unsigned char>(s[at + i])) != word[i])
            return false;
    }
    return true;
}

// Length of the qualifier at 'at' ("NXMODEL." or "NXMODEL.dbo."), 0 when there is none.
size_t qualifierLength(const std::string& s, size_t at) {
    if (at > 0 && (isIdentChar(s[at - 1]) || s[at - 1] == '.' || s[at - 1] == '"'))
        return 0;
    if (!matchesWord(s, at, "NXMODEL."))
        return 0;
    size_t len = 8;
    if (matchesWord(s, at + len, "DBO."))
        len += 4;
    if (at + len >= s.size())
        return 0;
    char next = s[at + len];
    return isIdentChar(next) || next == '"' ? len : 0;
}

// Index just past the quoted text or comment starting at 'at', or 'at' when none starts there.
size_t skipQuotedOrComment(const std::string& s, size_t at) {
    char c = s[at];
    if (c == '\'' || c == '"') {
        size_t i = at + 1;
        while (i < s.size()) {
            if (s[i] == c) {
                if (i + 1 < s.size() && s[i + 1] == c) {
                    i += 2;  // doubled quote inside the text
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return s.size();
    }
    if (c == '-' && at + 1 < s.size() && s[at + 1] == '-') {
        size_t end = s.find('\n', at);
        return end == std::string::npos ? s.size() : end + 1;
    }
    if (c == '/' && at + 1 < s.size() && s[at + 1] == '*') {
        size_t end = s.find("*/", at + 2);
        return end == std::string::npos ? s.size() : end + 2;
    }
    return at;
}

// True when the text holds nothing but blanks and comments.
bool onlyComments(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        if (std::isspace(static_cast<unsigned char>(s[i]))) {
            ++i;
            continue;
        }
        size_t next = skipQuotedOrComment(s, i);
        if (next == i || s[i] == '\'' || s[i] == '"')
            return false;
        i = next;
    }
    return true;
}

}  // namespace

std::string doubledQuotes(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out;
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

GbkCodec::GbkCodec()
    : m_toUtf8(iconv_open("UTF-8", "GB18030")), m_toGbk(iconv_open("GB18030", "UTF-8")) {}

GbkCodec::~GbkCodec() {
    if (m_toUtf8 != kNoConverter)
        iconv_close(m_toUtf8);
    if (m_toGbk != kNoConverter)
        iconv_close(m_toGbk);
}

bool GbkCodec::toUtf8(const char* gbk, size_t length, std::string* utf8, std::string* error) {
    utf8->clear();
    if (isAscii(gbk, length)) {  // most statements: nothing to convert
        utf8->assign(gbk, length);
        return true;
    }
    if (m_toUtf8 == kNoConverter) {
        *error = "text conversion GB18030 to UTF-8 is not available";
        return false;
    }
    iconv(m_toUtf8, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(gbk);
    size_t inLeft = length;
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(m_toUtf8, &in, &inLeft, &out, &outLeft);
        utf8->append(buffer, out - buffer);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            char reason[128];
            std::snprintf(reason, sizeof reason,
                          "invalid GBK text at byte %zu (0x%02X): statement refused",
                          static_cast<size_t>(in - gbk), static_cast<unsigned char>(*in));
            *error = reason;
            utf8->clear();
            return false;
        }
    }
    return true;
}

void GbkCodec::toGbk(const char* utf8, size_t length, std::string* gbk) {
    gbk->clear();
    appendGbk(utf8, length, gbk);
}

void GbkCodec::appendGbk(const char* utf8, size_t length, std::string* gbk) {
    if (isAscii(utf8, length)) {
        gbk->append(utf8, length);
        return;
    }
    if (m_toGbk == kNoConverter) {
        gbk->append(utf8, length);
        return;
    }
    iconv(m_toGbk, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(utf8);
    size_t inLeft = length;
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t rc = iconv(m_toGbk, &in, &inLeft, &out, &outLeft);
        gbk->append(buffer, out - buffer);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            gbk->push_back('?');  // not UTF-8: keep the rest readable
            ++in;
            --inLeft;
            iconv(m_toGbk, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

std::string mapQualifiedNames(const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    while (i < sql.size()) {
        size_t skipped = skipQuotedOrComment(sql, i);
        if (skipped != i) {
            out.append(sql, i, skipped - i);
            i = skipped;
            continue;
        }
        size_t qualifier = qualifierLength(sql, i);
        if (qualifier > 0) {
            i += qualifier;
            continue;
        }
        out.push_back(sql[i++]);
    }
    return out;
}

std::vector<std::string> splitStatements(const std::string& script) {
    std::vector<std::string> statements;
    size_t start = 0, i = 0;
    auto flush = [&](size_t end) {
        std::string piece = trimmed(script.substr(start, end - start));
        if (!piece.empty() && !onlyComments(piece))
            statements.push_back(piece);
    };
    while (i < script.size()) {
        size_t skipped = skipQuotedOrComment(script, i);
        if (skipped != i) {
            i = skipped;
            continue;
        }
        if (script[i] == ';') {
            flush(i);
            start = i + 1;
        }
        ++i;
    }
    flush(script.size());
    return statements;
}

bool isPlainTableName(const std::string& name) {
    if (name.empty() || name.size() > 128)
        return false;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '_' || c == '.'))
            return false;
    }
    return name.front() != '.' && name.back() != '.';
}

long long parseInt64(const char* text) {
    if (text == nullptr)
        return 0;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text)
        return 0;
    if (*end == '.' || *end == 'e' || *end == 'E') {
        double d = std::strtod(text, nullptr);
        if (std::isnan(d))
            return 0;
        if (d >= 9.2e18)
            return LLONG_MAX;
        if (d <= -9.2e18)
            return LLONG_MIN;
        return static_cast<long long>(d);
    }
    return value;  // strtoll already clamps on overflow
}

int clampToInt(long long value) {
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace nxsql
