// The number key of a number as dialled.
#pragma once

#include <cstdint>

// Fixed lines are keyed by their area code: 10, 20 to 29 and the three-digit
// codes 100 to 999 as dialled after the trunk 0, and the 08xy codes as
// kLongCodeKeys + xy·10 + the first subscriber digit. Every fixed-line key is
// below kFixedLineKeyEnd; a mobile number's seven digits are far above it.
constexpr uint32_t kLongCodeKeys = 8000;
constexpr uint32_t kFixedLineKeyEnd = 9000;

inline bool IsFixedLineKey(uint32_t key) {
    return (key >= 10 && key < 1000) || (key >= kLongCodeKeys && key < kFixedLineKeyEnd);
}

// Turns a number as dialled into its key: the first seven units of a number
// not starting with 0; after a leading 0, a mobile number's seven digits or
// the fixed line's key above. 0 when the text gives no key.
int32_t DeriveNumberKey(const char16_t* text);
