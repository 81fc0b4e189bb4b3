// Number keys from decimal text, read as wcstol reads them, and back.
#include "keys/decimal.h"

#include <charconv>

namespace {

bool IsSpace(char16_t c) {
    // The C runtime's wide white space: the ASCII controls, space, and the
    // ideographic space a Chinese input method types.
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x3000;
}

// ASCII digits, and the fullwidth digits that the Windows runtime also reads.
int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= 0xFF10 && c <= 0xFF19) return c - 0xFF10;
    return -1;
}

}  // namespace

uint32_t ParseDecimalKey(const char16_t* text) {
    const char16_t* p = text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
    // Magnitude saturates just past the int32 range, so any run of digits fits.
    int64_t magnitude = 0;
    for (int d; (d = DigitValue(*p)) >= 0; ++p) {
        magnitude = magnitude * 10 + d;
        if (magnitude > 2147483648LL) magnitude = 2147483648LL;
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<uint32_t>(static_cast<int32_t>(value));
}

uint32_t FormatDecimalKey(uint32_t key, char* digits) {
    return static_cast<uint32_t>(std::to_chars(digits, digits + kKeyDigits, key).ptr - digits);
}

uint32_t FormatDecimalKey(uint32_t key, char16_t* digits) {
    char narrow[kKeyDigits];
    const uint32_t count = FormatDecimalKey(key, narrow);
    for (uint32_t i = 0; i < count; ++i) digits[i] = static_cast<char16_t>(narrow[i]);
    return count;
}
