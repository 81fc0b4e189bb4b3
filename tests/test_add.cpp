// The add with its index against the literal newest-first scan, on a
// hand-made sequence with known results and over long random ones: every
// result and the whole image must agree.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/heap.h"
#include "directory/add.h"
#include "directory/add_index.h"
#include "directory/directory.h"
#include "keys/decimal.h"
#include "tests/test_support.h"

namespace {

// Interning exactly as first designed: a linear search from the newest text.
int32_t LiteralIntern(const EditableStringTable& table, const char16_t* text) {
    const std::u16string wanted(text);
    for (uint32_t i = *table.count; i-- > 0;) {
        uint16_t offset;
        std::memcpy(&offset, table.offsets + i, 2);
        if (wanted == table.pool + offset) return int32_t(i);
    }
    const uint32_t length = uint32_t(wanted.size()), count = *table.count, pool = *table.poolLength;
    if (count >= table.capacity || pool + length + 1 > table.poolCapacity) return kNoRoom;
    const uint16_t offset = uint16_t(pool);
    std::memcpy(table.offsets + count, &offset, 2);
    std::memcpy(table.pool + pool, text, 2 * (length + 1));
    *table.poolLength = pool + length + 1;
    *table.count = count + 1;
    return int32_t(count);
}

// The add exactly as first designed, scanning the item table from its end.
int32_t LiteralAddEntry(const char16_t* number, const char16_t* area, const char16_t* type) {
    if (!directory.image) return -1;
    const uint32_t key = ParseDecimalKey(number);
    const int32_t a = LiteralIntern(AreaTable(), area), t = LiteralIntern(TypeTable(), type);
    if (a == kNoRoom || t == kNoRoom || key > kMaxKey) return -1;
    DirectoryHeader& h = directory.header;
    const DirectoryHeader c = CapacityBlock();
    if (h.areaCount >= c.areaCount || h.areaPoolLength + 16 >= c.areaPoolLength || h.typeCount >= c.typeCount ||
        h.typePoolLength + 16 >= c.typePoolLength)
        return -1;
    for (uint32_t i = h.itemCount; i-- > 0;) {
        ItemFields f = DecodeItem(&directory.items[i]);
        if (f.start <= key && key <= f.start + f.span) {
            f.areaIndex = uint32_t(a);
            f.typeIndex = uint32_t(t);
            EncodeItem(&directory.items[i], f);
            return int32_t(i);
        }
        if (key == f.start + f.span + 1 && f.areaIndex == uint32_t(a) && f.typeIndex == uint32_t(t) && f.span < 255) {
            ++f.span;
            EncodeItem(&directory.items[i], f);
            ++h.numberCount;
            return int32_t(i);
        }
    }
    if (h.itemCount >= c.itemCount && !GrowItemTable()) return -1;
    EncodeItem(&directory.items[h.itemCount], ItemFields{key, uint32_t(a), uint32_t(t), 0});
    ++h.numberCount;
    return int32_t(h.itemCount++);
}

struct Oracle {
    Directory state = {};
    // Runs `step` on the oracle's directory instead of the real one.
    template <typename Step>
    auto With(Step step) {
        std::swap(directory, state);
        // A generation no cache over the real directory can hold, so that a
        // cache built over one is never taken for current over the other.
        static uint64_t oracleGeneration = uint64_t{1} << 63;
        directory.generation = ++oracleGeneration;
        auto result = step();
        std::swap(directory, state);
        return result;
    }
    ~Oracle() { ReleaseBlock(state.image); }
};

bool SameArrays(const Directory& a, const Directory& b) {
    const DirectoryHeader& h = a.header;
    return std::memcmp(&a.header, &b.header, sizeof h) == 0 && std::memcmp(a.image, b.image, kHeaderSize) == 0 &&
           std::memcmp(a.areaOffsets, b.areaOffsets, 2 * h.areaCount) == 0 &&
           std::memcmp(a.areaPool, b.areaPool, 2 * h.areaPoolLength) == 0 &&
           std::memcmp(a.typeOffsets, b.typeOffsets, 2 * h.typeCount) == 0 &&
           std::memcmp(a.typePool, b.typePool, 2 * h.typePoolLength) == 0 &&
           std::memcmp(a.items, b.items, kItemSize * h.itemCount) == 0;
}

struct Generator {
    std::mt19937 random;
    uint32_t areaChoices, typeChoices;
    std::u16string longText;
    uint32_t changeEvery = 1;  // labels stay for about this many adds
    std::u16string area = u"a0", type = u"t0";
    uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random); }
    std::u16string Label(uint32_t choices, char16_t prefix) {
        std::u16string text(1, prefix);
        text += Decimal(Pick(choices));
        if (Pick(500) == 0) text += longText;  // pushes the pools towards their limits
        return text;
    }
    void NextLabels() {
        if (Pick(changeEvery) == 0) area = Label(areaChoices, u'a');
        if (Pick(changeEvery) == 0) type = Label(typeChoices, u't');
    }
};

