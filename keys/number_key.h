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
