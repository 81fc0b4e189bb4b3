// UTF-8 and UTF-16 conversion, with U+FFFD for whatever is malformed.
#include "base/utf8.h"

namespace {

// Writes `c` at `out`; the position after it.
char* PutUtf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

}  // namespace

namespace {

// `escapes`: a lone U+DC80 to U+DCFF is the byte it escapes.
std::string ToUtf8(const char16_t* text, size_t length, bool escapes) {
    // A unit gives at most three bytes (a pair, two units, gives four).
    std::string out(3 * length, '\0');
    char* at = out.data();
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (escapes && c >= 0xDC80 && c <= 0xDCFF) {
            *at++ = static_cast<char>(c - 0xDC00);
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        at = PutUtf8(at, c);
    }
    out.resize(static_cast<size_t>(at - out.data()));
    return out;
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text, size_t length) { return ToUtf8(text, length, false); }

std::string Utf16PathToUtf8(const char16_t* text) { return ToUtf8(text, Text16Length(text), true); }

Utf8Char ReadUtf8Char(const unsigned char* at, const unsigned char* end) {
    const unsigned char lead = *at;
    if (lead < 0x80) return {lead, 1, true};
    // Bytes F5 to FF never start a sequence, and C0, C1 only overlong ones.
    const uint32_t extra = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (extra == 0) return {0xFFFD, 1, false};
    char32_t c = lead & (0x3F >> extra);
    uint32_t length = 1;
    for (; length <= extra; ++length) {
        if (at + length == end || (at[length] & 0xC0) != 0x80) return {0xFFFD, length, false};
        c = (c << 6) | (at[length] & 0x3F);
    }
    // An overlong form would let "/" or NUL through in disguise.
    constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0xFFFD, length, false};
    return {c, length, true};
}

namespace {

// Ill-formed bytes become U+FFFD, or with `keepBytes` each one a lone
// surrogate U+DC80 to U+DCFF, from which the path's bytes come back.
std::u16string Widen(const char* text, size_t length, bool keepBytes) {
    std::u16string out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    while (p < end) {
        const Utf8Char read = ReadUtf8Char(p, end);
        if (read.wellFormed || !keepBytes) {
            char16_t units[2];
            out.append(units, PutUtf16(read.c, units));
        } else {
            for (uint32_t i = 0; i < read.length; ++i) out += static_cast<char16_t>(0xDC00 + p[i]);
        }
        p += read.length;
    }
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(const char* text, size_t length) { return Widen(text, length, false); }

std::u16string Utf8PathToUtf16(const char* text, size_t length) { return Widen(text, length, true); }
