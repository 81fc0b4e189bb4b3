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
#include "tests/tables.h"
#include "tests/test_support.h"

namespace {

// Reads `text`; the result, and the text it was rewritten into.
// The UTF-8 reading, from a buffer of exactly the text's size, must agree.
std::pair<WrittenNumber, std::u16string> Read(const std::u16string& text) {
    std::u16string copy = text;
    const WrittenNumber number = ReadWrittenNumber(copy.data());
    const std::string utf8 = Utf16ToUtf8(text.data(), text.size());
    std::unique_ptr<char[]> exact(new char[utf8.size()]);
    std::copy(utf8.begin(), utf8.end(), exact.get());
    const WrittenNumber fromUtf8 = ReadWrittenNumber(exact.get(), utf8.size());
    EXPECT_TRUE(fromUtf8.kind == number.kind && fromUtf8.key == number.key) << utf8;
    return {number, std::u16string(copy.c_str())};
}

// What it was rewritten into reads as the same number, and is rewritten into itself.
bool ReadsAgainAlike(const WrittenNumber& number, const std::u16string& rewritten) {
    const auto [again, twice] = Read(rewritten);
    return again.kind == number.kind && again.key == number.key && twice == rewritten;
}

}  // namespace

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
        const auto [number, rewritten] = Read(row[0]);
        const NumberKind kind = row[1] == u"foreign"   ? kForeignNumber
                                : row[1] == u"invalid" ? kNoNumber
                                                       : kChineseNumber;
        EXPECT_EQ(number.kind, kind) << Utf16ToUtf8(row[0].c_str());
        EXPECT_EQ(number.key, Number(row[2])) << Utf16ToUtf8(row[0].c_str());
        EXPECT_TRUE(ReadsAgainAlike(number, rewritten)) << Utf16ToUtf8(rewritten.c_str());
    }
}

// On any text, a key is made only of digits the text holds, in their order;
// never of a separator's or a letter's code.
TEST(ReadWrittenNumber, AnyTextGivesNoKeyOrTheKeyOfDigitsItHolds) {
    static constexpr char16_t kUnits[] = u"0123456789868600\uFF10\uFF18 -./()+\uFF0B\u3000\u200Bx#,;a\u8F6C:";
    std::mt19937 random(86);
    for (int round = 0; round < 200000; ++round) {
        std::u16string text, digits;
        for (size_t length = random() % 24; length > 0; --length)
            text += kUnits[random() % (sizeof kUnits / sizeof kUnits[0] - 1)];
        for (char16_t c : text)
            if ((c >= u'0' && c <= u'9') || (c >= 0xFF10 && c <= 0xFF19)) digits += c >= 0xFF10 ? c - 0xFF10 + u'0' : c;
        const auto [number, rewritten] = Read(text);
        const std::string shown = Utf16ToUtf8(text.c_str());
        ASSERT_TRUE(ReadsAgainAlike(number, rewritten)) << shown;
        if (number.kind != kChineseNumber) {
            ASSERT_EQ(number.key, 0u) << shown;
            // A foreign number keeps its digits after the +; no number keeps nothing.
            ASSERT_TRUE(number.kind == kForeignNumber
                            ? rewritten[0] == u'+' && digits.find(rewritten.substr(1)) != std::u16string::npos
                            : rewritten.empty())
                << shown;
            continue;
        }
        ASSERT_EQ(rewritten.find_first_not_of(u"0123456789"), std::u16string::npos) << shown;
        // The digits as they stand, or after 86 with the trunk 0 put back.
        ASSERT_TRUE(digits.find(rewritten) != std::u16string::npos ||
                    (rewritten[0] == u'0' && digits.find(u"86" + rewritten.substr(1)) != std::u16string::npos))
            << shown;
        // At least three digits: the terminator never takes a digit's place (02).
        ASSERT_GE(rewritten.size(), 3u) << shown;
        ASSERT_NE(number.key, 0u) << shown;
        ASSERT_EQ(number.key, static_cast<uint32_t>(DeriveNumberKey(rewritten.c_str()))) << shown;
    }
}
