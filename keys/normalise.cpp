// Numbers as people write them, rewritten into the form that is dialled.
#include "keys/normalise.h"

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsLatinLetter(char16_t c) {
    const char16_t lower = c | 0x20;
    return (lower >= u'a' && lower <= u'z') || (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A);
}

// What contacts, web pages and chat messages put between the digits of a
// number: spaces, dashes, dots and parentheses, in their ASCII, typographic
// and fullwidth forms.
bool IsSeparator(char16_t c) {
    if (c > u'.' && c < 0x00A0) return false;  // digits, the common case
    static constexpr char16_t kSeparators[] =
        u" \t\u00A0\u3000"                                          // spaces
        u"-\u2010\u2011\u2012\u2013\u2014\u2015\u2212\uFE63\uFF0D"  // dashes
        u".\u00B7\uFF0E"                                            // dots
        u"()\uFF08\uFF09";                                          // parentheses
    for (char16_t separator : kSeparators)
        if (separator != 0 && c == separator) return true;
    return false;
}

bool StartsWith(const char16_t* text, const char16_t* prefix) {
    while (*prefix != 0)
        if (*text++ != *prefix++) return false;
    return true;
}

}  // namespace

void NormaliseWrittenNumber(char16_t* text) {
    for (const char16_t* c = text; *c != 0; ++c)
        if (IsLatinLetter(*c)) return;
    for (char16_t* c = text; *c != 0; ++c) {
        if (*c >= 0xFF10 && *c <= 0xFF19)
            *c = static_cast<char16_t>(u'0' + (*c - 0xFF10));
        else if (*c == 0xFF0B)
            *c = u'+';
    }

    char16_t* digit = text;
    while (*digit != 0 && !IsDigit(*digit)) ++digit;
    if (*digit == 0) return;

    // The country code: 0086, +86 or (+86), where the number begins.
    char16_t* prefixStart = digit;
    const char16_t* read = digit;
    if (StartsWith(digit, u"0086")) {
        read = digit + 4;
    } else if (digit > text && digit[-1] == u'+' && StartsWith(digit, u"86")) {
        prefixStart = digit - 1;
        read = digit + 2;
    }
    if (read != digit && prefixStart > text && prefixStart[-1] == u'(' && *read == u')') {
        --prefixStart;
        ++read;
    }

    char16_t* write = prefixStart;
    if (read != digit) {
        while (IsSeparator(*read)) ++read;
        // A fixed line is written without its trunk 0 after the country code.
        if ((*read >= u'2' && *read <= u'9') || (read[0] == u'1' && read[1] == u'0')) *write++ = u'0';
    }
    while (*read != 0) {
        if (IsSeparator(*read) && write > text && IsDigit(write[-1])) {
            const char16_t* after = read;
            while (IsSeparator(*after)) ++after;
            if (IsDigit(*after)) {
                read = after;
                continue;
            }
            while (read != after) *write++ = *read++;
            continue;
        }
        *write++ = *read++;
    }
    *write = 0;
}
