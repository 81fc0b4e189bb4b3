// Helpers of the unit tests: scratch folders, fixture files and directories built from parts.
#include "tests/test_support.h"

#include <fstream>
#include <utility>

#include "base/heap.h"
#include "directory/add_index.h"
#include "directory/lookup_memory.h"
#include "platform/platform_seams.h"
#include "tests/tables.h"

namespace fs = std::filesystem;

Bytes FixtureBytes(const char* name) { return ReadBytes((fs::path(VARNOLT_TEST_DATA) / name).u16string()); }

Bytes BuildDirectoryFile(const std::vector<std::u16string>& areas, const std::vector<std::u16string>& types,
                         const std::vector<ItemFields>& items) {
    // The offset table and the pool of one string table, as units.
    const auto units = [](const std::vector<std::u16string>& names) {
        std::u16string offsets, pool;
        for (const auto& name : names) {
            offsets += static_cast<char16_t>(pool.size());
            pool += name + u'\0';
        }
        return std::pair{offsets, pool};
    };
    const auto [areaOffsets, areaPool] = units(areas);
    const auto [typeOffsets, typePool] = units(types);
    const auto count = [](const auto& list) { return static_cast<uint32_t>(list.size()); };
    DirectoryHeader header(kDirectoryMagic, kHeaderSize, 7, 12, 2026, 0, count(areas), count(areaPool), count(types),
                           count(typePool), count(items));
    Bytes file(kHeaderSize), table;
    for (const auto& item : items) {
        RangeItem encoded;
        EncodeItem(&encoded, item);
        table.insert(table.end(), encoded.bytes, encoded.bytes + kItemSize);
        header.numberCount += item.span + 1;
    }
    std::memcpy(file.data(), &header, kHeaderSize);
    const Bytes strings = Utf16Le(areaOffsets + areaPool + typeOffsets + typePool, false);
    file.insert(file.end(), strings.begin(), strings.end());
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

std::vector<std::vector<std::u16string>> ReadTable(const char* name) {
    const Bytes bytes = FixtureBytes(name);
    auto rows = ParseTable(std::string(bytes.begin(), bytes.end()));
    EXPECT_FALSE(rows.empty()) << name;
    return rows;
}

int64_t Number(const std::u16string& field) {
    const std::string text = Utf16ToUtf8(field.c_str());
    return std::stoll(text, nullptr, text.rfind("0x", 0) == 0 ? 16 : 10);
}

Bytes SavedBytes() {
    ScratchFolder scratch;
    const std::u16string path = scratch.Path(u"saved.dat");
    return SaveDirectory(path.c_str()) ? ReadBytes(path) : Bytes{};
}

std::u16string Decimal(uint64_t value) { return Utf8ToUtf16(std::to_string(value)); }

std::u16string Entry(uint32_t key) {
    const RangeItem* item = LookupNumber(key);
    return item ? std::u16string(AreaName(item)) + u"|" + TypeName(item) : u"-";
}

void DirectoryFixture::TearDown() {
    SetAddIndexEnabled(true);
    SetWriteFilter(nullptr, nullptr);
    FailAllocationsFrom(0);
    ClearDirectory();
}

bool DirectoryFixture::Load(const Bytes& file) {
    const std::u16string path = scratch.Path(u"in.dat");
    WriteBytes(path, file);
    return LoadDirectory(path.c_str());
}

Bytes Utf16Le(const std::u16string& text, bool mark) {
    Bytes bytes;
    if (mark) bytes = {0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}
