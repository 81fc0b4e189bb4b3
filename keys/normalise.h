// Numbers as people write them, put into the form dialled.
#pragma once

// Rewrites, in place, a number as people write it into the form dialled, for
// DeriveNumberKey: fullwidth digits become ASCII digits; runs of spaces
// (ASCII, no-break, U+3000), dashes (ASCII and Unicode), dots and parentheses
// that stand between two digits are dropped; a country code 0086, +86 or
// (+86) where the number begins is dropped, and when a fixed line follows
// it (10, or a digit 2 to 9) its trunk 0 is put back. Text that holds a
// Latin letter is left exactly as it is. The text never grows.
void NormaliseWrittenNumber(char16_t* text);
