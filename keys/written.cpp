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
    if (c > u'/' && c < 0x00A0) return false;     // digits and letters, the common case
    if (c < u' ') return c == u'\t';              // the terminator ends every number
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
// stands: Peek gives it (0 at the end) and Next steps past it.
struct Utf16Cursor {
    const char16_t* at;

    bool AtAsciiDigit() const { return *at >= u'0' && *at <= u'9'; }
    char16_t Unit() const { return *at; }
    char32_t Peek() const { return *at; }
    void Next() { ++at; }
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
    char32_t Peek() const {
        uint32_t length;
        return Peek(&length);
    }
    void Next() {
        uint32_t length;
        Peek(&length);
        at += length;
    }
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
    for (; text.AtAsciiDigit(); text.Next(), ++count)
        if (count < capacity) digits[count] = text.Unit();
    if (count == 0) {
        for (char32_t c = text.Peek(); c != 0 && !DigitOf(c); c = text.Peek()) {
            if (IsPlus(c)) {
                Cursor after = text;
                after.Next();
                if (DigitOf(after.Peek())) {
                    *plus = true;
                    text = after;
                    break;
                }
            }
            text.Next();
        }
    }
    for (char32_t c = text.Peek(); c != 0; c = text.Peek()) {
        if (const char16_t digit = DigitOf(c)) {
            if (count < capacity) digits[count] = digit;
            ++count;
            text.Next();
            continue;
        }
        Cursor after = text;
        while (IsSeparator(c)) {
            after.Next();
            c = after.Peek();
        }
        if (after.at == text.at || !DigitOf(c)) break;
        text = after;
    }
    return count;
}

// The country code, if any, dropped and the trunk 0 put back: `digits`
// rewritten in place into the number as dialled, and its key.
WrittenNumber Dialled(char16_t* text, uint32_t count, bool plus) {
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

}  // namespace

WrittenNumber ReadWrittenNumber(char16_t* text) {
    bool plus;
    const uint32_t count = FindDigits(Utf16Cursor{text}, text, UINT32_MAX, &plus);
    return Dialled(text, count, plus);
}

WrittenNumber ReadWrittenNumber(const char* text, size_t length) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    const auto* end = at + length;
    char16_t digits[kKeptDigits + 2];  // a foreign number's + and terminator
    // Eleven plain digits and nothing else: a mobile number as lists hold it.
    if (length == 11 && at[0] == '1') {
        bool plain = true;
        for (size_t i = 0; i < 11; ++i) {
            plain &= at[i] >= '0' && at[i] <= '9';
            digits[i] = at[i];
        }
        digits[11] = 0;
        if (plain) {
            const int32_t key = DeriveNumberKey(digits);
            return {key != 0 ? kChineseNumber : kNoNumber, static_cast<uint32_t>(key)};
        }
    }
    bool plus;
    const uint32_t count = FindDigits(Utf8Cursor{at, end}, digits, kKeptDigits, &plus);
    return Dialled(digits, count < kKeptDigits ? count : kKeptDigits, plus);
}
