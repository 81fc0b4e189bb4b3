// Numbers as people write them, read out of the text around them: one
// reading over UTF-16 and UTF-8, each decoded where it stands.
#include "keys/written.h"

#include <array>
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

// ASCII's separators: tab, space, ( ) - . and /. The terminator ends every number.
constexpr uint64_t kAsciiSeparators =
    1ull << '\t' | 1ull << ' ' | 1ull << '(' | 1ull << ')' | 1ull << '-' | 1ull << '.' | 1ull << '/';

constexpr bool IsAsciiDigit(unsigned c) { return c - '0' < 10; }
constexpr bool IsAsciiSeparator(unsigned c) { return c < 64 && ((kAsciiSeparators >> c) & 1); }

// What contacts, web pages, chats and typesetting put between the digits of
// one number: spaces of every width, dashes, dots, slashes and parentheses.
bool IsSeparator(char32_t c) {
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

// Whether the digits begin with the two digits `a` and `b`.
bool StartsWith(const char16_t* digits, uint32_t count, char a, char b) {
    return count >= 2 && digits[0] == a && digits[1] == b;
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

// FindDigits over text where every byte that matters is ASCII, as in most
// lists, byte by byte with no decoding. False, having found nothing, where a
// byte past ASCII stands before the number ends: it may be a fullwidth
// digit or a wide separator, for the decoding reading.
bool FindAsciiDigits(const unsigned char* at, const unsigned char* end, char16_t* digits, uint32_t capacity,
                     uint32_t* found, bool* plus) {
    enum ByteKind : uint8_t { kOther, kDigit, kSeparator, kPlus, kPastAscii, kTerminator };
    static constexpr auto kKinds = [] {
        std::array<uint8_t, 256> kinds{};
        for (unsigned c = 0; c < 256; ++c)
            kinds[c] = c == 0                ? kTerminator
                       : c >= 0x80           ? kPastAscii
                       : IsAsciiDigit(c)     ? kDigit
                       : IsAsciiSeparator(c) ? kSeparator
                       : c == '+'            ? kPlus
                                             : kOther;
        return kinds;
    }();
    *plus = false;
    for (; at != end; ++at) {
        const uint8_t kind = kKinds[*at];
        if (kind == kDigit || kind == kTerminator) break;
        if (kind == kPastAscii) return false;
        if (kind == kPlus && at + 1 != end && kKinds[at[1]] >= kDigit) {
            if (kKinds[at[1]] != kDigit) {
                if (kKinds[at[1]] == kPastAscii) return false;
                continue;
            }
            *plus = true;
            ++at;
            break;
        }
    }
    uint32_t count = 0;
    while (at != end) {
        uint8_t kind = kKinds[*at];
        if (kind == kDigit) {
            digits[count < capacity ? count : capacity] = *at;  // past the capacity, a slot nobody reads
            ++count;
            ++at;
            continue;
        }
        if (kind == kPastAscii) return false;
        if (kind != kSeparator) break;
        const unsigned char* after = at + 1;
        while (after != end && (kind = kKinds[*after]) == kSeparator) ++after;
        if (after == end || kind != kDigit) {
            if (after != end && kind == kPastAscii) return false;
            break;
        }
        at = after;
    }
    *found = count;
    return true;
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
        if (StartsWith(text, count, '8', '6'))
            national = 2;
        else if (text[0] != u'0')
            foreign = true;
        else
            count = 0;  // "+0…": no country code starts with 0
    } else if (StartsWith(text, count, '0', '0')) {
        if (StartsWith(text + 2, count - 2, '8', '6'))
            national = 4;
        else if (count > 2 && text[2] != u'0')
            foreign = true;
        else
            count = 0;
    } else if (StartsWith(text, count, '8', '6')) {
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
            restCount > 0 && ((rest[0] >= u'2' && rest[0] <= u'9') || StartsWith(rest, restCount, '1', '0'));
        if (restCount == 0 || StartsWith(rest, restCount, '0', '0')) {
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
    const char16_t* dialled = text + from;
    int32_t key = 0;
    if (count >= 7 && dialled[0] != u'0') {
        // A mobile number's key, as DeriveNumberKey makes it: its first seven digits.
        for (uint32_t i = 0; i < 7; ++i) key = key * 10 + (dialled[i] - u'0');
    } else if (count >= 3) {
        key = DeriveNumberKey(dialled);
    }
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
    char16_t digits[kKeptDigits + 2];  // and a slot for digits past them
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
    uint32_t count;
    if (!FindAsciiDigits(at, end, digits, kKeptDigits, &count, &plus))
        count = FindDigits(Utf8Cursor{at, end}, digits, kKeptDigits, &plus);
    return Dialled(digits, count < kKeptDigits ? count : kKeptDigits, plus).number;
}
