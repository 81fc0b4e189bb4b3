// The number directory: the file format, the one directory in memory, the two
// lookups by number key and the adding of entries.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the file layout is the memory layout");

// "VNLT" read as one little-endian 32-bit value.
constexpr uint32_t kDirectoryMagic = 0x544C4E56u;
constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kItemSize = 6;
constexpr uint32_t kMaxKey = 4194303;  // 22 bits
constexpr uint32_t kMaxAreas = 1024;   // 10-bit area index
constexpr uint32_t kMaxTypes = 256;    // 8-bit type index
// Units of each name buffer of the in-file lookup, terminator included.
constexpr uint32_t kLookupNameUnits = 80;

struct DirectoryHeader {
    uint32_t magic;
    uint32_t tablesOffset;
    uint8_t versionDay;
    uint8_t versionMonth;
    uint16_t versionYear;
    uint32_t numberCount;
    uint32_t areaCount;
    uint32_t areaPoolLength;
    uint32_t typeCount;
    uint32_t typePoolLength;
    uint32_t itemCount;
};
static_assert(sizeof(DirectoryHeader) == kHeaderSize);

// Stored at a stride of 6 bytes with no alignment: always read and written
// through DecodeItem / EncodeItem, never by member access on the image.
struct RangeItem {
    uint8_t bytes[kItemSize];
};
static_assert(sizeof(RangeItem) == kItemSize && alignof(RangeItem) == 1);

struct ItemFields {
    uint32_t start;      // first key covered, 22 bits
    uint32_t areaIndex;  // 10 bits
    uint32_t typeIndex;  // 8 bits
    uint32_t span;       // further consecutive keys covered, 8 bits
};

inline ItemFields DecodeItem(const RangeItem* item) {
    uint32_t value;
    std::memcpy(&value, item->bytes, 4);
    return ItemFields{value & kMaxKey, value >> 22, item->bytes[4], item->bytes[5]};
}

inline void EncodeItem(RangeItem* item, const ItemFields& fields) {
    uint32_t value = (fields.start & kMaxKey) | (fields.areaIndex << 22);
    std::memcpy(item->bytes, &value, 4);
    item->bytes[4] = static_cast<uint8_t>(fields.typeIndex);
    item->bytes[5] = static_cast<uint8_t>(fields.span);
}

inline uint32_t ItemStart(const RangeItem* item) {
    uint32_t value;
    std::memcpy(&value, item->bytes, 4);
    return value & kMaxKey;
}

// Byte position of the item table in a file with this header; 32-bit
// arithmetic, as every reader computes it.
inline uint32_t ItemTablePosition(const DirectoryHeader& header) {
    return header.tablesOffset +
           2 * (header.areaCount + header.areaPoolLength + header.typeCount + header.typePoolLength);
}

// The offset table and pool of one string table held in memory.
struct StringTable {
    const uint16_t* offsets;
    const char16_t* pool;
    uint32_t count;
    uint32_t poolLength;
};

// String `index` of a table in memory, up to its NUL.
inline const char16_t* StringAt(const StringTable& table, uint32_t index) {
    uint16_t offset;
    std::memcpy(&offset, table.offsets + index, 2);
    return table.pool + offset;
}

// Looks `key` up in the directory file at `path` without loading it. On true
// `areaOut` (and `typeOut` when given) hold the names, each cut to
// kLookupNameUnits - 1 units and terminated; on false neither is touched.
bool LookupNumberInFile(const char16_t* path, uint32_t key, char16_t* areaOut, char16_t* typeOut);
