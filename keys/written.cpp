// Numbers as people write them, read out of the text around them: one
// reading over UTF-16 and UTF-8, each decoded where it stands.
#include "keys/written.h"

#include <cstring>

#include "base/utf8.h"
#include "keys/derive.h"

namespace {

// The ASCII digit a character stands for, fullwidth digits included; 0 for none.
char16_t DigitOf(char32_t c) {
    if (c >= u'0' && c <= u'9') return static_cast<char16_t>(c);
    if (c >= 0xFF10 && c <= 0xFF19) return static_cast<char16_t>(u'0' + (c - 0xFF10));
    return 0;
}

bool IsPlus(char32_t c) { return c == u'+' || c == 0xFF0B; }

// What contacts, web pages, chats and typesetting put between the digits of
// one number: spaces of every width, dashes, dots, slashes and parentheses.
bool IsSeparator(char32_t c) {
    // ASCII's are tab, space, ( ) - . and /; the terminator ends every number.
    constexpr uint64_t kAsciiSeparators =
        1ull << '\t' | 1ull << ' ' | 1ull << '(' | 1ull << ')' | 1ull << '-' | 1ull << '.' | 1ull << '/';
    if (c < 64) return (kAsciiSeparators >> c) & 1;
    if (c < 0x00A0) return false;                 // letters
    if (c >= 0x2000 && c <= 0x200D) return true;  // typographic and zero-width spaces
    if (c > 0xFFFF) return false;
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

// The two encodings, each a cursor that decodes one character where it
// stands: Peek gives it (0 at the end) and its length in units, Skip steps
// over that many.
struct Utf16Cursor {
    const char16_t* at;

    bool AtAsciiDigit() const { return *at >= u'0' && *at <= u'9'; }
    char16_t Unit() const { return *at; }
    char32_t Peek(uint32_t* length) const { return *length = 1, *at; }
    void Skip(uint32_t length) { at += length; }
};

struct Utf8Cursor {
    const unsigned char* at;
    const unsigned char* end;

    bool AtAsciiDigit() const { return at != end && *at >= '0' && *at <= '9'; }
    char16_t Unit() const { return *at; }
    // A multibyte character is decoded as the widening would: a malformed
    // sequence is U+FFFD, over the bytes the widening would take.
    char32_t Peek(uint32_t* length) const {
        if (at == end) return *length = 0, 0;
        if (*at < 0x80) return *length = 1, *at;
        const Utf8Char c = ReadUtf8Char(at, end);
        *length = c.length;
        return c.c;
    }
    void Skip(uint32_t length) { at += length; }
};

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

// Every decision below looks at the first few digits and at counts up to
// 4 + 11: past kKeptDigits, more digits change nothing but a foreign
// number's rewritten text, which only the in-place reading writes.
constexpr uint32_t kKeptDigits = 24;

// Finds the number in the text, and writes its digits to `digits` (at most
// `capacity` of them, which may be the text itself: a digit is written only
// after at least one unit was read). The count may pass the capacity.
template <typename Cursor>
uint32_t FindDigits(Cursor text, char16_t* digits, uint32_t capacity, bool* plus) {
    uint32_t count = 0;
    *plus = false;
    // Digits at the start, the common case in lists, need no decoding.
    for (; text.AtAsciiDigit(); text.Skip(1), ++count)
        if (count < capacity) digits[count] = text.Unit();
    uint32_t length;
    char32_t c = text.Peek(&length);
    if (count == 0) {
        while (c != 0 && !DigitOf(c)) {
            const bool wasPlus = IsPlus(c);
            text.Skip(length);
            c = text.Peek(&length);
            if (wasPlus && DigitOf(c)) *plus = true;
        }
    }
    while (c != 0) {
        if (const char16_t digit = DigitOf(c)) {
            if (count < capacity) digits[count] = digit;
            ++count;
            text.Skip(length);
            for (; text.AtAsciiDigit(); text.Skip(1), ++count)
                if (count < capacity) digits[count] = text.Unit();
            c = text.Peek(&length);
            continue;
        }
        if (!IsSeparator(c)) break;
        Cursor after = text;
        do {
            after.Skip(length);
            c = after.Peek(&length);
        } while (IsSeparator(c));
        if (!DigitOf(c)) break;
        text = after;
    }
    return count;
}

// The number as dialled, where it stands among the digits: a Chinese
// number's (terminated), or a foreign number's after its international
// prefix.
struct DialledNumber {
    WrittenNumber number;
    uint32_t from, count;
};

// The country code, if any, dropped and the trunk 0 put back over the
// digit before the national number: nothing moves.
DialledNumber Dialled(char16_t* text, uint32_t count, bool plus) {
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
        const uint32_t skip = plus ? 0 : 2;
        return {{kForeignNumber, 0}, skip, count - skip};
    }
    uint32_t from = 0;
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
            from = national - putTrunk;
            text[from] = putTrunk ? u'0' : text[from];
            count = restCount + putTrunk;
        }
    }
    text[from + count] = 0;

    // Too few digits for the place the key is made of: DeriveNumberKey would
    // count the terminator (02) or give 0.
    const int32_t key = count >= 3 ? DeriveNumberKey(text + from) : 0;
    if (key == 0) return {{kNoNumber, 0}, 0, 0};
    return {{kChineseNumber, static_cast<uint32_t>(key)}, from, count};
}

}  // namespace

WrittenNumber ReadWrittenNumber(char16_t* text) {
    bool plus;
    const uint32_t count = FindDigits(Utf16Cursor{text}, text, UINT32_MAX, &plus);
    const DialledNumber dialled = Dialled(text, count, plus);
    // Rewritten from the start: "+" and a foreign number's digits, no
    // longer than the "+" or "00" they were read with.
    const bool foreign = dialled.number.kind == kForeignNumber;
    std::memmove(text + foreign, text + dialled.from, dialled.count * sizeof(char16_t));
    if (foreign) text[0] = u'+';
    text[foreign + dialled.count] = 0;
    return dialled.number;
}

WrittenNumber ReadWrittenNumber(const char* text, size_t length) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    const auto* end = at + length;
    char16_t digits[kKeptDigits + 1];
    // Eleven plain digits and nothing else, a mobile number as lists hold
    // it: its key is its first seven digits, as DeriveNumberKey makes it.
    if (length == 11 && at[0] == '1') {
        uint32_t key = 0, notDigit = 0;
        for (size_t i = 0; i < 11; ++i) {
            const uint32_t digit = static_cast<uint32_t>(at[i]) - '0';
            notDigit |= digit > 9;
            if (i < 7) key = key * 10 + digit;
        }
        if (!notDigit) return {kChineseNumber, key};
    }
    bool plus;
    const uint32_t count = FindDigits(Utf8Cursor{at, end}, digits, kKeptDigits, &plus);
    return Dialled(digits, count < kKeptDigits ? count : kKeptDigits, plus).number;
}
