// Loading, making editable and saving the directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "directory/add.h"
#include "directory/directory.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "tests/test_support.h"

using DirectoryTest = DirectoryFixture;

TEST_F(DirectoryTest, LoadedFileIsUsedInPlaceAndWrittenBack) {
    const Bytes file = FixtureBytes("example.dat");
    ASSERT_TRUE(Load(file));
    EXPECT_FALSE(IsDirectoryEditable());
    EXPECT_EQ(SavedBytes(), file);
    ASSERT_TRUE(MakeDirectoryEditable());
    EXPECT_EQ(SavedBytes(), file);

    // Trailing bytes load and are not written back. Arrays further out than
    // the header are read where the header says, and saved right after it
    // with tablesOffset 36, so the file reads back.
    Bytes trailing = file, gap(file.begin(), file.begin() + 36);
    trailing.insert(trailing.end(), {1, 2, 3});
    gap.insert(gap.end(), {0xEE, 0xEE});
    gap.insert(gap.end(), file.begin() + 36, file.end());
    gap[4] = 38;
    for (const Bytes& other : {trailing, gap}) {
        ASSERT_TRUE(Load(other));
        EXPECT_EQ(Entry(1380050), u"AB|D");
        EXPECT_EQ(SavedBytes(), file);
    }
}

TEST_F(DirectoryTest, NewDirectoryIsDatedTodayAndSavedAtItsSize) {
    ASSERT_TRUE(MakeDirectoryEditable());
    const LocalDate today = GetLocalDateToday();
    const DirectoryHeader& h = directory.header;
    EXPECT_TRUE(h.versionYear == today.year && h.versionMonth == today.month && h.versionDay == today.day);
    ASSERT_EQ(AddEntry(u"1391234", u"江苏 南京", u"中国移动"), 0);
    const Bytes saved = SavedBytes();
    EXPECT_EQ(saved.size(), 36u + 2 * (1 + 6 + 1 + 5) + 6);
    ASSERT_TRUE(Load(saved));
    EXPECT_EQ(Entry(1391234), u"江苏 南京|中国移动");
    EXPECT_EQ(directory.header.numberCount, 1u);
}

// Full tables pass as editable but take nothing more; an area pool beyond
// its capacity is never made editable.
TEST_F(DirectoryTest, EditableCapacitiesAreLimits) {
    std::vector<std::u16string> areas, types;  // as many as fit
    for (int i = 0; i < 1024; ++i) areas.push_back(u"a" + std::u16string(1, char16_t(0x4E00 + i)));
    for (int i = 0; i < 256; ++i) types.push_back(u"t" + std::u16string(1, char16_t(0x4E00 + i)));
    const Bytes file = BuildDirectoryFile(areas, types, {{7, 1023, 255, 0}});
    ASSERT_TRUE(Load(file));
    EXPECT_TRUE(IsDirectoryEditable() && MakeDirectoryEditable());
    EXPECT_EQ(AddEntry(u"8", areas[0].c_str(), types[0].c_str()), -1);
    EXPECT_EQ(AddEntry(u"9", u"new", u"new"), -1);
    EXPECT_EQ(SavedBytes(), file);

    ASSERT_TRUE(Load(BuildDirectoryFile({std::u16string(kAreaPoolCapacity, u'x')}, {u"t"}, {{5, 0, 0, 0}})));
    uint8_t* image = directory.image;
    EXPECT_FALSE(MakeDirectoryEditable());
    EXPECT_EQ(directory.image, image);
    EXPECT_EQ(AddEntry(u"6", u"a", u"t"), -1);
    EXPECT_EQ(directory.header.itemCount, 1u);
}

// A failed save leaves the old file whole and no temporary file behind;
// failing writes are tried with the faults. 259 units is the longest path the
// program hands over, and the temporary file beside it must fit the same limit
// (260 with the terminator).
TEST_F(DirectoryTest, SaveLeavesTheOldFileOrTheNewWithinThePathLimit) {
    const std::u16string folder = scratch.Path(u""), folderTarget = scratch.Path(u"folder.dat");
    ASSERT_LT(folder.size() + 8, 259u);
    const std::u16string target = folder + std::u16string(259 - folder.size() - 4, u'v') + u".dat";
    const Bytes old = FixtureBytes("example.dat");
    WriteBytes(target, old);
    ASSERT_TRUE(MakeDirectoryEditable());
    // An empty item table saves nothing.
    InternString(AreaTable(), u"only a string");
    EXPECT_FALSE(SaveDirectory(target.c_str()));
    ASSERT_NE(AddEntry(u"1391234", u"area", u"type"), -1);
    // A missing folder, or a target that cannot be replaced.
    EXPECT_FALSE(SaveDirectory(scratch.Path(u"no/such/folder/Varnolt.dat").c_str()));
    std::filesystem::create_directory(std::filesystem::path(folderTarget));
    EXPECT_FALSE(SaveDirectory(folderTarget.c_str()));
    EXPECT_EQ(ReadBytes(target), old);
    // The longest name in the folder each time the save writes; none left but
    // the target and the folder afterwards.
    static std::filesystem::path watched;
    static size_t longest;
    watched = scratch.folder;
    longest = 0;
    SetWriteFilter(
        [](void*, uint32_t) {
            for (const auto& entry : std::filesystem::directory_iterator(watched))
                longest = std::max(longest, entry.path().u16string().size());
            return true;
        },
        nullptr);
    EXPECT_TRUE(SaveDirectory(target.c_str()));
    SetWriteFilter(nullptr, nullptr);
    EXPECT_EQ(longest, 259u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.folder), {}), 2);
    EXPECT_EQ(ReadBytes(target), SavedBytes());
}
