#include <gtest/gtest.h>

#include "keys/number_key.h"

TEST(ParseDecimalKey, ReadsLikeWcstolInBaseTen) {
    struct Case {
        const char16_t* text;
        uint32_t key;
    };
    const Case cases[] = {
        {u"1391234", 1391234},
        {u"1380050", 1380050},
        {u"010", 10},  // leading zeros are ordinary digits
        {u"0755", 755},
        {u"  \t\r\n42", 42},
        {u"\u300042", 42},  // ideographic space
        {u"+17", 17},
        {u"-5", 4294967291u},
        {u"-0", 0},
        {u"12ab34", 12},
        {u"12 34", 12},
        {u"abc", 0},
        {u"", 0},
        {u"-", 0},
        {u"+-3", 0},
        {u"- 3", 0},
        {u"0x1F", 0},
        {u"\uFF11\uFF13\uFF18", 138},  // fullwidth digits
        {u"2147483647", 2147483647u},
        {u"2147483648", 2147483647u},
        {u"13912345678", 2147483647u},  // a whole mobile number saturates
        {u"99999999999999999999999999", 2147483647u},
        {u"-2147483648", 0x80000000u},
        {u"-2147483649", 0x80000000u},
        {u"-99999999999999999999999999", 0x80000000u},
        {u"4194303", 4194303},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDecimalKey(c.text), c.key) << std::u16string(c.text).size();
}
