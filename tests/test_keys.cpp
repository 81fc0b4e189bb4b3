// Number keys: the decimal conversion, the normalisation of written numbers, the derivation.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/utf8.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/normalise.h"

TEST(ParseDecimalKey, ReadsLikeWcstolInBaseTen) {
    struct Case {
        const char16_t* text;
        uint32_t key;
    };
    const Case cases[] = {
        {u"1391234", 1391234},
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
        {u"\uFF11\uFF10\uFF19", 109},  // fullwidth digits, both ends of the range
        {u"2147483647", 2147483647u},
        {u"2147483648", 2147483647u},
        {u"13912345678", 2147483647u},  // a whole mobile number saturates
        {u"99999999999999999999999999", 2147483647u},
        {u"-2147483648", 0x80000000u},
        {u"-2147483649", 0x80000000u},
        {u"-99999999999999999999999999", 0x80000000u},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDecimalKey(c.text), c.key) << std::u16string(c.text).size();
}

TEST(DeriveNumberKey, DialledNumbersGiveTheirKeys) {
    struct Case {
        const char16_t* text;
        int32_t key;
    };
    const Case cases[] = {
        {u"", 0},
        {u"abc", 0},
        {u"\uFF11\uFF13\uFF19\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18", 0},
        {u"1", 0},
        {u"139123", 0},
        {u"1391234", 1391234},
        {u"13912345678", 1391234},
        {u"139123 ", 1391214},
        {u"139-1234-5678", 1387123},
        {u"139 1234 5678", 1374123},
        {u"+86 13912345678", 8441391},
        {u"+8613912345678", 8613912},
        {u"4194303", 4194303},
        {u"4194304", 4194304},
        {u"0", 0},
        {u"00", 0},
        {u"0000", 0},
        {u"0001234", 1},
        {u"01", 0},
        {u"0123", 0},
        {u"01234567", 1234567},
        {u"013912345678", 1391234},
        {u"010", 10},
        {u"0101", 10},
        {u"0101234567", 10},
        {u"tel: 010-12345678", 10},
        {u"021", 21},
        {u"0213", 21},
        {u"027-88888888", 27},
        {u"02", -28},
        {u"02-", 17},
        {u"075", 0},
        {u"0755", 755},
        {u" 0755", 755},
        {u"(0755)1234", 755},
        {u"07551234", 755},
        {u"0571 8888 8888", 571},
        {u"0311", 311},
        {u"00852", 85},
        {u"0a12", 4912},
        {u"0-755", -225},
        {u"0 755", -1525},
        {u"08", 0},
        {u"085", 0},
        {u"0851", 851},
        {u"0800", 800},
        {u"08512", 8512},
        {u"08000", 8000},
        {u"0851234", 8512},
        {u"0871 1234567", 8694},
        {u"1234abc", 1234 * 1000 + 49 * 100 + 50 * 10 + 51},
    };
    for (const Case& c : cases) EXPECT_EQ(DeriveNumberKey(c.text), c.key) << std::u16string(c.text).size();
    // High code units wrap around at 32 bits.
    EXPECT_LT(DeriveNumberKey(u"1\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF\uFFFF"), 0);
}

TEST(DeriveNumberKey, ReadsNothingPastTheTerminator) {
    // Each prefix is copied into a buffer of exactly its size, so a read past
    // the terminator lands outside it (AddressSanitizer reports it).
    const std::u16string texts[] = {u"0", u"02", u"08", u"085", u"0851", u"01", u"010", u"139", u"1391234", u"x"};
    for (const auto& text : texts) {
        std::unique_ptr<char16_t[]> exact(new char16_t[text.size() + 1]);
        std::copy(text.begin(), text.end(), exact.get());
        exact[text.size()] = 0;
        DeriveNumberKey(exact.get());
    }
}

