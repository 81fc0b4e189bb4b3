// The add: extending, relabelling, the item limit, the tables filling up, interning.
#include <gtest/gtest.h>

#include "base/heap.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "tests/test_support.h"

namespace {

struct AddTest : DirectoryFixture {
    void SetUp() override { Restart(); }
    void Restart() {
        ResetDirectory();
        ASSERT_TRUE(MakeDirectoryEditable());
    }
};
using InternStringTest = DirectoryFixture;

ItemFields Item(uint32_t index) { return DecodeItem(&directory.items[index]); }

int32_t Add(uint64_t key, const char16_t* area = u"A", const char16_t* type = u"T") {
    return AddEntry(Decimal(key).c_str(), area, type);
}

}  // namespace

TEST_F(AddTest, ConsecutiveKeysExtendOnlyAtTheEnd) {
    EXPECT_EQ(Add(100), 0);
    EXPECT_EQ(Add(101), 0);
    EXPECT_EQ(Add(102), 0);
    EXPECT_EQ(directory.header.itemCount, 1u);
    EXPECT_EQ(Item(0).start, 100u);
    EXPECT_EQ(Item(0).span, 2u);
    EXPECT_EQ(directory.header.numberCount, 3u);
    // Never extended at its start.
    EXPECT_EQ(Add(99), 1);
    // Another type does not extend.
    EXPECT_EQ(Add(103, u"A", u"other"), 2);
    EXPECT_EQ(directory.header.numberCount, 5u);
}

// Both with the add index and with the scan that stands in when the index's
// memory cannot be had.
TEST_F(AddTest, AnItemHoldsAtMost256Keys) {
    for (bool indexed : {true, false}) {
        SCOPED_TRACE(indexed);
        Restart();
        FailAllocationsFrom(indexed ? 0 : 1);
        for (uint32_t key = 1000; key < 1256; ++key) ASSERT_EQ(Add(key), 0);
        EXPECT_EQ(Item(0).span, 255u);
        EXPECT_EQ(Add(1256), 1);
        EXPECT_EQ(Item(1).span, 0u);
        EXPECT_EQ(directory.header.numberCount, 257u);
    }
}

TEST_F(AddTest, RelabelComesBeforeExtendAndChangesTheWholeItem) {
    for (uint32_t key = 100; key <= 110; ++key) Add(key);
    const uint32_t numbers = directory.header.numberCount;
    EXPECT_EQ(Add(101, u"B", u"U"), 0);
    EXPECT_EQ(Item(0).span, 10u);
    EXPECT_EQ(directory.header.numberCount, numbers);
    SortItems();
    EXPECT_EQ(Entry(100), u"B|U");
    EXPECT_EQ(Entry(110), u"B|U");
    // The same entry again changes nothing.
    EXPECT_EQ(Add(105, u"B", u"U"), 0);
    EXPECT_EQ(directory.header.numberCount, numbers);
    EXPECT_EQ(directory.header.areaCount, 2u);

    // Items 100..101 (A) then 102 (B): key 102 relabels the newest item even
    // though it also extends the older one.
    Restart();
    Add(100);
    Add(101);
    Add(102, u"B");
    EXPECT_EQ(Add(102, u"A"), 1);
    EXPECT_EQ(Item(0).span, 1u);
}

TEST_F(AddTest, KeysAndTextsAreTakenAsTheyStand) {
    EXPECT_EQ(Add(4194303), 0);
    EXPECT_EQ(Add(4194304), -1);
    EXPECT_EQ(AddEntry(u"-1", u"A", u"T"), -1);
    EXPECT_EQ(AddEntry(u"13912345678", u"A", u"T"), -1);
    EXPECT_EQ(AddEntry(u"  42xyz", u"A", u"T"), 1);
    EXPECT_EQ(Item(1).start, 42u);
    EXPECT_EQ(AddEntry(u"abc", u"A", u"T"), 2);  // key 0: stored, never found
    EXPECT_EQ(Item(2).start, 0u);
    EXPECT_EQ(LookupNumber(0), nullptr);

    // A failed add still interns its new texts.
    const uint32_t items = directory.header.itemCount;
    EXPECT_EQ(Add(5000000, u"newer", u"T"), -1);
    EXPECT_EQ(directory.header.areaCount, 2u);
    EXPECT_EQ(directory.header.itemCount, items);
    // Case and trailing blanks make different texts; empty texts are fine.
    Add(10, u"a");
    Add(11, u"A ");
    Add(12, u"");
    EXPECT_EQ(directory.header.areaCount, 5u);
    EXPECT_EQ(InternString(AreaTable(), u"A"), 0);
    EXPECT_EQ(InternString(AreaTable(), u""), 4);
}

