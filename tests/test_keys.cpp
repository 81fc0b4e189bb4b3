// Number keys: the decimal conversion, the derivation, and the reading of written numbers.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>

#include "base/utf8.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/written.h"
#include "test_support.h"
#include "written_numbers.h"

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

namespace {

NumberKind KindOfStatus(const std::string& status) {
    if (status == "found" || status == "unknown") return kChineseNumber;
    return status == "foreign" ? kForeignNumber : kNoNumber;
}

bool IsAsciiDigits(const std::u16string& text) {
    for (char16_t c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// Reads `text`; the result, and the text it was rewritten into.
std::pair<WrittenNumber, std::u16string> Read(const std::u16string& text) {
    std::u16string copy = text;
    const WrittenNumber number = ReadWrittenNumber(copy.data());
    return {number, std::u16string(copy.c_str())};
}

}  // namespace

TEST(ReadWrittenNumber, ReadsEveryRowOfTheWrittenNumbersTable) {
    const Bytes bytes = FixtureBytes("written_numbers.tsv");
    const auto rows = ParseWrittenNumbers(std::string(bytes.begin(), bytes.end()));
    ASSERT_GT(rows.size(), 50u);
    for (const WrittenNumberRow& row : rows) {
        const auto [number, rewritten] = Read(row.text);
        EXPECT_EQ(number.kind, KindOfStatus(row.status)) << Utf16ToUtf8(row.text.c_str());
        EXPECT_EQ(number.key, row.key) << Utf16ToUtf8(row.text.c_str());
        // What it was rewritten into reads as the same number.
        const auto [again, twice] = Read(rewritten);
        EXPECT_TRUE(again.kind == number.kind && again.key == number.key && twice == rewritten)
            << Utf16ToUtf8(row.text.c_str()) << " -> " << Utf16ToUtf8(rewritten.c_str());
    }
}

// On any text, a key is made only of digits the text holds, in their order;
// never of a separator's or a letter's code.
TEST(ReadWrittenNumber, AnyTextGivesNoKeyOrTheKeyOfDigitsItHolds) {
    static constexpr char16_t kUnits[] = u"0123456789868600\uFF10\uFF18 -./()+\uFF0B\u3000\u200Bx#,;a\u8F6C:";
    std::mt19937 random(86);
    for (int round = 0; round < 200000; ++round) {
        std::u16string text;
        for (size_t length = random() % 24; length > 0; --length)
            text += kUnits[random() % (sizeof kUnits / sizeof kUnits[0] - 1)];
        std::u16string digits;
        for (char16_t c : text)
            if ((c >= u'0' && c <= u'9') || (c >= 0xFF10 && c <= 0xFF19)) digits += c >= 0xFF10 ? c - 0xFF10 + u'0' : c;
        const auto [number, rewritten] = Read(text);
        const std::string shown = Utf16ToUtf8(text.c_str());
        ASSERT_LE(rewritten.size(), text.size()) << shown;
        const auto [again, twice] = Read(rewritten);
        ASSERT_TRUE(again.kind == number.kind && again.key == number.key && twice == rewritten) << shown;
        switch (number.kind) {
            case kNoNumber:
                ASSERT_EQ(number.key, 0u) << shown;
                ASSERT_EQ(rewritten, u"") << shown;
                break;
            case kForeignNumber:
                ASSERT_EQ(number.key, 0u) << shown;
                ASSERT_TRUE(rewritten[0] == u'+' && digits.find(rewritten.substr(1)) != std::u16string::npos) << shown;
                break;
            case kChineseNumber: {
                ASSERT_TRUE(IsAsciiDigits(rewritten)) << shown;
                // The digits as they stand, or after 86 with the trunk 0 put back.
                const bool held =
                    digits.find(rewritten) != std::u16string::npos ||
                    (rewritten[0] == u'0' && digits.find(u"86" + rewritten.substr(1)) != std::u16string::npos);
                ASSERT_TRUE(held) << shown;
                ASSERT_NE(number.key, 0u) << shown;
                // At least three digits: the terminator never takes a digit's place (02).
                ASSERT_GE(rewritten.size(), 3u) << shown;
                ASSERT_EQ(number.key, static_cast<uint32_t>(DeriveNumberKey(rewritten.c_str()))) << shown;
                break;
            }
        }
    }
}
