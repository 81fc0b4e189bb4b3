// Import in every encoding, export, and their round trips.
#include <gtest/gtest.h>

#include "directory/add.h"
#include "directory/directory.h"
#include "exchange/text_exchange.h"
#include "tests/test_support.h"

namespace {

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Keys and what each finds, in the form of Entry.
using Entries = std::vector<std::pair<uint32_t, const char16_t*>>;

struct TextExchangeTest : DirectoryFixture {
    int Import(const Bytes& file) {
        std::u16string path = scratch.Path(u"in.txt");
        WriteBytes(path, file);
        return ImportText(path.c_str());
    }
};

}  // namespace

// What each file imports. UTF-16LE is told by its mark or, without it, by the
// zero second byte; anything else is ANSI: GBK, the code page of a Chinese
// system (936 under Wine too), which ends at its first zero byte.
TEST_F(TextExchangeTest, EveryFileImportsWhatItHolds) {
    const char16_t lines[] =
        u"1391234\t江苏 南京\t中国移动\r\n1391235\t江苏 南京\t中国移动\r\n755\t广东 深圳\t固定电话\r\n";
    const Bytes gbk =
        Raw("1391234\t\xBD\xAD\xCB\xD5 \xC4\xCF\xBE\xA9\t\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\r\n"
            "1391235\t\xBD\xAD\xCB\xD5 \xC4\xCF\xBE\xA9\t\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\r\n"
            "755\t\xB9\xE3\xB6\xAB \xC9\xEE\xDB\xDA\t\xB9\xCC\xB6\xA8\xB5\xE7\xBB\xB0\r\n");
    const Entries three = {
        {1391234, u"江苏 南京|中国移动"}, {1391235, u"江苏 南京|中国移动"}, {755, u"广东 深圳|固定电话"}};
    const Entries twoKeys = {{10, u"A|B"}, {11, u"A|B"}};
    const auto utf16 = [](const std::u16string& text) { return Utf16Le(text, true); };
    const struct {
        const char* what;
        Bytes file;
        Entries entries;
        uint32_t items;
    } cases[] = {
        {"UTF-16LE", utf16(lines), three, 2},
        {"UTF-16LE without its mark", Utf16Le(lines, false), three, 2},
        {"GBK", gbk, three, 2},
        {"CR LF", utf16(u"10\tA\tB\r\n11\tA\tB\r\n"), twoKeys, 1},
        {"LF", utf16(u"10\tA\tB\n11\tA\tB\n"), twoKeys, 1},
        {"CR", utf16(u"10\tA\tB\r11\tA\tB\r"), twoKeys, 1},
        {"empty lines", utf16(u"\r\n\n10\tA\tB\r\r\n\n\r11\tA\tB\n\n\n"), twoKeys, 1},
        // A heading (key 0), empty fields, a type that takes the rest of its
        // line, lines short of their tabs, and a last line without its end;
        // a NUL ends the text.
        {"fields",
         utf16(u"number\tarea\ttype\r\n20\t\t\r\n21\tA\tB\tC\r\nno tabs\r\n22\tA\r\n23\tA\tB"),
         {{20, u"|"}, {21, u"A|B\tC"}, {22, u"-"}, {23, u"-"}},
         3},
        {"NUL", utf16(u"31\tA\tB\r\n" + std::u16string(1, 0) + u"32\tA\tB\r\n"), {{31, u"A|B"}, {32, u"-"}}, 1},
        {"only the mark", utf16(u""), {}, 0},
        // ANSI after all, after FF FE: the two bytes become characters
        // before the first key, which so reads as 0; the same for UTF-8's mark.
        {"odd size", Raw("\xFF\xFE" + std::string("17\tA\tB\r\n5\tC\tD\r\n")), {{17, u"-"}, {5, u"C|D"}}, 2},
        {"UTF-8 mark", Raw("\xEF\xBB\xBF" + std::string("12\tA\tB\r\n13\tC\tD\r\n")), {{12, u"-"}, {13, u"C|D"}}, 2},
        {"UTF-16BE with its mark", {0xFE, 0xFF, 0, '5', 0, '\t', 0, 'A', 0, '\t', 0, 'B', 0, '\r', 0, '\n'}, {}, 0},
        {"a first character above U+00FF without a mark", Utf16Le(u"中\t\t\r\n", false), {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetDirectory();
        EXPECT_EQ(Import(c.file), 1);
        EXPECT_TRUE(IsDirectoryEditable());
        for (const auto& [key, entry] : c.entries) EXPECT_EQ(Entry(key), entry) << key;
        EXPECT_EQ(directory.header.itemCount, c.items);
    }
}

TEST_F(TextExchangeTest, FailuresStopAndKeepWhatCameBefore) {
    EXPECT_EQ(Import({}), 0);
    EXPECT_EQ(Import({'1'}), 0);
    EXPECT_EQ(ImportText(scratch.Path(u"missing.txt").c_str()), 0);
    EXPECT_EQ(directory.image, nullptr);  // not even made editable
    // Sorted, and nothing after the line whose key is beyond 22 bits.
    EXPECT_EQ(Import(Utf16Le(u"50\tA\tB\r\n40\tC\tD\r\n13912345678\tE\tF\r\n60\tG\tH\r\n", true)), 0);
    EXPECT_EQ(Entry(40) + Entry(50) + Entry(60), u"C|DA|B-");
}

TEST_F(TextExchangeTest, ExportWritesOneLinePerKey) {
    const std::u16string out = scratch.Path(u"out.txt");
    WriteBytes(out, {9, 9});
    EXPECT_EQ(ExportText(out.c_str()), 0);  // empty directory: file untouched
    EXPECT_EQ(ReadBytes(out), (Bytes{9, 9}));

    ASSERT_TRUE(MakeDirectoryEditable());
    for (const char16_t* key : {u"100", u"101", u"102"}) AddEntry(key, u"北京", u"固定电话");
    AddEntry(u"4194303", u"", u"");
    SortItems();
    EXPECT_EQ(ExportText(out.c_str()), 1);
    EXPECT_EQ(ReadBytes(out), Utf16Le(u"100\t北京\t固定电话\r\n101\t北京\t固定电话\r\n102\t北京\t固定电话\r\n"
                                      u"4194303\t\t\r\n",
                                      true));
    EXPECT_EQ(ExportText(scratch.Path(u"no/such/folder/out.txt").c_str()), 0);
}

TEST_F(TextExchangeTest, ExportAndImportRoundTrip) {
    // Several output blocks' worth of lines, names longer than one line
    // buffer, and adjacent items with equal texts (which fold together).
    ASSERT_TRUE(MakeDirectoryEditable());
    const std::u16string longArea(300, u'长');
    uint32_t lines = 0;
    for (uint32_t run = 0; run < 300; ++run) {
        const std::u16string area = run % 7 == 0 ? longArea : u"区" + Decimal(run % 13);
        const std::u16string type = u"类" + Decimal(run % 3);
        const uint32_t first = 1300000 + run * 400, count = 1 + run % 256;
        for (uint32_t k = 0; k < count; ++k, ++lines)
            ASSERT_NE(AddEntry(Decimal(first + k).c_str(), area.c_str(), type.c_str()), -1);
    }
    SortItems();
    std::vector<std::u16string> before;
    for (uint32_t key = 1300000; key < 1300000 + 300 * 400; ++key) before.push_back(Entry(key));

    const std::u16string out = scratch.Path(u"all.txt");
    ASSERT_EQ(ExportText(out.c_str()), 1);
    // Imported into its own directory the export changes nothing; into an
    // empty one it gives the same.
    for (bool empty : {false, true}) {
        if (empty) ResetDirectory();
        ASSERT_EQ(ImportText(out.c_str()), 1);
        EXPECT_EQ(directory.header.numberCount, lines);
        for (uint32_t i = 0; i < before.size(); ++i) ASSERT_EQ(Entry(1300000 + i), before[i]) << i;
    }
}
