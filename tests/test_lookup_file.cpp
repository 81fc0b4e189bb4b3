// Both lookups on the same files; the reads of the in-file one, and files cut or lying about their counts.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "directory/lookup_memory.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"
#include "tests/test_support.h"

namespace {

using Reads = std::vector<std::pair<uint64_t, uint32_t>>;

void RecordRead(void* context, uint64_t position, uint32_t length) {
    static_cast<Reads*>(context)->emplace_back(position, length);
}

struct Answer {
    bool found;
    std::u16string area, type;
    Reads reads;
    bool areaUntouched = true, typeUntouched = true;
};

// Looks `key` up in `file` with sentinel-filled buffers and records every read.
Answer Ask(const Bytes& file, uint32_t key, bool wantType = true) {
    ScratchFolder scratch;
    std::u16string path = scratch.Path(u"Varnolt.dat");
    WriteBytes(path, file);
    char16_t area[kLookupNameUnits + 8], type[kLookupNameUnits + 8];
    std::fill(std::begin(area), std::end(area), u'#');
    std::fill(std::begin(type), std::end(type), u'#');
    Answer answer;
    SetReadObserver(RecordRead, &answer.reads);
    answer.found = LookupNumberInFile(path.c_str(), key, area, wantType ? type : nullptr);
    SetReadObserver(nullptr, nullptr);
    for (uint32_t i = 0; i < kLookupNameUnits; ++i) {
        answer.areaUntouched &= area[i] == u'#';
        answer.typeUntouched &= type[i] == u'#';
    }
    // Nothing is ever written past the 80 units the caller owns.
    for (uint32_t i = kLookupNameUnits; i < kLookupNameUnits + 8; ++i) {
        EXPECT_EQ(area[i], u'#');
        EXPECT_EQ(type[i], u'#');
    }
    if (answer.found) {
        answer.area = area;
        if (wantType) answer.type = type;
    }
    return answer;
}

// What the in-file lookup answers, in the form of Entry.
std::u16string FileEntry(const Bytes& file, uint32_t key) {
    Answer answer = Ask(file, key);
    if (answer.found) return answer.area + u"|" + answer.type;
    EXPECT_TRUE(answer.areaUntouched && answer.typeUntouched);
    return u"-";
}

// The in-memory lookup is loaded with the same file and must agree.
using BothLookups = DirectoryFixture;

}  // namespace