TEST(NormaliseWrittenNumber, RewritesNumbersAsPeopleWriteThem) {
    struct Case {
        const char16_t* text;
        const char16_t* normalised;
    };
    const Case cases[] = {
        // Separators between digits go, in every form people paste.
        {u"13912345678", u"13912345678"},
        {u"139 1234 5678", u"13912345678"},
        {u"139-1234-5678", u"13912345678"},
        {u"139.1234.5678", u"13912345678"},
        {u"(139) 1234 - 5678", u"(13912345678"},
        {u"139\u30001234\u00A05678", u"13912345678"},
        {u"139\u20131234\u20145678\u2212", u"13912345678\u2212"},
        {u"139\uFF0D1234\uFF0E5678", u"13912345678"},
        {u"(0755)8888-8888", u"(075588888888"},
        {u"\uFF080755\uFF0988888888", u"\uFF08075588888888"},
        // Before the first digit and after the last, nothing changes.
        {u"  0755 ", u"  0755 "},
        {u"139123 ", u"139123 "},
        {u"02-", u"02-"},
        // Fullwidth digits and plus.
        {u"\uFF11\uFF13\uFF19\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18", u"13912345678"},
        {u"\uFF0B\uFF18\uFF16\u3000\uFF11\uFF13\uFF19", u"139"},
        // The country code, and the trunk 0 put back for fixed lines.
        {u"+86 139 1234 5678", u"13912345678"},
        {u"+8613912345678", u"13912345678"},
        {u"0086 139-1234-5678", u"13912345678"},
        {u"(+86) 13912345678", u"13912345678"},
        {u"(+86)13912345678", u"13912345678"},
        {u"+86 755 8888 8888", u"075588888888"},
        {u"+86-10-1234-5678", u"01012345678"},
        {u"+86 21 1234 5678", u"02112345678"},
        {u"0086 871 1234567", u"08711234567"},
        {u"+86 0755 8888 8888", u"075588888888"},
        {u"+86", u""},
        {u" +86 139", u" 139"},
        // Other countries and text around the number stay.
        {u"+852 1234 5678", u"+85212345678"},
        {u"00852 1234 5678", u"0085212345678"},
        {u"+886 2 1234 5678", u"+886212345678"},
        {u"号码: 138 0050 1234", u"号码: 13800501234"},
        {u"139/1234/5678", u"139/1234/5678"},
        // Latin letters leave the text exactly as it is.
        {u"tel: 010-12345678", u"tel: 010-12345678"},
        {u"0a12", u"0a12"},
        {u"139 1234 5678 ext 12", u"139 1234 5678 ext 12"},
        {u"\uFF34\uFF25\uFF2C \uFF11\uFF13\uFF19", u"\uFF34\uFF25\uFF2C \uFF11\uFF13\uFF19"},
        {u"", u""},
        {u"-", u"-"},
    };
    for (const Case& c : cases) {
        std::u16string text = c.text;
        NormaliseWrittenNumber(text.data());
        EXPECT_EQ(std::u16string(text.c_str()), std::u16string(c.normalised)) << Utf16ToUtf8(c.text);
    }
}

TEST(NormaliseWrittenNumber, PastedNumbersDeriveTheKeysOfTheirDialledForms) {
    struct Case {
        const char16_t* text;
        int32_t key;
    };
    const Case cases[] = {
        {u"139 1234 5678", 1391234},     {u"139-1234-5678", 1391234},
        {u"+86 139 1234 5678", 1391234}, {u"+86 755 8888 8888", 755},
        {u"+86 10 1234 5678", 10},       {u"+86 871 1234 567", 8711},
        {u"0571 8888 8888", 571},        {u"0-755", 755},
        {u"027-88888888", 27},           {u"+86 851 234 5678", 8512},
        {u"(+86)(755)8888 8888", 755},
    };
    for (const Case& c : cases) {
        std::u16string text = c.text;
        NormaliseWrittenNumber(text.data());
        EXPECT_EQ(DeriveNumberKey(text.c_str()), c.key) << Utf16ToUtf8(c.text);
    }
    // Plain digits derive exactly what they derived before.
    for (const char16_t* plain : {u"1", u"139123", u"13912345678", u"0", u"02", u"0851", u"08512", u"0101234567"}) {
        std::u16string text = plain;
        NormaliseWrittenNumber(text.data());
        EXPECT_EQ(DeriveNumberKey(text.c_str()), DeriveNumberKey(plain)) << Utf16ToUtf8(plain);
    }
}
