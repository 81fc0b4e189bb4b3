// Import in every encoding, export, and their round trips.
#include <gtest/gtest.h>

#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "exchange/text_exchange.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "tests/test_support.h"

namespace {

Bytes Raw(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct TextExchangeTest : DirectoryFixture {
    int Import(const Bytes& file) {
        std::u16string path = scratch.Path(u"in.txt");
        WriteBytes(path, file);
        return ImportText(path.c_str());
    }
};

}  // namespace

// UTF-16LE with its mark, without it (told by the zero second byte), and GBK,
// the ANSI code page of a Chinese system (936 under Wine too).
TEST_F(TextExchangeTest, EveryEncodingThatIsRecognised) {
    const char16_t lines[] =
        u"1391234\t江苏 南京\t中国移动\r\n1391235\t江苏 南京\t中国移动\r\n755\t广东 深圳\t固定电话\r\n";
    const std::string gbk =
        "1391234\t\xBD\xAD\xCB\xD5 \xC4\xCF\xBE\xA9\t\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\r\n"
        "1391235\t\xBD\xAD\xCB\xD5 \xC4\xCF\xBE\xA9\t\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF\r\n"
        "755\t\xB9\xE3\xB6\xAB \xC9\xEE\xDB\xDA\t\xB9\xCC\xB6\xA8\xB5\xE7\xBB\xB0\r\n";
    for (const Bytes& file : {Utf16Le(lines, true), Utf16Le(lines, false), Raw(gbk)}) {
        ResetDirectory();
        EXPECT_EQ(Import(file), 1);
        EXPECT_EQ(Entry(1391234), u"江苏 南京|中国移动");
        EXPECT_EQ(Entry(1391235), u"江苏 南京|中国移动");
        EXPECT_EQ(Entry(755), u"广东 深圳|固定电话");
        EXPECT_EQ(directory.header.itemCount, 2u);
        EXPECT_EQ(directory.header.numberCount, 3u);
    }
}

TEST_F(TextExchangeTest, EncodingsThatAreNot) {
    // Odd size: ANSI even after FF FE (the two bytes become characters that
    // stand before the first key, which so reads as 0).
    Bytes odd = {0xFF, 0xFE};
    Bytes line = Raw("17\tA\tB\r\n5\tC\tD\r\n");
    odd.insert(odd.end(), line.begin(), line.end());
    if (odd.size() % 2 == 0) odd.push_back(' ');
    EXPECT_EQ(Import(odd), 1);
    EXPECT_EQ(Entry(17), u"-");
    EXPECT_EQ(Entry(5), u"C|D");

    // UTF-16BE with its mark: ANSI text that ends at its first zero byte.
    ResetDirectory();
    Bytes bigEndian = {0xFE, 0xFF, 0x00, '5', 0x00, '\t', 0x00, 'A', 0x00, '\t', 0x00, 'B', 0x00, '\r', 0x00, '\n'};
    EXPECT_EQ(Import(bigEndian), 1);
    EXPECT_EQ(directory.header.itemCount, 0u);

    // UTF-8 with its mark: the mark stands before the first number (key 0);
    // the lines after it import normally.
    ResetDirectory();
    EXPECT_EQ(Import(Raw("\xEF\xBB\xBF"
                         "12\tA\tB\r\n13\tC\tD\r\n")),
              1);
    EXPECT_EQ(Entry(12), u"-");
    EXPECT_EQ(Entry(13), u"C|D");
    EXPECT_EQ(directory.header.itemCount, 2u);

    // A first character above U+00FF without a mark is not taken for UTF-16.
    ResetDirectory();
    EXPECT_EQ(Import(Utf16Le(u"中\t\t\r\n", false)), 1);
    EXPECT_EQ(directory.header.areaCount, 0u);
}

TEST_F(TextExchangeTest, LinesAndFields) {
    const std::u16string bodies[] = {
        u"10\tA\tB\r\n11\tA\tB\r\n",
        u"10\tA\tB\n11\tA\tB\n",
        u"10\tA\tB\r11\tA\tB\r",
        u"\r\n\n10\tA\tB\r\r\n\n\r11\tA\tB\n\n\n",
    };
    for (const auto& body : bodies) {
        ResetDirectory();
        EXPECT_EQ(Import(Utf16Le(body, true)), 1);
        EXPECT_EQ(Entry(10), u"A|B");
        EXPECT_EQ(Entry(11), u"A|B");
        EXPECT_EQ(directory.header.itemCount, 1u);
    }

    ResetDirectory();
    EXPECT_EQ(Import(Utf16Le(u"number\tarea\ttype\r\n"  // heading: key 0
                             u"20\t\t\r\n"              // empty fields
                             u"21\tA\tB\tC\r\n"         // the type takes the rest
                             u"no tabs here\r\n"
                             u"22\tone tab\r\n"
                             u"23\tA\tB",  // no line end: not imported
                             true)),
              1);
    EXPECT_EQ(Entry(20), u"|");
    EXPECT_EQ(Entry(21), u"A|B\tC");
    EXPECT_EQ(Entry(22), u"-");
    EXPECT_EQ(Entry(23), u"-");
    EXPECT_EQ(ItemStart(&directory.items[0]), 0u);
    EXPECT_EQ(std::u16string(AreaName(&directory.items[0])), u"area");
    EXPECT_EQ(directory.header.itemCount, 3u);

    // A NUL ends the text.
    ResetDirectory();
    EXPECT_EQ(Import(Utf16Le(std::u16string(u"30\tA\tB\r\n31\tA\tB\r\n\0"
                                            u"32\tA\tB\r\n",
                                            25),
                             true)),
              1);
    EXPECT_EQ(Entry(31), u"A|B");
    EXPECT_EQ(Entry(32), u"-");

    // Only the mark: success, nothing added, but the directory is editable.
    ResetDirectory();
    EXPECT_EQ(Import({0xFF, 0xFE}), 1);
    EXPECT_TRUE(IsDirectoryEditable());
}

TEST_F(TextExchangeTest, FailuresStopAndKeepWhatCameBefore) {
    EXPECT_EQ(Import({}), 0);
    EXPECT_EQ(Import({'1'}), 0);
    EXPECT_EQ(ImportText(scratch.Path(u"missing.txt").c_str()), 0);
    EXPECT_EQ(directory.image, nullptr);  // not even made editable

    EXPECT_EQ(Import(Utf16Le(u"50\tA\tB\r\n40\tC\tD\r\n13912345678\tE\tF\r\n60\tG\tH\r\n", true)), 0);
    EXPECT_EQ(Entry(40), u"C|D");
    EXPECT_EQ(Entry(50), u"A|B");
    EXPECT_EQ(Entry(60), u"-");
    EXPECT_EQ(ItemStart(&directory.items[0]), 40u);  // sorted
    EXPECT_EQ(directory.header.areaCount, 3u);       // E was interned
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
    // Importing the export into its own directory changes nothing.
    const uint32_t numbers = directory.header.numberCount;
    ASSERT_EQ(ImportText(out.c_str()), 1);
    EXPECT_EQ(directory.header.numberCount, numbers);
    for (uint32_t key = 1300000, i = 0; i < before.size(); ++key, ++i) ASSERT_EQ(Entry(key), before[i]) << key;

    ResetDirectory();
    ASSERT_EQ(ImportText(out.c_str()), 1);
    EXPECT_EQ(directory.header.numberCount, lines);
    for (uint32_t key = 1300000, i = 0; i < before.size(); ++key, ++i) ASSERT_EQ(Entry(key), before[i]) << key;
}
