// The in-file lookup: its answers, the reads it makes, and files cut or lying about their counts.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "directory/directory.h"
#include "directory/lookup_file.h"
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

}  // namespace

TEST(LookupNumberInFile, ExampleReadTable) {
    const Bytes file = ExampleDirectory();
    struct Row {
        uint32_t key;
        Reads reads;
        bool found;
        const char16_t* area;
    };
    const Row rows[] = {
        {1380050, {{0, 36}, {62, 6}, {36, 4}, {40, 6}, {50, 4}, {52, 4}}, true, u"AB"},
        {1300000, {{0, 36}, {62, 6}, {56, 6}, {38, 4}, {46, 4}, {50, 4}, {52, 4}}, true, u"C"},
        {1300001, {{0, 36}, {62, 6}, {56, 6}}, false, nullptr},
        {1299999, {{0, 36}, {62, 6}, {56, 6}}, false, nullptr},
        {1380100, {{0, 36}, {62, 6}}, false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        Answer answer = Ask(file, row.key);
        EXPECT_EQ(answer.reads, row.reads);
        EXPECT_EQ(answer.found, row.found);
        if (row.found) {
            EXPECT_EQ(answer.area, row.area);
            EXPECT_EQ(answer.type, u"D");
        } else {
            EXPECT_TRUE(answer.areaUntouched);
            EXPECT_TRUE(answer.typeUntouched);
        }
    }
}

TEST(LookupNumberInFile, KeyZeroAndMissingOrForeignFiles) {
    // Key 0 is never found and the file is not even opened.
    Bytes startsAtZero = BuildDirectoryFile({u"Z"}, {u"T"}, {{0, 0, 0, 5}});
    Answer zero = Ask(startsAtZero, 0);
    EXPECT_FALSE(zero.found);
    EXPECT_TRUE(zero.reads.empty());
    EXPECT_TRUE(Ask(startsAtZero, 5).found);

    char16_t area[kLookupNameUnits] = u"keep";
    EXPECT_FALSE(LookupNumberInFile(u"/nonexistent/folder/Varnolt.dat", 1380050, area, nullptr));
    EXPECT_EQ(std::u16string(area), u"keep");

    Bytes foreign = ExampleDirectory();
    foreign[3] = 'U';
    Answer wrongMagic = Ask(foreign, 1380050);
    EXPECT_FALSE(wrongMagic.found);
    EXPECT_TRUE(wrongMagic.areaUntouched && wrongMagic.typeUntouched);
    EXPECT_EQ(wrongMagic.reads.size(), 1u);

    // An empty directory: header only.
    Bytes empty = BuildDirectoryFile({}, {}, {});
    ASSERT_EQ(empty.size(), 36u);
    EXPECT_FALSE(Ask(empty, 1).found);
}

TEST(LookupNumberInFile, OnlyTheCandidateItemAnswers) {
    Bytes file = BuildDirectoryFile({u"first", u"second", u"third"}, {u"t0", u"t1"},
                                    {{100, 0, 0, 10}, {105, 1, 1, 0}, {200, 2, 0, 255}, {456, 0, 1, 0}});
    EXPECT_FALSE(Ask(file, 99).found);
    EXPECT_EQ(Ask(file, 100).area, u"first");
    EXPECT_EQ(Ask(file, 104).area, u"first");
    Answer at105 = Ask(file, 105);
    EXPECT_EQ(at105.area, u"second");
    EXPECT_EQ(at105.type, u"t1");
    // 108 lies in the first item's range, but the item starting at 105 is the candidate.
    EXPECT_FALSE(Ask(file, 108).found);
    EXPECT_EQ(Ask(file, 200).area, u"third");
    EXPECT_EQ(Ask(file, 455).area, u"third");  // span 255: 256 keys
    EXPECT_EQ(Ask(file, 456).area, u"first");
    EXPECT_FALSE(Ask(file, 457).found);
    EXPECT_FALSE(Ask(file, 0xFFFFFFFBu).found);  // -5 as a key

    // Without a type buffer only the area is read.
    Answer areaOnly = Ask(file, 456, false);
    EXPECT_TRUE(areaOnly.found);
    EXPECT_EQ(areaOnly.area, u"first");
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

TEST(LookupNumberInFile, TruncatedFilesNeverReadBeyondTheirEnd) {
    const Bytes full = ExampleDirectory();
    for (size_t length = 0; length < full.size(); ++length) {
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        // Every search's first probe reads item 1 at bytes 62 to 67, so no cut
        // file can answer, and none may leave a trace in the buffers.
        for (uint32_t key : {1300000u, 1380050u, 1380099u}) {
            SCOPED_TRACE(testing::Message() << "length " << length << " key " << key);
            Answer answer = Ask(cut, key);
            EXPECT_FALSE(answer.found);
            EXPECT_TRUE(answer.areaUntouched && answer.typeUntouched);
        }
    }
}

TEST(LookupNumberInFile, CountsPointingPastTheEnd) {
    struct Damage {
        size_t at;
        uint32_t value;
    };
    const Damage damages[] = {
        {32, 1000},       {32, 0xFFFFFFFF}, {32, 0x7FFFFFFF}, {16, 0xFFFF}, {20, 0x40000000},
        {24, 0xFFFFFFFF}, {28, 12345},      {4, 0xFFFFFFF0},  {4, 0},       {20, 0},
    };
    for (const Damage& damage : damages) {
        Bytes file = ExampleDirectory();
        PutU32(file, damage.at, damage.value);
        for (uint32_t key : {1u, 1300000u, 1380050u, 4194303u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(testing::Message() << "field " << damage.at << " = " << damage.value << " key " << key);
            Answer answer = Ask(file, key);
            if (!answer.found) {
                EXPECT_TRUE(answer.areaUntouched && answer.typeUntouched);
            }
            EXPECT_LE(answer.area.size(), kLookupNameUnits - 1);
            EXPECT_LE(answer.type.size(), kLookupNameUnits - 1);
        }
    }
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
