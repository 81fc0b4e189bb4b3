// Both lookups on the same files, hand-made and random; the in-file one within
// the file and a few reads; damaged and cut files.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "base/heap.h"
#include "base/utf8.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "directory/lookup_memory.h"
#include "platform/platform_seams.h"
#include "tests/test_support.h"

namespace {

using Reads = std::vector<std::pair<uint64_t, uint32_t>>;

struct Answer {
    bool found;
    std::u16string area, type;
    size_t reads;
};

// A directory file for the in-file lookup, asked through sentinel-filled buffers.
struct LookupFile {
    explicit LookupFile(const Bytes& file) : bytes(file) { WriteBytes(path, bytes); }

    // The buffers stay untouched unless the key is found, and nothing is
    // written past their 80 units. No read goes past the file (but the
    // header's, refused when short), and there are no more than the header,
    // a probe per halving, a step back and two per name.
    Answer Ask(uint32_t key, bool wantType = true) const {
        const std::u16string sentinels(kLookupNameUnits + 8, u'#');
        std::u16string area = sentinels, type = sentinels;
        Reads reads;
        SetReadObserver([](void* c, uint64_t at, uint32_t n) { static_cast<Reads*>(c)->emplace_back(at, n); }, &reads);
        const bool found = LookupNumberInFile(path.c_str(), key, area.data(), wantType ? type.data() : nullptr);
        SetReadObserver(nullptr, nullptr);
        uint32_t items = 0;
        if (bytes.size() >= kHeaderSize) std::memcpy(&items, &bytes[32], 4);
        EXPECT_LE(reads.size(), 6u + std::bit_width(items));
        for (const auto& [at, length] : reads) EXPECT_LE(at + length, std::max<uint64_t>(bytes.size(), kHeaderSize));
        EXPECT_EQ(area.substr(kLookupNameUnits) + type.substr(kLookupNameUnits), std::u16string(16, u'#'));
        EXPECT_TRUE(found ? area.find(u'\0') < kLookupNameUnits && (!wantType || type.find(u'\0') < kLookupNameUnits)
                          : area == sentinels && type == sentinels);
        return {found, found ? area.c_str() : u"", found && wantType ? type.c_str() : u"", reads.size()};
    }
    // The answer in the form of Entry.
    std::u16string EntryOf(uint32_t key) const {
        const Answer answer = Ask(key);
        return answer.found ? answer.area + u"|" + answer.type : u"-";
    }

    Bytes bytes;
    ScratchFolder scratch;
    std::u16string path = scratch.Path(u"Varnolt.dat");
};

// The in-memory lookup is loaded with the same file.
using BothLookups = DirectoryFixture;

// The in-memory lookup exactly as first designed: a lower bound over the whole table.
const RangeItem* LiteralLookup(uint32_t key) {
    const uint32_t count = directory.header.itemCount;
    if (key == 0 || count == 0) return nullptr;
    uint32_t first = 0;
    for (uint32_t remaining = count; remaining > 0;) {
        const uint32_t half = remaining / 2;
        if (ItemStart(&directory.items[first + half]) < (key & kMaxKey)) {
            first += half + 1;
            remaining -= half + 1;
        } else {
            remaining = half;
        }
    }
    const RangeItem* candidate = &directory.items[first == count ? count - 1 : first];
    if (first != count && first != 0 && key < ItemStart(candidate)) candidate = &directory.items[first - 1];
    const ItemFields f = DecodeItem(candidate);
    return f.start <= key && key <= f.start + f.span ? candidate : nullptr;
}

}  // namespace

