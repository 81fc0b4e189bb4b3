// The number key of a dialled number: mobile prefixes and area codes.
#include "keys/derive.h"

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Units take part with their code minus '0' whatever they are; the sum wraps
// at 32 bits.
uint32_t PlaceNumber(const char16_t* units, int places) {
    uint32_t value = 0;
    for (int i = 0; i < places; ++i) value = value * 10 + static_cast<uint32_t>(static_cast<int32_t>(units[i]) - 48);
    return value;
}

// Length of `text`, counted no further than `limit`.
uint32_t LengthUpTo(const char16_t* text, uint32_t limit) {
    uint32_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    return length;
}

uint32_t SevenPlaces(const char16_t* text) { return LengthUpTo(text, 7) < 7 ? 0 : PlaceNumber(text, 7); }

}  // namespace

int32_t DeriveNumberKey(const char16_t* text) {
    while (*text != 0 && !IsDigit(*text)) ++text;
    if (*text == 0) return 0;
    if (*text != u'0') return static_cast<int32_t>(SevenPlaces(text));

    const char16_t* rest = text + 1;  // c1 onwards
    const uint32_t lengthAfterZero = LengthUpTo(rest, 4);
    uint32_t key;
    if (rest[0] == u'1' && rest[1] == u'0')
        key = 10;
    else if (rest[0] == u'2')
        key = 20 + static_cast<uint32_t>(static_cast<int32_t>(rest[1]) - 48);
    else if (rest[0] == u'8' && lengthAfterZero >= 4)
        key = kLongCodeKeys + PlaceNumber(rest + 1, 3);
    else if (rest[0] == u'1')
        key = SevenPlaces(rest);
    else if (lengthAfterZero >= 3)
        key = PlaceNumber(rest, 3);
    else
        key = 0;
    return static_cast<int32_t>(key);
}
