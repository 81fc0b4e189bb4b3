// Loading, making editable, growing and saving the directory, with failing writes and allocations.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/heap.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "platform/whole_file.h"
#include "tests/test_support.h"

namespace {

using DirectoryTest = DirectoryFixture;

// The names in the folder, to tell that no temporary file is left behind.
std::vector<std::u16string> Entries(const std::filesystem::path& folder) {
    std::vector<std::u16string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().u16string());
    return names;
}

}  // namespace

TEST_F(DirectoryTest, LoadedFileIsUsedInPlaceAndWrittenBack) {
    Bytes file = ExampleDirectory();
    ASSERT_TRUE(Load(file));
    EXPECT_EQ(directory.header.itemCount, 2u);
    EXPECT_EQ(directory.header.numberCount, 101u);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(directory.items), directory.image + 56);
    EXPECT_FALSE(IsDirectoryEditable());
    EXPECT_EQ(SavedBytes(), file);
    ASSERT_TRUE(MakeDirectoryEditable());
    EXPECT_TRUE(IsDirectoryEditable());
    EXPECT_EQ(SavedBytes(), file);

    // Trailing bytes load and are not written back.
    ResetDirectory();
    Bytes trailing = file;
    trailing.insert(trailing.end(), {1, 2, 3});
    ASSERT_TRUE(Load(trailing));
    EXPECT_EQ(SavedBytes(), file);

    // Arrays further out than the header: read where the header says, saved
    // right after the header with tablesOffset 36, so the file reads back.
    ResetDirectory();
    Bytes gap(file.begin(), file.begin() + 36);
    gap.insert(gap.end(), {0xEE, 0xEE});
    gap.insert(gap.end(), file.begin() + 36, file.end());
    PutU32(gap, 4, 38);
    ASSERT_TRUE(Load(gap));
    EXPECT_EQ(Entry(1380050), u"AB|D");
    EXPECT_EQ(SavedBytes(), file);
}

// The first-level index of the lookup is built for the first file; the
// second, of as many items but other starts, must not be searched through it.
TEST_F(DirectoryTest, ALoadReplacesWhatTheLookupKnew) {
    ASSERT_TRUE(Load(BuildDirectoryFile({u"A"}, {u"T"}, {{5000, 0, 0, 0}, {6000, 0, 0, 0}, {9000, 0, 0, 0}})));
    EXPECT_EQ(LookupNumber(1100), nullptr);
    ASSERT_TRUE(Load(BuildDirectoryFile({u"B"}, {u"T"}, {{1000, 0, 0, 0}, {1100, 0, 0, 0}, {9000, 0, 0, 0}})));
    EXPECT_EQ(Entry(1100), u"B|T");
}

TEST_F(DirectoryTest, NewDirectoryIsDatedTodayAndSavedAtItsSize) {
    ASSERT_TRUE(MakeDirectoryEditable());
    const LocalDate today = GetLocalDateToday();
    EXPECT_EQ(directory.header.magic, kDirectoryMagic);
    EXPECT_EQ(directory.header.tablesOffset, 36u);
    EXPECT_EQ(directory.header.versionYear, today.year);
    EXPECT_EQ(directory.header.versionMonth, today.month);
    EXPECT_EQ(directory.header.versionDay, today.day);
    EXPECT_EQ(CapacityBlock().itemCount, kSpareItems);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(directory.items), directory.image + kEditableItemsAt);
    EXPECT_EQ(SavedBytes(), Bytes{});  // no items: nothing to save

    uint8_t* image = directory.image;
    ASSERT_TRUE(MakeDirectoryEditable());  // a second call keeps everything
    EXPECT_EQ(directory.image, image);

    ASSERT_EQ(AddEntry(u"1391234", u"江苏 南京", u"中国移动"), 0);
    SortItems();
    Bytes saved = SavedBytes();
    EXPECT_EQ(saved.size(), 36u + 2 * (1 + 6 + 1 + 5) + 6);
    ResetDirectory();
    ASSERT_TRUE(Load(saved));
    EXPECT_EQ(Entry(1391234), u"江苏 南京|中国移动");
    EXPECT_EQ(directory.header.numberCount, 1u);
}

