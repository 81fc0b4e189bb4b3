// Number keys: the decimal conversion, the derivation, and the reading of written numbers.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "base/utf8.h"
#include "keys/decimal.h"
#include "keys/derive.h"
#include "keys/written.h"
#include "tests/tables.h"
#include "tests/test_support.h"
#include "tests/written_checks.h"

// Each text is copied into a buffer of exactly its size, so a read past the
// terminator lands outside it (AddressSanitizer reports it).
TEST(NumberKeys, EveryRowOfTheKeysTable) {
    for (const auto& row : ReadTable("number_keys.tsv")) {
        std::unique_ptr<char16_t[]> exact(new char16_t[row[1].size() + 1]());
        std::copy(row[1].begin(), row[1].end(), exact.get());
        const uint32_t key =
            row[0] == u"derive" ? static_cast<uint32_t>(DeriveNumberKey(exact.get())) : ParseDecimalKey(exact.get());
        EXPECT_EQ(key, static_cast<uint32_t>(Number(row[2])))
            << Utf16ToUtf8(row[0].c_str()) << " " << Utf16ToUtf8(row[1].c_str());
    }
}

TEST(ReadWrittenNumber, ReadsEveryRowOfTheWrittenNumbersTable) {
    for (const auto& row : ReadTable("written_numbers.tsv")) {  // text, status, key, area, type
        WrittenNumber number;
        EXPECT_STREQ(WrittenFault(row[0], &number), nullptr) << Utf16ToUtf8(row[0].c_str());
        const NumberKind kind = row[1] == u"foreign"   ? kForeignNumber
                                : row[1] == u"invalid" ? kNoNumber
                                                       : kChineseNumber;
        EXPECT_EQ(number.kind, kind) << Utf16ToUtf8(row[0].c_str());
        EXPECT_EQ(number.key, Number(row[2])) << Utf16ToUtf8(row[0].c_str());
    }
}

TEST(ReadWrittenNumber, AnyTextGivesNoKeyOrTheKeyOfDigitsItHolds) {
    static constexpr char16_t kUnits[] = u"0123456789868600\uFF10\uFF18 -./()+\uFF0B\u3000\u200Bx#,;a\u8F6C:";
    std::mt19937 random(86);
    for (int round = 0; round < 200000; ++round) {
        std::u16string text;
        for (size_t length = random() % 24; length > 0; --length)
            text += kUnits[random() % (sizeof kUnits / sizeof kUnits[0] - 1)];
        ASSERT_STREQ(WrittenFault(text), nullptr) << Utf16ToUtf8(text.c_str());
    }
}
