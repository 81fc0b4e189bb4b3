// Decimal number keys, as the command line, the add and the import write them.
#pragma once

#include <cstdint>

// Reads decimal text as the C library's wcstol reads it in base 10: leading
// white space, an optional sign, digits up to the first other character.
// Text without digits gives 0; values beyond the signed 32-bit range give the
// nearest bound. The result is used as an unsigned key, so -5 is 4294967291.
uint32_t ParseDecimalKey(const char16_t* text);

// The most digits a key takes in decimal.
constexpr uint32_t kKeyDigits = 10;
// Writes `key` in decimal, as the export and vnlt write keys: at most
// kKeyDigits digits, no sign, no terminator. The count of digits.
uint32_t FormatDecimalKey(uint32_t key, char* digits);
uint32_t FormatDecimalKey(uint32_t key, char16_t* digits);