TEST_F(AddTest, TheTablesFillUpAfterInterning) {
    for (uint32_t i = 1; i < 1023; ++i) ASSERT_NE(Add(10 * i, Decimal(i).c_str()), -1);
    ASSERT_NE(Add(20000, u"last that fits"), -1);
    EXPECT_EQ(directory.header.areaCount, 1023u);
    const uint32_t items = directory.header.itemCount;
    // The 1024th area is interned, then the add fails; so does every later one.
    EXPECT_EQ(Add(30000, u"one too many"), -1);
    EXPECT_EQ(directory.header.areaCount, 1024u);
    EXPECT_EQ(Add(30001, u"1"), -1);
    EXPECT_EQ(Add(30002, u"one more"), -1);
    EXPECT_EQ(directory.header.areaCount, 1024u);
    EXPECT_EQ(directory.header.itemCount, items);

    Restart();
    for (uint32_t i = 0; i < 255; ++i) ASSERT_NE(Add(10 * i + 10, u"A", Decimal(i).c_str()), -1);
    EXPECT_EQ(Add(5, u"A", u"256th type"), -1);
    EXPECT_EQ(directory.header.typeCount, 256u);

    // The area pool is full at 32752 units in use.
    Restart();
    const std::u16string chunk(1999, u'x');  // 2000 units with its NUL
    for (int i = 0; i < 16; ++i) ASSERT_NE(Add(10 * i + 10, (chunk + char16_t(u'a' + i)).c_str()), -1) << i;
    EXPECT_EQ(directory.header.areaPoolLength, 16u * 2001);
    EXPECT_NE(Add(500, std::u16string(720, u'y').c_str()), -1);  // 32737 units
    EXPECT_NE(Add(510, std::u16string(13, u'z').c_str()), -1);   // 32751
    EXPECT_EQ(Add(520, u""), -1);                                // 32752: full
    EXPECT_EQ(directory.header.areaPoolLength, 32752u);
    EXPECT_EQ(Add(530, u"z"), -1);  // still interned, then refused
    EXPECT_EQ(directory.header.areaPoolLength, 32754u);
    EXPECT_EQ(Add(540, std::u16string(14, u'w').c_str()), -1);  // no room even to intern
    EXPECT_EQ(directory.header.areaPoolLength, 32754u);
}

TEST_F(AddTest, UnsortedTablesMayOverlap) {
    Add(200);
    Add(100);
    Add(101);
    // Scanning from the end, 199 is not in 100..101 and extends nothing; then
    // item 0 (200) does not take it either: appended.
    EXPECT_EQ(Add(199), 2);
    // 201 extends item 0 (200..201); then 102 extends item 1, 103 too...
    EXPECT_EQ(Add(201), 0);
    for (uint32_t key = 102; key <= 198; ++key) ASSERT_EQ(Add(key), 1) << key;
    // Item 1 now reaches 198; 199 is item 2's. Extending item 1 onto 199 is
    // not possible (relabel of item 2 comes first), but item 2 extends onto
    // 200, which item 0 already covers: the two overlap.
    EXPECT_EQ(Add(200), 2);
    EXPECT_EQ(Item(2).span, 1u);
    SortItems();
    for (uint32_t i = 1; i < directory.header.itemCount; ++i) EXPECT_LE(Item(i - 1).start, Item(i).start);
}

TEST_F(InternStringTest, TheNewestOfEqualTextsWins) {
    // Only a foreign file can hold a text twice; the highest index answers.
    ASSERT_TRUE(Load(BuildDirectoryFile({u"X", u"Y", u"X"}, {u"T"}, {{5, 0, 0, 0}})));
    ASSERT_TRUE(MakeDirectoryEditable());
    EXPECT_EQ(InternString(AreaTable(), u"X"), 2);
    EXPECT_EQ(InternString(AreaTable(), u"Y"), 1);
    EXPECT_EQ(InternString(AreaTable(), u"Z"), 3);
    EXPECT_EQ(AddEntry(u"6", u"X", u"T"), 1);  // X is area 2, so 5 is not extended
}
