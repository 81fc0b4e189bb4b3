// The bottom layer: UTF-8 and UTF-16 conversion both ways.
#include <gtest/gtest.h>

#include "base/utf8.h"
#include "tests/test_support.h"

TEST(Utf8, EveryRowOfTheUtf8Table) {
    for (const auto& row : ReadTable("utf8_texts.tsv")) {
        SCOPED_TRACE(Utf16ToUtf8(row[0].c_str()));
        std::string bytes;
        for (size_t i = 0; i < row[0].size(); i += 2) bytes += static_cast<char>(Number(u"0x" + row[0].substr(i, 2)));
        if (row[2] != u"written") {
            EXPECT_EQ(Utf8ToUtf16(bytes), row[1]);
            // The JSON writer and the validity check walk the same characters.
            bool wellFormed = true;
            const auto* end = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size());
            for (const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()); p < end;) {
                const Utf8Char read = ReadUtf8Char(p, end);
                wellFormed &= read.wellFormed;
                p += read.length;
            }
            EXPECT_EQ(wellFormed, row[2] == u"both");
        }
        if (row[2] != u"read") {
            EXPECT_EQ(Utf16ToUtf8(row[1].c_str()), bytes);
        }
    }
}
