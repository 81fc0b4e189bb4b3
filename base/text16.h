// UTF-16 text of the core: its length, its comparison, and the casts between
// char16_t and the Windows API's wchar_t.
#pragma once

#include <cstdint>

// Units before the terminating NUL.
inline uint32_t Text16Length(const char16_t* text) {
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// Whether the NUL-terminated `stored` is exactly the `length` units of `text`.
inline bool SameText16(const char16_t* stored, const char16_t* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        if (stored[i] != text[i]) return false;
    return stored[length] == 0;
}

#ifdef _WIN32
// Windows' wchar_t is the core's UTF-16 unit under another name.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* AsText16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
inline char16_t* AsText16(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }
#endif
