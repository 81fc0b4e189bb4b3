// UTF-8 and UTF-16, for paths and console text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text16.h"

// Unpaired surrogates become U+FFFD, so no text silently turns into another.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
inline std::string Utf16ToUtf8(const char16_t* text) { return Utf16ToUtf8(text, Text16Length(text)); }
// Malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(const char* text, size_t length);
inline std::u16string Utf8ToUtf16(const std::string& text) { return Utf8ToUtf16(text.data(), text.size()); }

// Paths, which POSIX keeps as bytes: a byte that is not UTF-8 becomes the
// lone surrogate U+DC80 to U+DCFF, as Python's surrogateescape has it, and
// turns back into that byte, so a file whose name is not UTF-8 still opens.
std::u16string Utf8PathToUtf16(const char* text, size_t length);
inline std::u16string Utf8PathToUtf16(const std::string& text) { return Utf8PathToUtf16(text.data(), text.size()); }
std::string Utf16PathToUtf8(const char16_t* text);

// One character of UTF-8 text, the one walk over UTF-8 that every reader
// shares: the conversion, the JSON writer, the validity check, the number
// reader.
struct Utf8Char {
    char32_t c;       // U+FFFD when malformed
    uint32_t length;  // bytes taken, at least 1
    bool wellFormed;  // false for a malformed sequence, not for a U+FFFD written as such
};

// Reads the character at `at`, before `end` (at < end). Overlong forms,
// encoded surrogates and values past U+10FFFF are malformed; a malformed
// sequence takes its lead byte and the continuation bytes that follow it, up
// to as many as the lead announced.
Utf8Char ReadUtf8Char(const unsigned char* at, const unsigned char* end);

// Writes `c` as one unit or a surrogate pair; the count of units.
inline uint32_t PutUtf16(char32_t c, char16_t* out) {
    if (c < 0x10000) {
        out[0] = static_cast<char16_t>(c);
        return 1;
    }
    out[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    return 2;
}
