// The number key of a number as dialled.
#pragma once

#include <cstdint>

// Turns a number as dialled into its key: the first seven units of a number
// not starting with 0; after a leading 0, a mobile number's seven digits or
// the area code (10, 2x, three digits, or 8000 + the 08xy code and first
// subscriber digit). 0 when the text gives no key.
int32_t DeriveNumberKey(const char16_t* text);
