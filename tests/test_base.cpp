// The bottom layer: UTF-8 and UTF-16 conversion both ways.
#include <gtest/gtest.h>

#include "base/utf8.h"

namespace {

struct Utf8Case {
    const char* bytes;
    const char16_t* units;
};

TEST(Utf8ToUtf16, WellFormedAndMalformedBytes) {
    const Utf8Case cases[] = {
        {"13912345678", u"13912345678"},
        {"\xC3\xA9", u"\u00E9"},                    // two bytes
        {"\xE6\xB1\x9F\xE8\x8B\x8F", u"江苏"},      // three bytes
        {"\xF0\x9F\x98\x80", u"\U0001F600"},        // four bytes: a surrogate pair
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},        // the last code point
        {"a\x80z", u"a\uFFFDz"},                    // a stray continuation byte
        {"\xE6\xB1z", u"\uFFFDz"},                  // cut short: the next byte is kept
        {"\xE6\xB1", u"\uFFFD"},                    // cut short at the end
        {"\xC0\xAF", u"\uFFFD\uFFFD"},              // overlong "/", two bytes
        {"\xE0\x80\xAF", u"\uFFFD"},                // overlong "/", three bytes
        {"\xE0\x80\x80", u"\uFFFD"},                // overlong NUL
        {"\xF0\x80\x80\xAF", u"\uFFFD"},            // overlong "/", four bytes
        {"\xED\xA0\x80", u"\uFFFD"},                // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},            // beyond U+10FFFF
        {"\xF8\x80\x80z", u"\uFFFD\uFFFD\uFFFDz"},  // F5 to FF start nothing
        {"\xFF", u"\uFFFD"},
    };
    for (const Utf8Case& c : cases) {
        const std::string bytes = c.bytes;
        EXPECT_EQ(Utf8ToUtf16(bytes), std::u16string(c.units)) << bytes;
        // The JSON writer and the validity check walk the same characters.
        bool wellFormed = true;
        const auto* end = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size());
        for (const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()); p < end;) {
            const Utf8Char read = ReadUtf8Char(p, end);
            wellFormed &= read.wellFormed;
            p += read.length;
        }
        EXPECT_EQ(wellFormed, std::u16string(c.units).find(u'\uFFFD') == std::u16string::npos) << bytes;
        // Well-formed text goes back to the same bytes.
        EXPECT_TRUE(!wellFormed || Utf16ToUtf8(c.units) == bytes) << bytes;
    }
    const unsigned char replacement[] = {0xEF, 0xBF, 0xBD};
    EXPECT_TRUE(ReadUtf8Char(replacement, replacement + 3).wellFormed);
}

TEST(Utf16ToUtf8, LoneSurrogatesAreReplaced) {
    const Utf8Case cases[] = {
        {"\xEF\xBF\xBDz", u"\xD83Dz"},  // a high surrogate without its low one
        {"\xEF\xBF\xBD", u"\xDE00"},    // a low surrogate alone
        {"\xEF\xBF\xBD", u"\xD83D"},    // a high surrogate at the very end
    };
    for (const Utf8Case& c : cases) EXPECT_EQ(Utf16ToUtf8(c.units), std::string(c.bytes));
}

}  // namespace
