#pragma once
// GBK/GB18030 texts cut to a byte limit without splitting a character: one byte below 0x81;
// otherwise two, or four when the second byte is a digit.
#include <cstddef>

// How many of the first n bytes of a GBK/GB18030 text fit in limit bytes without splitting a
// character: a half character would make the text invalid GBK, which the database then refuses.
// Never more than n, so nothing past the text is read; a text that itself ends inside a
// character keeps those bytes (the database refuses it as invalid).
inline std::size_t GbkFit(const char* text, std::size_t n, std::size_t limit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t at = 0;
    while (at < n) {
        std::size_t width = 1;
        if (p[at] >= 0x81 && p[at] <= 0xFE)
            width = (at + 1 < n && p[at + 1] >= 0x30 && p[at + 1] <= 0x39) ? 4 : 2;
        if (at + width > limit)
            break;
        if (at + width > n)
            return n;  // the text ends inside this character
        at += width;
    }
    return at;
}