// Runs `steps` adds from `make` (which yields a key for the generator) on
// both directories, comparing after each; the whole image every `fullEvery`.
template <typename MakeKey>
void Compare(Oracle& oracle, Generator& g, uint32_t steps, uint32_t fullEvery, MakeKey makeKey) {
    for (uint32_t step = 0; step < steps; ++step) {
        const std::u16string number = Decimal(makeKey(g));
        g.NextLabels();
        const int32_t expected =
            oracle.With([&] { return LiteralAddEntry(number.c_str(), g.area.c_str(), g.type.c_str()); });
        const int32_t got = AddEntry(number.c_str(), g.area.c_str(), g.type.c_str());
        ASSERT_EQ(got, expected) << "step " << step << " key " << std::string(number.begin(), number.end());
        ASSERT_EQ(0, std::memcmp(&directory.header, &oracle.state.header, sizeof(DirectoryHeader))) << step;
        if (got >= 0) {
            ASSERT_EQ(0, std::memcmp(&directory.items[got], &oracle.state.items[got], kItemSize)) << step;
        }
        if (g.Pick(2000) == 0) {  // sorted now and then, as after an import
            SortItems();
            oracle.With([] { return SortItems(), 0; });
            // Equal starts may sort either way; make both tables the same again.
            std::memcpy(oracle.state.items, directory.items, kItemSize * directory.header.itemCount);
        }
        if ((step + 1) % fullEvery == 0) {
            ASSERT_TRUE(SameArrays(directory, oracle.state)) << step;
        }
    }
    ASSERT_TRUE(SameArrays(directory, oracle.state));
}

// One add per key of first..last, each giving `result`.
struct Step {
    uint32_t first, last;
    std::u16string area, type;
    int32_t result;
};

// Plays `steps` with the add index, with it switched off, and with the scan
// that stands in when the index's memory cannot be had; the literal add gives
// the same results and image.
void PlayInEachMode(const std::vector<Step>& steps) {
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        ClearDirectory();
        ASSERT_TRUE(MakeDirectoryEditable());
        Oracle fresh;
        ASSERT_TRUE(fresh.With([] { return MakeDirectoryEditable(); }));
        SetAddIndexEnabled(mode != 1);
        FailAllocationsFrom(mode == 2 ? 1 : 0);
        for (const Step& step : steps) {
            const char16_t *area = step.area.c_str(), *type = step.type.c_str();
            for (uint32_t key = step.first; key <= step.last; ++key) {
                const std::u16string number = Decimal(key);
                EXPECT_EQ(AddEntry(number.c_str(), area, type), step.result) << key;
                EXPECT_EQ(fresh.With([&] { return LiteralAddEntry(number.c_str(), area, type); }), step.result) << key;
                ASSERT_TRUE(SameArrays(directory, fresh.state)) << key;
            }
        }
    }
}

struct AddOracleTest : DirectoryFixture {
    void SetUp() override {
        DirectoryFixture::SetUp();
        ASSERT_TRUE(MakeDirectoryEditable());
        ASSERT_TRUE(oracle.With([] { return MakeDirectoryEditable(); }));
    }
    Oracle oracle;
};

}  // namespace

