#include "LogRules.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace nxlog {

bool levelPasses(int level, int debugLevel) {
    if (debugLevel == 6)
        return level == 2;
    return debugLevel >= level;
}

bool printfLevelPasses(int level, int debugLevel) {
    if (level == 0)
        return debugLevel != 6;
    return levelPasses(level, debugLevel);
}

std::string dateText(int year, int month, int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%4d-%02d-%02d", year, month, day);
    return buf;
}

std::string timeText(Build build, int hour, int minute, int second, int millisecond) {
    char buf[32];
    if (build == Build::UiLibrary)
        std::snprintf(buf, sizeof buf, "%02d:%02d::%02d:%03d", hour, minute, second, millisecond);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%04d", hour, minute, second, millisecond);
    return buf;
}

std::string archiveName(const std::string& logFile, int slot) {
    char buf[32];
    std::snprintf(buf, sizeof buf, ".%03d", slot);
    return logFile + buf;
}

ArchivePlan planArchive(int maxFiles, const std::function<bool(int)>& slotExists) {
    ArchivePlan plan;
    for (int i = 0; i < maxFiles; ++i) {
        if (!slotExists(i)) {
            plan.slot = i;
            return plan;
        }
    }
    // Every slot taken (vacuously so for MaxFiles <= 0): purge them and reuse .000. With no
    // slots nothing is purged, so once .000 exists the non-replacing rename fails and the file
    // grows.
    plan.purgeAll = maxFiles > 0;
    plan.slot = 0;
    return plan;
}

int64_t profileNumber(const char* text, int64_t defaultValue, bool wholeText) {
    if (text == nullptr)
        return defaultValue;
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (end == text)
        return 0;
    if (wholeText) {
        while (std::isspace(static_cast<unsigned char>(*end)))
            ++end;
        if (*end != '\0')
            return 0;
    }
    return v;
}

std::string boundedText(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace nxlog
