// Numbers as people write them, read out of the text around them.
#include "keys/written.h"

#include <cstring>

#include "keys/derive.h"

namespace {

// The ASCII digit a unit stands for, fullwidth digits included; 0 for none.
char16_t DigitOf(char16_t c) {
    if (c >= u'0' && c <= u'9') return c;
    if (c >= 0xFF10 && c <= 0xFF19) return static_cast<char16_t>(u'0' + (c - 0xFF10));
    return 0;
}

bool IsPlus(char16_t c) { return c == u'+' || c == 0xFF0B; }

// What contacts, web pages, chats and typesetting put between the digits of
// one number: spaces of every width, dashes, dots, slashes and parentheses.
bool IsSeparator(char16_t c) {
    if (c > u'/' && c < 0x00A0) return false;     // digits and letters, the common case
    if (c < u' ') return c == u'\t';              // the terminator ends every number
    if (c >= 0x2000 && c <= 0x200D) return true;  // typographic and zero-width spaces
    static constexpr char16_t kSeparators[] =
        u" \t\u00A0\u202F\u205F\u2060\u3000\uFEFF"                        // other spaces
        u"-\u00AD\u2010\u2011\u2012\u2013\u2014\u2015\u2212\uFE63\uFF0D"  // dashes
        u".\u00B7\uFF0E"                                                  // dots
        u"/\uFF0F"                                                        // slashes
        u"()\uFF08\uFF09";                                                // parentheses
    for (char16_t separator : kSeparators)
        if (separator != 0 && c == separator) return true;
    return false;
}

bool StartsWith(const char16_t* digits, uint32_t count, const char16_t* prefix) {
    for (uint32_t i = 0; prefix[i] != 0; ++i)
        if (i >= count || digits[i] != prefix[i]) return false;
    return true;
}

// A national number written without its trunk 0: a mobile's eleven digits,
// or an area code and subscriber number (ten digits for 10 and 2x, ten or
// eleven for the three-digit codes).
bool IsWholeNationalNumber(const char16_t* digits, uint32_t count) {
    if (count == 0) return false;
    if (digits[0] == u'1' && count > 1 && digits[1] != u'0') return count == 11;
    if (digits[0] == u'1' || digits[0] == u'2') return count == 10;
    if (digits[0] >= u'3') return count == 10 || count == 11;
    return false;
}

}  // namespace

WrittenNumber ReadWrittenNumber(char16_t* text) {
    // Digits at the start, the common case in lists, are already in place.
    const char16_t* read = text;
    while (*read >= u'0' && *read <= u'9') ++read;
    uint32_t count = static_cast<uint32_t>(read - text);
    bool plus = false;
    if (count == 0) {
        while (*read != 0 && !DigitOf(*read) && !(IsPlus(*read) && DigitOf(read[1]))) ++read;
        plus = IsPlus(*read);
        if (plus) ++read;
    }
    // The digits, written over the text from its start: never ahead of what
    // was read.
    while (*read != 0) {
        if (const char16_t digit = DigitOf(*read)) {
            text[count++] = digit;
            ++read;
            continue;
        }
        const char16_t* after = read;
        while (IsSeparator(*after)) ++after;
        if (after == read || !DigitOf(*after)) break;
        read = after;
    }

    // The country code, if any: what follows it is the national number.
    uint32_t national = 0;  // where it starts among the digits
    bool foreign = false;
    if (plus) {
        if (StartsWith(text, count, u"86"))
            national = 2;
        else if (text[0] != u'0')
            foreign = true;
        else
            count = 0;  // "+0…": no country code starts with 0
    } else if (StartsWith(text, count, u"00")) {
        if (StartsWith(text, count, u"0086"))
            national = 4;
        else if (count > 2 && text[2] != u'0')
            foreign = true;
        else
            count = 0;
    } else if (StartsWith(text, count, u"86")) {
        const bool trunk = count > 2 && text[2] == u'0';
        if (IsWholeNationalNumber(text + 2 + trunk, count - 2 - trunk)) national = 2;
    }

    if (foreign) {
        // "+" and the digits after the international prefix, no longer than
        // the "+" or "00" they were read with.
        const uint32_t skip = plus ? 0 : 2;
        std::memmove(text + 1, text + skip, (count - skip) * sizeof(char16_t));
        text[0] = u'+';
        text[count - skip + 1] = 0;
        return {kForeignNumber, 0};
    }
    if (national != 0) {
        const char16_t* rest = text + national;
        const uint32_t restCount = count - national;
        // After the country code a fixed line is written without its trunk
        // 0; a mobile number has none. "(0)" may stand there, but never 00.
        const bool putTrunk =
            restCount > 0 && ((rest[0] >= u'2' && rest[0] <= u'9') || StartsWith(rest, restCount, u"10"));
        if (restCount == 0 || StartsWith(rest, restCount, u"00")) {
            count = 0;
        } else {
            std::memmove(text + putTrunk, rest, restCount * sizeof(char16_t));
            if (putTrunk) text[0] = u'0';
            count = restCount + putTrunk;
        }
    }
    text[count] = 0;

    // Too few digits for the place the key is made of: DeriveNumberKey would
    // count the terminator (02) or give 0.
    const int32_t key = count >= 3 ? DeriveNumberKey(text) : 0;
    if (key == 0) {
        text[0] = 0;
        return {kNoNumber, 0};
    }
    return {kChineseNumber, static_cast<uint32_t>(key)};
}