// 1380050: the in-memory lower bound runs past the last item; 1300000: lands
// on the first; 1350000: steps back to item 0, whose range has ended.
TEST_F(BothLookups, ExampleReadTable) {
    const Bytes file = ExampleDirectory();
    ASSERT_TRUE(Load(file));
    struct Row {
        uint32_t key;
        Reads reads;
        const char16_t* entry;
    };
    const Row rows[] = {
        {1380050, {{0, 36}, {62, 6}, {36, 4}, {40, 6}, {50, 4}, {52, 4}}, u"AB|D"},
        {1380099, {{0, 36}, {62, 6}, {36, 4}, {40, 6}, {50, 4}, {52, 4}}, u"AB|D"},
        {1300000, {{0, 36}, {62, 6}, {56, 6}, {38, 4}, {46, 4}, {50, 4}, {52, 4}}, u"C|D"},
        {1350000, {{0, 36}, {62, 6}, {56, 6}}, u"-"},
        {1300001, {{0, 36}, {62, 6}, {56, 6}}, u"-"},
        {1299999, {{0, 36}, {62, 6}, {56, 6}}, u"-"},
        {1380100, {{0, 36}, {62, 6}}, u"-"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(Ask(file, row.key).reads, row.reads);
        EXPECT_EQ(FileEntry(file, row.key), row.entry);
        EXPECT_EQ(Entry(row.key), row.entry);
    }
}

TEST(LookupNumberInFile, KeyZeroAndMissingOrForeignFiles) {
    // Key 0 is never found and the file is not even opened.
    Bytes startsAtZero = BuildDirectoryFile({u"Z"}, {u"T"}, {{0, 0, 0, 5}});
    Answer zero = Ask(startsAtZero, 0);
    EXPECT_FALSE(zero.found);
    EXPECT_TRUE(zero.reads.empty());

    char16_t area[kLookupNameUnits] = u"keep";
    EXPECT_FALSE(LookupNumberInFile(u"/nonexistent/folder/Varnolt.dat", 1380050, area, nullptr));
    EXPECT_EQ(std::u16string(area), u"keep");

    Bytes foreign = ExampleDirectory();
    foreign[3] = 'U';
    Answer wrongMagic = Ask(foreign, 1380050);
    EXPECT_FALSE(wrongMagic.found);
    EXPECT_TRUE(wrongMagic.areaUntouched && wrongMagic.typeUntouched);
    EXPECT_EQ(wrongMagic.reads.size(), 1u);

    EXPECT_FALSE(Ask(BuildDirectoryFile({}, {}, {}), 1).found);  // header only
}

// Overlapping items cannot come from adds (105 would relabel the wide item),
// so the file is built by hand.
TEST_F(BothLookups, OnlyTheCandidateItemAnswers) {
    EXPECT_EQ(LookupNumber(5), nullptr);  // no image at all
    ASSERT_TRUE(MakeDirectoryEditable());
    EXPECT_EQ(LookupNumber(5), nullptr);  // no items
    const Bytes file = BuildDirectoryFile(
        {u"zero", u"wide", u"narrow"}, {u"t0", u"t1"},
        {{0, 0, 0, 3}, {100, 1, 0, 10}, {105, 2, 1, 0}, {200, 0, 1, 255}, {456, 2, 0, 0}, {4194000, 1, 0, 255}});
    ASSERT_TRUE(Load(file));
    // 108 lies in the wide item, but the candidate starts at 105; the item at
    // 200 spans 256 keys; 4194304 + 104 has its low 22 bits inside an item;
    // 0xFFFFFFFB is -5 as a key.
    const std::pair<uint32_t, const char16_t*> rows[] = {
        {0, u"-"},           {3, u"zero|t0"},       {99, u"-"},        {100, u"wide|t0"},     {104, u"wide|t0"},
        {105, u"narrow|t1"}, {108, u"-"},           {200, u"zero|t1"}, {455, u"zero|t1"},     {456, u"narrow|t0"},
        {457, u"-"},         {4194255, u"wide|t0"}, {4194256, u"-"},   {4194304 + 104, u"-"}, {0xFFFFFFFBu, u"-"},
    };
    for (const auto& [key, entry] : rows) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Entry(key), entry);
        EXPECT_EQ(FileEntry(file, key), entry);
    }
    // Without a type buffer only the area is read.
    Answer areaOnly = Ask(file, 456, false);
    EXPECT_EQ(areaOnly.area, u"narrow");
    EXPECT_TRUE(areaOnly.typeUntouched);
}

TEST(LookupNumberInFile, LongNamesAreCutToFit) {
    std::u16string name79(79, u'x'), name80(80, u'y'), name300(300, u'z');
    Bytes file = BuildDirectoryFile({name79, name80, name300}, {name300, u"short"},
                                    {{10, 0, 1, 0}, {20, 1, 0, 0}, {30, 2, 0, 0}});
    EXPECT_EQ(Ask(file, 10).area, name79);
    EXPECT_EQ(Ask(file, 20).area, name80.substr(0, 79));
    Answer last = Ask(file, 30);  // the last area, extent up to the pool length
    EXPECT_EQ(last.area, name300.substr(0, 79));
    EXPECT_EQ(last.type, name300.substr(0, 79));
}