// Damaged and cut files are tried on the load beside the in-file lookup.
TEST_F(DirectoryTest, UnreadableFilesAreRefusedAndTheDirectoryKept) {
    const Bytes example = ExampleDirectory();
    ASSERT_TRUE(Load(example));
    uint8_t* keptImage = directory.image;
    EXPECT_FALSE(LoadDirectory(scratch.Path(u"missing.dat").c_str()));
    EXPECT_FALSE(LoadDirectory(scratch.folder.u16string().c_str()));
    Directory opened;
    EXPECT_EQ(OpenDirectory(scratch.Path(u"missing.dat").c_str(), &opened), kDirectoryMissing);
    EXPECT_EQ(OpenDirectory(scratch.folder.u16string().c_str(), &opened), kDirectoryUnreadable);
    EXPECT_EQ(opened.image, nullptr);
    // A file too long for one block is refused whole, never read cut at its
    // length modulo 4 GiB. Sparse, so it costs no disk.
    const std::u16string huge = scratch.Path(u"huge.dat");
    WriteBytes(huge, example);
    std::filesystem::resize_file(std::filesystem::path(huge), (uint64_t{1} << 32) + example.size());
    FailAllocationsFrom(0);
    EXPECT_EQ(ReadWholeFile(huge.c_str(), nullptr), nullptr);
    EXPECT_EQ(FailAllocationsFrom(0), 0u);
    EXPECT_FALSE(LoadDirectory(huge.c_str()));
    EXPECT_EQ(OpenDirectory(huge.c_str(), &opened), kDirectoryTooLarge);
    EXPECT_EQ(directory.image, keptImage);
    const std::u16string sound = scratch.Path(u"sound.dat");
    WriteBytes(sound, example);
    FailAllocationsFrom(1);
    EXPECT_EQ(OpenDirectory(sound.c_str(), &opened), kDirectoryOutOfMemory);
    EXPECT_EQ(OpenDirectoryBytes(example.data(), example.size(), &opened), kDirectoryOutOfMemory);
    FailAllocationsFrom(0);
    // An opened directory is its own: the process-wide one is not touched.
    ASSERT_EQ(OpenDirectory(sound.c_str(), &opened), kDirectoryOk);
    EXPECT_NE(opened.image, keptImage);
    EXPECT_EQ(directory.image, keptImage);
    EXPECT_EQ(opened.header.numberCount, directory.header.numberCount);
    CloseDirectory(&opened);
    EXPECT_EQ(opened.image, nullptr);

    // The empty directory file is valid and answers nothing.
    ASSERT_TRUE(Load(BuildDirectoryFile({}, {}, {})));
    EXPECT_EQ(LookupNumber(1), nullptr);
}

// Full tables pass as editable but take nothing more; an area pool beyond
// its capacity is never made editable.
TEST_F(DirectoryTest, EditableCapacitiesAreLimits) {
    std::vector<std::u16string> areas, types;
    for (int i = 0; i < 1024; ++i) areas.push_back(u"a" + std::u16string(1, char16_t(0x4E00 + i)));
    for (int i = 0; i < 256; ++i) types.push_back(u"t" + std::u16string(1, char16_t(0x4E00 + i)));
    Bytes file = BuildDirectoryFile(areas, types, {{7, 1023, 255, 0}});
    ASSERT_TRUE(Load(file));
    EXPECT_TRUE(IsDirectoryEditable());
    uint8_t* image = directory.image;
    EXPECT_TRUE(MakeDirectoryEditable());
    EXPECT_EQ(directory.image, image);
    EXPECT_EQ(AddEntry(u"8", areas[0].c_str(), types[0].c_str()), -1);
    EXPECT_EQ(AddEntry(u"9", u"new", u"new"), -1);
    EXPECT_EQ(SavedBytes(), file);
    // One more area or type, in an otherwise sound file, is refused.
    areas.push_back(u"extra");
    EXPECT_FALSE(Load(BuildDirectoryFile(areas, types, {{7, 0, 0, 0}})));
    areas.pop_back();
    types.push_back(u"extra");
    EXPECT_FALSE(Load(BuildDirectoryFile(areas, types, {{7, 0, 0, 0}})));

    ASSERT_TRUE(Load(BuildDirectoryFile({std::u16string(kAreaPoolCapacity, u'x')}, {u"t"}, {{5, 0, 0, 0}})));
    image = directory.image;
    EXPECT_FALSE(MakeDirectoryEditable());
    EXPECT_EQ(directory.image, image);
    EXPECT_EQ(AddEntry(u"6", u"a", u"t"), -1);
    EXPECT_EQ(directory.header.itemCount, 1u);
}

TEST_F(DirectoryTest, ItemTableGrowsAfterTheSpareRoom) {
    ASSERT_TRUE(MakeDirectoryEditable());
    FailAllocationsFrom(0);
    // Keys two apart never extend one another: every add appends.
    for (uint32_t i = 0; i < kSpareItems; ++i)
        ASSERT_EQ(AddEntry(Decimal(2 * i + 2).c_str(), u"a", u"t"), static_cast<int32_t>(i));
    EXPECT_EQ(CapacityBlock().itemCount, kSpareItems);  // no growth yet
    FailAllocationsFrom(1);
    const DirectoryHeader before = directory.header;
    uint8_t* image = directory.image;
    EXPECT_EQ(AddEntry(u"9999999", u"a", u"t"), -1);  // key beyond 22 bits: no growth asked
    EXPECT_EQ(AddEntry(u"4000000", u"a", u"t"), -1);  // growth fails
    EXPECT_EQ(directory.image, image);
    EXPECT_EQ(0, std::memcmp(&directory.header, &before, sizeof before));
    EXPECT_EQ(AddEntry(u"2", u"a", u"t"), 0);  // a relabel needs no room
    FailAllocationsFrom(0);
    EXPECT_EQ(AddEntry(u"4000000", u"a", u"t"), static_cast<int32_t>(kSpareItems));
    EXPECT_EQ(CapacityBlock().itemCount, kSpareItems + kGrowthItems);
    EXPECT_EQ(ItemStart(&directory.items[kSpareItems - 1]), 2 * kSpareItems);
    EXPECT_EQ(directory.header.numberCount, kSpareItems + 1);
}