// Only the candidate, the item with the greatest start not above the key,
// answers. Overlapping items cannot come from adds (105 would relabel the
// wide item), so the file is built by hand.
TEST_F(BothLookups, AHandMadeFile) {
    EXPECT_EQ(LookupNumber(5), nullptr);  // no image at all
    ASSERT_TRUE(Load(BuildDirectoryFile({}, {}, {})));
    EXPECT_EQ(LookupNumber(5), nullptr);
    EXPECT_FALSE(LookupFile(BuildDirectoryFile({}, {}, {})).Ask(5).found);
    const LookupFile file(BuildDirectoryFile(
        {u"zero", u"wide", u"narrow"}, {u"t0", u"t1"},
        {{0, 0, 0, 3}, {100, 1, 0, 10}, {105, 2, 1, 0}, {200, 0, 1, 255}, {456, 2, 0, 0}, {4194000, 1, 0, 255}}));
    ASSERT_TRUE(Load(file.bytes));
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
        EXPECT_EQ(file.EntryOf(key), entry);
    }
    EXPECT_EQ(file.Ask(0).reads, 0u);  // key 0: the file is not even opened
}

// Random tables, dense or sparse, with shared starts and spans up to 255;
// every fourth out of order, as a foreign file may be. In memory, the
// first-level index picks the candidate of the plain halving, built anew for
// each table loaded over the last. On a sorted
// table the in-file lookup answers alike at every item's edges, but for a
// start several items share: there it takes the last of them, memory the first.
TEST_F(BothLookups, RandomTables) {
    std::mt19937 random(5);
    for (int table = 0; table < 40; ++table) {
        std::vector<ItemFields> items;
        const uint32_t count = 1 + random() % 3000, spread = 1 + random() % 4000;
        uint32_t start = random() % 1000;
        for (uint32_t i = 0; i < count; ++i) {
            if (random() % 10 != 0) start += random() % spread;
            if (start > kMaxKey) break;
            items.push_back({start, i % 5, i % 3, static_cast<uint32_t>(random() % 256)});
        }
        const bool sorted = table % 4 != 3;
        if (!sorted) std::shuffle(items.begin(), items.end(), random);
        const LookupFile file(BuildDirectoryFile({u"a", u"b", u"c", u"d", u"e"}, {u"t", u"u", u"v"}, items));
        ASSERT_TRUE(Load(file.bytes));
        const uint32_t last = items.back().start + 300;
        for (int probe = 0; probe < 20000; ++probe) {
            const uint32_t key = probe % 7 == 0 ? kMaxKey + 1 + random() % 400 : random() % last;
            ASSERT_EQ(LookupNumber(key), LiteralLookup(key)) << "table " << table << " key " << key;
        }
        std::set<uint32_t> shared;
        for (size_t i = 1; i < items.size(); ++i)
            if (items[i].start == items[i - 1].start) shared.insert(items[i].start);
        for (int probe = 0; sorted && probe < 40; ++probe) {
            const ItemFields& item = items[random() % items.size()];
            for (uint32_t key : {item.start - 1, item.start, item.start + item.span, item.start + item.span + 1})
                ASSERT_TRUE(key > kMaxKey || shared.count(key) || file.EntryOf(key) == Entry(key)) << key;
        }
    }
}

TEST(LookupNumberInFile, LongNamesAreCutAndBadFilesRefused) {
    const std::u16string name79(79, u'x'), name80(80, u'y'), name300(300, u'z');
    const LookupFile names(BuildDirectoryFile({name79, name80, name300}, {name300, u"short"},
                                              {{10, 0, 1, 0}, {20, 1, 0, 0}, {30, 2, 0, 0}}));
    EXPECT_EQ(names.Ask(10).area, name79);
    EXPECT_EQ(names.Ask(20).area, name80.substr(0, 79));
    // The last area: its extent runs to the pool's length.
    EXPECT_EQ(names.EntryOf(30), name300.substr(0, 79) + u"|" + name300.substr(0, 79));

    char16_t area[kLookupNameUnits] = u"keep";
    EXPECT_FALSE(LookupNumberInFile(u"/nonexistent/folder/Varnolt.dat", 1380050, area, nullptr));
    EXPECT_EQ(std::u16string(area), u"keep");
    Bytes foreign = FixtureBytes("example.dat"), areaBeyond = foreign, typeBeyond = foreign;
    foreign[3] = 'U';
    EXPECT_FALSE(LookupFile(foreign).Ask(1380050).found);
    // An offset beyond its pool: that name is not read, so there is no answer,
    // unless it is the type's and no type is asked for: the area alone answers.
    areaBeyond[37] = typeBeyond[51] = 0x7F;
    EXPECT_FALSE(LookupFile(areaBeyond).Ask(1380050).found);
    EXPECT_FALSE(LookupFile(typeBeyond).Ask(1380050).found);
    EXPECT_EQ(LookupFile(typeBeyond).Ask(1380050, false).area, u"AB");
}