TEST_F(AddOracleTest, AscendingRunsRandomKeysAndRepeats) {
    // Ascending runs with occasional jumps and label changes, as exported
    // text arrives; then the same keys again, as when a table is updated.
    Generator g{std::mt19937(1), 3, 2, std::u16string(300, u'L'), 300};
    for (int pass = 0; pass < 2; ++pass) {
        uint32_t next = 1000;
        Compare(oracle, g, 300000, 8192, [&](Generator& r) {
            if (r.Pick(200) == 0) next += r.Pick(1000);
            return next++;
        });
    }
    // Random keys in a narrow range: relabels, extends and overlaps.
    g.changeEvery = 3;
    Compare(oracle, g, 300000, 8192, [](Generator& r) { return 500000 + r.Pick(3000); });
    // The same few keys again and again, and keys beyond 22 bits: with the
    // index switched off (the bench's baseline: the add and interning scan
    // instead), then on again over what the scans built.
    for (bool indexed : {false, true}) {
        SetAddIndexEnabled(indexed);
        Compare(oracle, g, 100000, 8192,
                [](Generator& r) { return r.Pick(20) == 0 ? kMaxKey + 1 + r.Pick(10) : 700000 + r.Pick(64); });
        EXPECT_EQ(AddIndexBytes() > 0, indexed);
    }
}

TEST_F(AddOracleTest, TablesAtTheirLimits) {
    // Up to 1100 areas and 300 types: both tables fill, and then every add fails.
    Generator g{std::mt19937(2), 1100, 300, std::u16string(2000, u'P')};
    Compare(oracle, g, 150000, 1024, [](Generator& r) { return r.Pick(4194304 + 50); });
    EXPECT_EQ(directory.header.areaCount, kAreaCapacity);
}

TEST_F(AddOracleTest, GrowthPastTheSpareItems) {
    Generator g{std::mt19937(3), 1, 1, u""};
    uint32_t next = 10;
    Compare(oracle, g, kSpareItems + 3 * kGrowthItems, 4096, [&](Generator&) { return next += 2; });
    EXPECT_EQ(CapacityBlock().itemCount, kSpareItems + 3 * kGrowthItems);
    // Failing growth fails the add the same way in both; a key beyond 22 bits
    // and a relabel need no room.
    FailAllocationsFrom(1);
    for (const char16_t* number : {u"4000000", u"9999999", u"12"})
        EXPECT_EQ(AddEntry(number, u"a0", u"t1"), oracle.With([&] { return LiteralAddEntry(number, u"a0", u"t1"); }));
    FailAllocationsFrom(0);
    EXPECT_TRUE(SameArrays(directory, oracle.state));
}

// Relabels, extends and the 256-key item, through each path of the add.
TEST_F(AddOracleTest, AHandMadeSequence) {
    std::vector<Step> steps;
    for (const auto& row : ReadTable("add_sequence.tsv"))
        steps.push_back({uint32_t(Number(row[0])), uint32_t(Number(row[1])), row[2], row[3], int32_t(Number(row[4]))});
    PlayInEachMode(steps);
}

// The area pool is full at 32752 units in use: a new text is still interned
// and the add refused, until no text fits.
TEST_F(AddOracleTest, TheAreaPoolFillsUp) {
    std::vector<Step> steps;
    for (int32_t i = 0; i < 16; ++i)  // 2001 units each, with the NUL
        steps.push_back({10u * i + 10, 10u * i + 10, std::u16string(1999, u'x') + char16_t(u'a' + i), u"T", i});
    steps.insert(steps.end(), {{500, 500, std::u16string(720, u'y'), u"T", 16},   // 32737 units
                               {510, 510, std::u16string(13, u'z'), u"T", 17},    // 32751
                               {520, 520, u"", u"T", -1},                         // 32752: full
                               {530, 530, u"z", u"T", -1},                        // 32754
                               {540, 540, std::u16string(14, u'w'), u"T", -1}});  // no room to intern
    PlayInEachMode(steps);
}

// Only a foreign file can hold a text twice; the highest index answers.
TEST_F(AddOracleTest, TheNewestOfEqualTextsWins) {
    ASSERT_TRUE(Load(BuildDirectoryFile({u"X", u"Y", u"X"}, {u"T"}, {{5, 0, 0, 0}})) && MakeDirectoryEditable());
    EXPECT_EQ(AddEntry(u"6", u"X", u"T"), 1);  // X is area 2, so 5 is not extended
}
