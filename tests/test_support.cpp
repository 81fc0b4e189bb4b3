// Helpers of the unit tests: scratch folders, fixture files and directories built from parts.
#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

#include "base/heap.h"
#include "directory/add_index.h"
#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "platform/platform.h"
#include "platform/platform_seams.h"

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    static std::atomic<int> serial{0};
    auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    folder = fs::temp_directory_path() / ("varnolt-test-" + stamp + "-" + std::to_string(serial++));
    fs::create_directories(folder);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

std::u16string ScratchFolder::Path(const std::u16string& name) const { return (folder / fs::path(name)).u16string(); }

Bytes ReadBytes(const std::u16string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::u16string& path, const Bytes& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes FixtureBytes(const char* name) {
    std::ifstream in(fs::path(VARNOLT_TEST_DATA) / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ExampleDirectory() { return FixtureBytes("example.dat"); }

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

namespace {

void AppendU16(Bytes& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

// Offset table and pool of one string table.
void AppendTable(Bytes& offsets, Bytes& pool, uint32_t& poolLength, const std::vector<std::u16string>& names) {
    poolLength = 0;
    for (const auto& name : names) {
        AppendU16(offsets, poolLength);
        for (char16_t c : name) AppendU16(pool, c);
        AppendU16(pool, 0);
        poolLength += static_cast<uint32_t>(name.size()) + 1;
    }
}

}  // namespace

Bytes BuildDirectoryFile(const std::vector<std::u16string>& areas, const std::vector<std::u16string>& types,
                         const std::vector<FixtureItem>& items) {
    Bytes areaOffsets, areaPool, typeOffsets, typePool, table;
    uint32_t areaPoolLength, typePoolLength, numbers = 0;
    AppendTable(areaOffsets, areaPool, areaPoolLength, areas);
    AppendTable(typeOffsets, typePool, typePoolLength, types);
    for (const auto& item : items) {
        RangeItem encoded;
        EncodeItem(&encoded, ItemFields{item.start, item.areaIndex, item.typeIndex, item.span});
        table.insert(table.end(), encoded.bytes, encoded.bytes + kItemSize);
        numbers += item.span + 1;
    }
    Bytes file(kHeaderSize, 0);
    PutU32(file, 0, kDirectoryMagic);
    PutU32(file, 4, kHeaderSize);
    file[8] = 7;
    file[9] = 12;
    file[10] = 0xEA;  // 2026
    file[11] = 0x07;
    PutU32(file, 12, numbers);
    PutU32(file, 16, static_cast<uint32_t>(areas.size()));
    PutU32(file, 20, areaPoolLength);
    PutU32(file, 24, static_cast<uint32_t>(types.size()));
    PutU32(file, 28, typePoolLength);
    PutU32(file, 32, static_cast<uint32_t>(items.size()));
    for (const Bytes* part : {&areaOffsets, &areaPool, &typeOffsets, &typePool, &table})
        file.insert(file.end(), part->begin(), part->end());
    return file;
}

void ResetDirectory() { ClearDirectory(); }

Bytes SavedBytes() {
    ScratchFolder scratch;
    std::u16string path = scratch.Path(u"saved.dat");
    if (!SaveDirectory(path.c_str())) return {};
    return ReadBytes(path);
}

std::u16string Decimal(uint64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string Entry(uint32_t key) {
    const RangeItem* item = LookupNumber(key);
    return item ? std::u16string(AreaName(item)) + u"|" + TypeName(item) : u"-";
}

bool CountOrFail(void* context, uint32_t) {
    auto* fault = static_cast<WriteFault*>(context);
    return ++fault->seen != fault->failing;
}

void DirectoryFixture::TearDown() {
    SetWriteFilter(nullptr, nullptr);
    FailAllocationsFrom(0);
    ResetDirectory();
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
