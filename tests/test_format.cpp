// The file format: the worked example byte by byte, and the limits of the item fields.
#include <gtest/gtest.h>

#include "directory/directory.h"
#include "tests/test_support.h"

// Loading the example and looking keys up checks the decoding; here, what
// a lookup cannot see: the date fields and the builder's layout.
TEST(FileFormat, ExampleHeaderAndItemsDecode) {
    Bytes file = ExampleDirectory();
    DirectoryHeader header;
    std::memcpy(&header, file.data(), kHeaderSize);
    EXPECT_EQ(header.versionDay, 15);
    EXPECT_EQ(header.versionMonth, 3);
    EXPECT_EQ(header.versionYear, 2024);
    EXPECT_EQ(ItemTablePosition(header), 56u);

    // Encoding gives back the stored bytes.
    const RangeItem* items = reinterpret_cast<const RangeItem*>(file.data() + 56);
    RangeItem again;
    EncodeItem(&again, DecodeItem(&items[0]));
    EXPECT_EQ(0, std::memcmp(again.bytes, items[0].bytes, kItemSize));

    // The fixture builder lays files out the same way, apart from the date.
    Bytes built = BuildDirectoryFile({u"AB", u"C"}, {u"D"}, {{1300000, 1, 0, 0}, {1380000, 0, 0, 99}});
    std::copy(file.begin() + 8, file.begin() + 12, built.begin() + 8);
    EXPECT_EQ(built, file);
}

TEST(FileFormat, ItemFieldLimits) {
    RangeItem item;
    EncodeItem(&item, ItemFields{kMaxKey, 1023, 255, 255});
    uint32_t value;
    std::memcpy(&value, item.bytes, 4);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    ItemFields back = DecodeItem(&item);
    EXPECT_EQ(back.start, kMaxKey);
    EXPECT_EQ(back.areaIndex, 1023u);
    EXPECT_EQ(back.typeIndex, 255u);
    EXPECT_EQ(back.span, 255u);
    EXPECT_EQ(ItemStart(&item), kMaxKey);
}