// The load refuses every damaged or cut file and keeps the directory it had,
// and opening one names the check it failed.
// The in-file lookup checks far less, but must stay within the file and the
// caller's buffers; and no cut file can answer, as every search's first probe
// reads the last item, the file's last six bytes.
TEST_F(BothLookups, DamagedAndCutFiles) {
    const Bytes good = BuildDirectoryFile({u"AB", u"C"}, {u"D", u"E"}, {{1300000, 1, 1, 0}, {1380000, 0, 0, 99}});
    ASSERT_TRUE(Load(good));
    EXPECT_EQ(Entry(1300000), u"C|E");
    EXPECT_EQ(FileEntry(good, 1300000), u"C|E");
    // Positions in `good`: area offsets 36, area pool 40..49, type offsets 50,
    // type pool 54..61, items 62 and 68.
    struct Damage {
        const char* what;
        size_t at;
        uint32_t value;
        int width;
        DirectoryResult reason;  // what opening the file says
    };
    const Damage damages[] = {
        {"magic", 0, 0x554C4E56, 4, kDirectoryNotDirectory},
        {"tablesOffset 0", 4, 0, 4, kDirectoryBadTableStart},
        {"tablesOffset below 36", 4, 34, 4, kDirectoryBadTableStart},
        {"odd tablesOffset", 4, 37, 4, kDirectoryBadTableStart},
        {"tablesOffset past the end", 4, 0xFFFFFFF0, 4, kDirectoryCut},
        {"areaCount above 1024", 16, 1025, 4, kDirectoryTooManyNames},
        {"areaCount far above 1024", 16, 0xFFFF, 4, kDirectoryTooManyNames},
        {"no area pool", 20, 0, 4, kDirectoryBadAreaNames},
        {"area pool past the end", 20, 0x40000000, 4, kDirectoryCut},
        {"area pool far past the end", 20, 0x7FFFFFFF, 4, kDirectoryCut},
        {"typeCount above 256", 24, 257, 4, kDirectoryTooManyNames},
        {"typeCount of all ones", 24, 0xFFFFFFFF, 4, kDirectoryTooManyNames},
        {"type pool past the end", 28, 12345, 4, kDirectoryCut},
        {"itemCount past the end", 32, 3, 4, kDirectoryCut},
        {"itemCount far past the end", 32, 1000, 4, kDirectoryCut},
        {"itemCount 2^31 - 1", 32, 0x7FFFFFFF, 4, kDirectoryCut},
        {"itemCount 2^31", 32, 0x80000000, 4, kDirectoryCut},
        {"itemCount of all ones", 32, 0xFFFFFFFF, 4, kDirectoryCut},
        {"area offsets not increasing", 38, 0, 2, kDirectoryBadAreaNames},
        {"area offset beyond its pool", 38, 9, 2, kDirectoryBadAreaNames},
        {"area string without its NUL", 44, 0x41, 2, kDirectoryBadAreaNames},
        {"last type string without its NUL", 60, 0x45, 2, kDirectoryBadTypeNames},
        {"area index beyond the table", 62, 1300000 + (3u << 22), 4, kDirectoryBadItems},
        {"type index beyond the table", 72, 2, 1, kDirectoryBadItems},
    };
    ASSERT_TRUE(Load(ExampleDirectory()));
    const DirectoryHeader kept = directory.header;
    uint8_t* keptImage = directory.image;
    auto refused = [&](const Bytes& file, bool cut, DirectoryResult reason) {
        Directory opened;
        EXPECT_EQ(OpenDirectoryBytes(file.data(), file.size(), &opened), reason);
        EXPECT_EQ(opened.image, nullptr);
        EXPECT_FALSE(Load(file));
        EXPECT_EQ(directory.image, keptImage);
        EXPECT_EQ(0, std::memcmp(&directory.header, &kept, sizeof kept));
        for (uint32_t key : {1u, 1300000u, 1380050u, 1380099u, 4194303u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(key);
            Answer answer = Ask(file, key);
            EXPECT_FALSE(cut && answer.found);
            EXPECT_TRUE(answer.found || (answer.areaUntouched && answer.typeUntouched));
            EXPECT_LE(answer.area.size(), kLookupNameUnits - 1);
            EXPECT_LE(answer.type.size(), kLookupNameUnits - 1);
        }
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        Bytes file = good;
        for (int i = 0; i < damage.width; ++i) file[damage.at + i] = static_cast<uint8_t>(damage.value >> (8 * i));
        refused(file, false, damage.reason);
    }
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        refused(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)), true,
                length < kHeaderSize ? kDirectoryNotDirectory : kDirectoryCut);
    }
}

TEST(LookupNumberInFile, OffsetsBeyondTheirPool) {
    // An offset entry beyond its pool: the name read fails, nothing is copied.
    Bytes badOffset = ExampleDirectory();
    badOffset[36] = 0xFF;
    badOffset[37] = 0x7F;
    Answer answer = Ask(badOffset, 1380050);
    EXPECT_FALSE(answer.found);
    EXPECT_TRUE(answer.areaUntouched);
    // The same for the type's entry, after the area was read: still no answer.
    Bytes badTypeOffset = ExampleDirectory();
    badTypeOffset[50] = 0xFF;
    badTypeOffset[51] = 0x7F;
    answer = Ask(badTypeOffset, 1380050);
    EXPECT_FALSE(answer.found);
    EXPECT_TRUE(answer.typeUntouched);
    EXPECT_TRUE(Ask(badTypeOffset, 1380050, false).found);
}
