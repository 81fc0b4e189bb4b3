// The number directory: the file format, the one directory in memory, the two
// lookups by number key and the adding of entries.
#pragma once

#include <bit>
#include <cstddef>
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

// Bytes of a file holding exactly these arrays: the size of the directory as
// saved, which the statistics report.
inline uint32_t DirectoryFileSize(const DirectoryHeader& header) {
    return ItemTablePosition(header) + kItemSize * header.itemCount;
}

// What the statistics report of a directory: each count with the bytes its
// table takes in the file, in 32-bit arithmetic as the file's offsets are.
struct DirectoryStatistics {
    uint32_t versionYear, versionMonth, versionDay;
    uint32_t numbers, fileBytes;
    uint32_t items, itemBytes;
    uint32_t areas, areaBytes;
    uint32_t types, typeBytes;
};

inline DirectoryStatistics StatisticsOf(const DirectoryHeader& h) {
    return DirectoryStatistics{h.versionYear,
                               h.versionMonth,
                               h.versionDay,
                               h.numberCount,
                               DirectoryFileSize(h),
                               h.itemCount,
                               kItemSize * h.itemCount,
                               h.areaCount,
                               2 * (h.areaCount + h.areaPoolLength),
                               h.typeCount,
                               2 * (h.typeCount + h.typePoolLength)};
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

// The one number directory in memory. The header copy holds the counts; the
// image is one heap block whose first 36 bytes (the capacity block) place the
// arrays, and the pointers lead into it. All null and zero while empty.
struct Directory {
    DirectoryHeader header;
    uint8_t* image;
    uint16_t* areaOffsets;
    char16_t* areaPool;
    uint16_t* typeOffsets;
    char16_t* typePool;
    RangeItem* items;
    // Moved by every change of the item or string tables, and by the image
    // changing hands; a cache over them compares it with the value it was
    // built at instead of being told to forget. Never 0: that marks a cache
    // never built.
    uint64_t generation = 1;
};
extern Directory directory;

// The area and the type table of a directory in memory.
inline StringTable AreaTableOf(const Directory& d) {
    return StringTable{d.areaOffsets, d.areaPool, d.header.areaCount, d.header.areaPoolLength};
}
inline StringTable TypeTableOf(const Directory& d) {
    return StringTable{d.typeOffsets, d.typePool, d.header.typeCount, d.header.typePoolLength};
}

// Capacities of an editable image.
constexpr uint32_t kAreaCapacity = 1024;
constexpr uint32_t kAreaPoolCapacity = 32768;
constexpr uint32_t kTypeCapacity = 256;
constexpr uint32_t kTypePoolCapacity = 4096;
constexpr uint32_t kSpareItems = 51200;
constexpr uint32_t kGrowthItems = 1024;
// Byte offset of the item table in an editable image.
constexpr uint32_t kEditableItemsAt =
    kHeaderSize + 2 * (kAreaCapacity + kAreaPoolCapacity + kTypeCapacity + kTypePoolCapacity);

// Why a directory file did not open: each check of the file has its own code.
enum DirectoryResult : int {
    kDirectoryOk = 0,
    kDirectoryMissing,        // nothing at the path
    kDirectoryUnreadable,     // there, but it cannot be opened or read (a folder, no permission, an I/O error)
    kDirectoryTooLarge,       // 4 GiB or more
    kDirectoryOutOfMemory,    // no block for the image
    kDirectoryNotDirectory,   // shorter than a header, or no "VNLT"
    kDirectoryBadTableStart,  // the tables begin inside the header or at an odd byte
    kDirectoryTooManyNames,   // more areas or types than an item's index can name
    kDirectoryCut,            // the tables reach past the end of the file
    kDirectoryBadAreaNames,   // the area table's offsets or terminators are out of place
    kDirectoryBadTypeNames,   // the same for the type table
    kDirectoryBadItems,       // an item names an area or type the tables do not hold
};
constexpr int kDirectoryResults = kDirectoryBadItems + 1;

// Opens a directory file into a directory of its own, read-only: its image
// is one heap block that `opened` owns until CloseDirectory. The file is
// checked as LoadDirectory checks it. Anything but kDirectoryOk leaves
// `opened` empty. Any number of threads may read one opened directory.
// `systemError`, when given, receives the system's reason of a failed open
// or read, 0 for any other result.
DirectoryResult OpenDirectory(const char16_t* path, Directory* opened, int* systemError = nullptr);
// The same over a copy of `length` bytes in memory.
DirectoryResult OpenDirectoryBytes(const void* bytes, size_t length, Directory* opened);
// Releases what OpenDirectory gave; `opened` is empty afterwards.
void CloseDirectory(Directory* opened);

// Points the directory at `image`, placing the arrays by its capacity block.
void ComputeTablePointers(uint8_t* image);
// Loads the directory file; false, with the directory as it was, for a file
// that is missing, unreadable, foreign or damaged.
bool LoadDirectory(const char16_t* path);
// The same load, saying why it failed.
DirectoryResult LoadDirectoryWithResult(const char16_t* path, int* systemError = nullptr);
// Releases the image: the empty directory of program start.
void ClearDirectory();
// Gives the directory an editable image with room for new strings and items.
bool MakeDirectoryEditable();
// Adds room for kGrowthItems more items to an editable image.
bool GrowItemTable();
// Writes the directory to `path`; the old file stays whole unless every byte
// of the new one was written.
bool SaveDirectory(const char16_t* path);

// The capacity block of the image (its counts for a loaded image).
DirectoryHeader CapacityBlock();
bool IsDirectoryEditable();

// The names of an item of the directory in memory.
const char16_t* AreaName(const RangeItem* item);
const char16_t* TypeName(const RangeItem* item);
