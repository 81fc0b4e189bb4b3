// Number keys: the value under which a number is stored in the directory.
#pragma once

#include <cstdint>

// Reads decimal text as the C library's wcstol reads it in base 10: leading
// white space, an optional sign, digits up to the first other character.
// Text without digits gives 0; values beyond the signed 32-bit range give the
// nearest bound. The result is used as an unsigned key, so -5 is 4294967291.
uint32_t ParseDecimalKey(const char16_t* text);

// Turns a number as dialled into its key: the first seven units of a number
// not starting with 0; after a leading 0, a mobile number's seven digits or
// the area code (10, 2x, three digits, or 8000 + the 08xy code and first
// subscriber digit). 0 when the text gives no key.
int32_t DeriveNumberKey(const char16_t* text);

// Rewrites, in place, a number as people write it into the form dialled, for
// DeriveNumberKey: fullwidth digits become ASCII digits; runs of spaces
// (ASCII, no-break, U+3000), dashes (ASCII and Unicode), dots and parentheses
// that stand between two digits are dropped; a country code 0086, +86 or
// (+86) where the number begins is dropped, and when a fixed line follows
// it (10, or a digit 2 to 9) its trunk 0 is put back. Text that holds a
// Latin letter is left exactly as it is. The text never grows.
void NormaliseWrittenNumber(char16_t* text);
