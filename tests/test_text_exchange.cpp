// Import in every encoding, export, and their round trips.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/utf8.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "exchange/text_exchange.h"
#include "tests/test_support.h"

using TextExchangeTest = DirectoryFixture;

// What each file of tests/data/imports.tsv imports.
TEST_F(TextExchangeTest, EveryFileImportsWhatItHolds) {
    const std::u16string path = scratch.Path(u"in.txt");
    const auto import = [&](const Bytes& file) {
        WriteBytes(path, file);
        return ImportText(path.c_str());
    };
    for (const auto& row : ReadTable("imports.tsv")) {
        SCOPED_TRACE(Utf16ToUtf8(row[0].c_str()));
        const std::u16string& text = row[4];
        Bytes file = row[3] == u"bytes" ? Bytes(text.begin(), text.end()) : Utf16Le(text, row[3] == u"mark");
        ClearDirectory();
        EXPECT_EQ(import(file), Number(row[1]));
        EXPECT_TRUE(IsDirectoryEditable());
        for (size_t i = 5; i + 1 < row.size(); i += 2) EXPECT_EQ(Entry(uint32_t(Number(row[i]))), row[i + 1]) << i;
        EXPECT_EQ(directory.header.itemCount, Number(row[2]));
    }
    // Nothing to read: not even made editable.
    ClearDirectory();
    EXPECT_EQ(import({}), 0);
    EXPECT_EQ(import({'1'}), 0);
    EXPECT_EQ(ImportText(scratch.Path(u"missing.txt").c_str()), 0);
    EXPECT_EQ(directory.image, nullptr);
}

// Several output blocks' worth of lines, names longer than one line buffer,
// and adjacent items with equal texts (which fold together).
TEST_F(TextExchangeTest, ExportWritesOneLinePerKeyAndImportsBack) {
    const std::u16string out = scratch.Path(u"all.txt");
    WriteBytes(out, {9, 9});
    EXPECT_EQ(ExportText(out.c_str()), 0);  // empty directory: file untouched
    EXPECT_EQ(ReadBytes(out), (Bytes{9, 9}));
    ASSERT_TRUE(MakeDirectoryEditable());
    ASSERT_NE(AddEntry(u"4194303", u"", u""), -1);
    const std::u16string longArea(300, u'长');
    uint32_t lines = 1;
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

    EXPECT_EQ(ExportText(scratch.Path(u"no/such/folder/out.txt").c_str()), 0);
    ASSERT_EQ(ExportText(out.c_str()), 1);
    // A line per key, in order, after the byte order mark.
    const Bytes all = ReadBytes(out);
    const Bytes head = Utf16Le(u"1300000\t" + longArea + u"\t类0\r\n1300400\t区1\t类1\r\n1300401\t区1\t类1\r\n", true);
    const Bytes tail = Utf16Le(u"\n4194303\t\t\r\n", false);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
    EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), all.rbegin()));
    // Imported into its own directory the export changes nothing; into an
    // empty one it gives the same.
    for (bool empty : {false, true}) {
        if (empty) ClearDirectory();
        ASSERT_EQ(ImportText(out.c_str()), 1);
        EXPECT_EQ(directory.header.numberCount, lines);
        EXPECT_EQ(Entry(4194303), u"|");
        for (uint32_t i = 0; i < before.size(); ++i) ASSERT_EQ(Entry(1300000 + i), before[i]) << i;
    }
}