TEST_F(DirectoryTest, FailedSaveLeavesTheOldFileWhole) {
    const std::u16string target = scratch.Path(u"Varnolt.dat");
    const Bytes old = ExampleDirectory();
    WriteBytes(target, old);
    ASSERT_TRUE(MakeDirectoryEditable());
    ASSERT_NE(AddEntry(u"1391234", u"area", u"type"), -1);

    // Fail each of the six writes in turn; also a flush-time failure would
    // go the same way.
    for (int failing = 1; failing <= 6; ++failing) {
        SCOPED_TRACE(failing);
        WriteFault fault{0, failing};
        SetWriteFilter(CountOrFail, &fault);
        EXPECT_FALSE(SaveDirectory(target.c_str()));
        SetWriteFilter(nullptr, nullptr);
        EXPECT_EQ(ReadBytes(target), old);
        EXPECT_EQ(Entries(scratch.folder), std::vector<std::u16string>{target});
    }
    EXPECT_FALSE(SaveDirectory(scratch.Path(u"no/such/folder/Varnolt.dat").c_str()));
    // A target that cannot be replaced: the written temporary file goes too.
    const std::u16string folderTarget = scratch.Path(u"folder.dat");
    std::filesystem::create_directory(std::filesystem::path(folderTarget));
    EXPECT_FALSE(SaveDirectory(folderTarget.c_str()));
    std::vector<std::u16string> left = Entries(scratch.folder);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::u16string>{target, folderTarget}));
    std::filesystem::remove(std::filesystem::path(folderTarget));

    EXPECT_TRUE(SaveDirectory(target.c_str()));
    EXPECT_EQ(ReadBytes(target).size(), 36u + 2 * (1 + 5 + 1 + 5) + 6);
    EXPECT_EQ(Entries(scratch.folder), std::vector<std::u16string>{target});

    // An empty item table saves nothing and leaves the file alone.
    ResetDirectory();
    WriteBytes(target, old);
    ASSERT_TRUE(MakeDirectoryEditable());
    InternString(AreaTable(), u"only a string");
    EXPECT_FALSE(SaveDirectory(target.c_str()));
    EXPECT_EQ(ReadBytes(target), old);
}

// 259 units is the longest path the program hands over; the temporary file
// beside it must fit the same limit (260 with the terminator).
TEST_F(DirectoryTest, SaveToAPathOf259UnitsKeepsItsTemporaryFileWithinTheLimit) {
    const std::u16string folder = scratch.Path(u"");
    ASSERT_LT(folder.size() + 8, 259u);
    const std::u16string target = folder + std::u16string(259 - folder.size() - 4, u'v') + u".dat";
    ASSERT_EQ(target.size(), 259u);
    WriteBytes(target, ExampleDirectory());
    ASSERT_TRUE(MakeDirectoryEditable());
    ASSERT_NE(AddEntry(u"1391234", u"area", u"type"), -1);

    struct Context {
        std::filesystem::path folder;
        size_t longest;
    } context{scratch.folder, 0};
    SetWriteFilter(
        [](void* raw, uint32_t) {
            auto* c = static_cast<Context*>(raw);
            for (const std::u16string& name : Entries(c->folder)) c->longest = std::max(c->longest, name.size());
            return true;
        },
        &context);
    EXPECT_TRUE(SaveDirectory(target.c_str()));
    SetWriteFilter(nullptr, nullptr);
    EXPECT_EQ(context.longest, 259u);
    EXPECT_EQ(Entries(scratch.folder), std::vector<std::u16string>{target});
    EXPECT_TRUE(LoadDirectory(target.c_str()));
    EXPECT_EQ(Entry(1391234), u"area|type");
}

TEST_F(DirectoryTest, FailedAllocationsChangeNothing) {
    ASSERT_TRUE(Load(ExampleDirectory()));
    uint8_t* image = directory.image;
    FailAllocationsFrom(1);
    EXPECT_FALSE(MakeDirectoryEditable());
    EXPECT_EQ(directory.image, image);
    EXPECT_EQ(Entry(1380050), u"AB|D");
    FailAllocationsFrom(1);
    EXPECT_FALSE(LoadDirectory(scratch.Path(u"in.dat").c_str()));
    EXPECT_EQ(directory.image, image);
}