// The load refuses every damaged (tests/data/damaged_directories.tsv), cut,
// missing, unreadable or oversized file, and one it has no memory for, and
// keeps the directory it had; opening one names the check it failed. The
// in-file lookup checks far less, but stays within the file and the caller's
// buffers (as Ask checks); and no cut file can answer, as every search's first
// probe reads the last item, the file's last six bytes.
TEST_F(BothLookups, RefusedFilesLeaveTheDirectoryAsItWas) {
    const Bytes good = BuildDirectoryFile({u"AB", u"C"}, {u"D", u"E"}, {{1300000, 1, 1, 0}, {1380000, 0, 0, 99}});
    ASSERT_TRUE(Load(good));
    const Bytes example = FixtureBytes("example.dat");
    ASSERT_TRUE(Load(example));
    const DirectoryHeader kept = directory.header;
    uint8_t* keptImage = directory.image;
    const auto refused = [&](const std::u16string& path, DirectoryResult reason) {
        Directory opened;
        EXPECT_EQ(OpenDirectory(path.c_str(), &opened), reason);
        EXPECT_EQ(opened.image, nullptr);
        EXPECT_FALSE(LoadDirectory(path.c_str()));
        EXPECT_EQ(directory.image, keptImage);
        EXPECT_EQ(0, std::memcmp(&directory.header, &kept, sizeof kept));
    };
    for (const auto& row : ReadTable("damaged_directories.tsv")) {
        SCOPED_TRACE(Utf16ToUtf8(row[0].c_str()));
        Bytes file = good;
        for (int64_t i = 0; i < Number(row[3]); ++i) file[Number(row[1]) + i] = uint8_t(Number(row[2]) >> (8 * i));
        refused(LookupFile(file).path, static_cast<DirectoryResult>(Number(row[4])));
    }
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(testing::Message() << "cut at " << length);
        const LookupFile file(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
        refused(file.path, length < kHeaderSize ? kDirectoryNotDirectory : kDirectoryCut);
        for (uint32_t key : {1u, 1300000u, 1380050u, 1380099u, 4194303u, 0xFFFFFFFFu})
            EXPECT_FALSE(file.Ask(key).found) << key;
    }
    // A file too long for one block is refused whole, before any allocation,
    // never read cut at its length modulo 4 GiB. Sparse, so it costs no disk.
    const std::u16string huge = scratch.Path(u"huge.dat");
    WriteBytes(huge, example);
    std::filesystem::resize_file(std::filesystem::path(huge), (uint64_t{1} << 32) + example.size());
    FailAllocationsFrom(0);
    refused(huge, kDirectoryTooLarge);
    EXPECT_EQ(FailAllocationsFrom(0), 0u);
    refused(scratch.Path(u"missing.dat"), kDirectoryMissing);
    refused(scratch.folder.u16string(), kDirectoryUnreadable);
    Directory opened;
    FailAllocationsFrom(1);
    refused(scratch.Path(u"in.dat"), kDirectoryOutOfMemory);
    EXPECT_EQ(OpenDirectoryBytes(example.data(), example.size(), &opened), kDirectoryOutOfMemory);
    EXPECT_FALSE(MakeDirectoryEditable());
    FailAllocationsFrom(0);
    // An opened directory is its own: the process-wide one is not touched.
    ASSERT_EQ(OpenDirectory(scratch.Path(u"in.dat").c_str(), &opened), kDirectoryOk);
    EXPECT_NE(opened.image, keptImage);
    EXPECT_EQ(directory.image, keptImage);
    EXPECT_EQ(opened.header.numberCount, directory.header.numberCount);
    CloseDirectory(&opened);
    EXPECT_EQ(opened.image, nullptr);
}
