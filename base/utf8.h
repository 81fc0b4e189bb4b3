// UTF-8 and UTF-16, for paths and console text.
#pragma once

#include <cstddef>
#include <string>

#include "base/text16.h"

// Unpaired surrogates become U+FFFD, so no text silently turns into another.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
inline std::string Utf16ToUtf8(const char16_t* text) { return Utf16ToUtf8(text, Text16Length(text)); }
// Malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(const char* text, size_t length);
inline std::u16string Utf8ToUtf16(const std::string& text) { return Utf8ToUtf16(text.data(), text.size()); }
