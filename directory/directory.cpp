// The directory in memory: reading, checking and loading the file, the editable image, the save.
#include "directory/directory.h"

#include <algorithm>
#include <string>

#include "base/heap.h"
#include "platform/platform.h"
#include "platform/whole_file.h"

Directory directory = {};

namespace {

DirectoryHeader HeaderAt(const uint8_t* bytes) {
    DirectoryHeader header;
    std::memcpy(&header, bytes, kHeaderSize);
    return header;
}

uint16_t OffsetAt(const uint8_t* offsets, uint32_t index) {
    uint16_t value;
    std::memcpy(&value, offsets + 2 * index, 2);
    return value;
}

// Offsets rise strictly inside the pool and every string ends with its NUL
// within its extent, so readers that go up to the NUL stay inside the table.
bool StringTableIsSound(const uint8_t* offsets, const uint8_t* pool, uint32_t count, uint32_t poolLength) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t begin = OffsetAt(offsets, i);
        uint32_t end = i + 1 == count ? poolLength : OffsetAt(offsets, i + 1);
        if (begin >= end || end > poolLength) return false;
        bool terminated = false;
        for (uint32_t unit = begin; unit < end && !terminated; ++unit)
            terminated = pool[2 * unit] == 0 && pool[2 * unit + 1] == 0;
        if (!terminated) return false;
    }
    return true;
}

// Everything a reader of the image relies on. The file's own header places
// the arrays; trailing bytes after the item table are allowed.
DirectoryResult CheckDirectoryFile(const uint8_t* bytes, uint32_t length) {
    if (length < kHeaderSize) return kDirectoryNotDirectory;
    const DirectoryHeader header = HeaderAt(bytes);
    if (header.magic != kDirectoryMagic) return kDirectoryNotDirectory;
    // An odd offset would leave every UTF-16 array misaligned in memory.
    if (header.tablesOffset < kHeaderSize || header.tablesOffset % 2 != 0) return kDirectoryBadTableStart;
    if (header.areaCount > kMaxAreas || header.typeCount > kMaxTypes) return kDirectoryTooManyNames;
    const uint64_t areaPoolAt = uint64_t{header.tablesOffset} + 2ull * header.areaCount;
    const uint64_t typeOffsetsAt = areaPoolAt + 2ull * header.areaPoolLength;
    const uint64_t typePoolAt = typeOffsetsAt + 2ull * header.typeCount;
    const uint64_t itemsAt = typePoolAt + 2ull * header.typePoolLength;
    if (itemsAt + uint64_t{kItemSize} * header.itemCount > length) return kDirectoryCut;
    if (!StringTableIsSound(bytes + header.tablesOffset, bytes + areaPoolAt, header.areaCount, header.areaPoolLength))
        return kDirectoryBadAreaNames;
    if (!StringTableIsSound(bytes + typeOffsetsAt, bytes + typePoolAt, header.typeCount, header.typePoolLength))
        return kDirectoryBadTypeNames;
    // The highest area and type indexes, without a branch per item; four
    // lanes, so the maxima do not wait on one another.
    const uint8_t* item = bytes + itemsAt;
    uint32_t area[4] = {}, type[4] = {};
    uint32_t i = 0;
    for (; i + 4 <= header.itemCount; i += 4, item += 4 * kItemSize) {
        for (int lane = 0; lane < 4; ++lane) {
            uint32_t value;
            std::memcpy(&value, item + lane * kItemSize, 4);
            area[lane] = std::max(area[lane], value >> 22);
            type[lane] = std::max(type[lane], uint32_t{item[lane * kItemSize + 4]});
        }
    }
    for (; i < header.itemCount; ++i, item += kItemSize) {
        uint32_t value;
        std::memcpy(&value, item, 4);
        area[0] = std::max(area[0], value >> 22);
        type[0] = std::max(type[0], uint32_t{item[4]});
    }
    const uint32_t highestArea = std::max(std::max(area[0], area[1]), std::max(area[2], area[3]));
    const uint32_t highestType = std::max(std::max(type[0], type[1]), std::max(type[2], type[3]));
    const bool sound = header.itemCount == 0 || (highestArea < header.areaCount && highestType < header.typeCount);
    return sound ? kDirectoryOk : kDirectoryBadItems;
}

// Points `d` at `image`, placing the arrays by its capacity block.
void PlaceTables(Directory* d, uint8_t* image) {
    const DirectoryHeader block = HeaderAt(image);
    d->image = image;
    d->areaOffsets = reinterpret_cast<uint16_t*>(image + block.tablesOffset);
    d->areaPool = reinterpret_cast<char16_t*>(d->areaOffsets + block.areaCount);
    d->typeOffsets = reinterpret_cast<uint16_t*>(d->areaPool + block.areaPoolLength);
    d->typePool = reinterpret_cast<char16_t*>(d->typeOffsets + block.typeCount);
    d->items = reinterpret_cast<RangeItem*>(d->typePool + block.typePoolLength);
}

DirectoryResult ResultOfRead(WholeFileResult read) {
    switch (read) {
        case kWholeFileRead:
            return kDirectoryOk;
        case kWholeFileTooLarge:  // beyond the format's 32-bit offsets too
            return kDirectoryTooLarge;
        case kWholeFileNoMemory:
            return kDirectoryOutOfMemory;
        case kWholeFileUnreadable:
            break;
    }
    return kDirectoryUnreadable;
}

// Checks the `length` bytes in `block` (followed by two zero bytes) and
// places the tables of a sound one; `block` is released otherwise.
DirectoryResult TakeImage(uint8_t* block, uint32_t length, Directory* opened) {
    const DirectoryResult result = CheckDirectoryFile(block, length);
    if (result != kDirectoryOk) {
        ReleaseBlock(block);
        return result;
    }
    *opened = Directory{};
    opened->header = HeaderAt(block);
    PlaceTables(opened, block);
    return kDirectoryOk;
}

bool CountsFitEditable(const DirectoryHeader& header) {
    return header.areaCount <= kAreaCapacity && header.areaPoolLength <= kAreaPoolCapacity &&
           header.typeCount <= kTypeCapacity && header.typePoolLength <= kTypePoolCapacity &&
           header.itemCount <= (UINT32_MAX - kEditableItemsAt) / kItemSize - kSpareItems;
}

// Writes the directory to an open file: the header copy, then the arrays at
// their used lengths, directly after the 36-byte header.
bool WriteDirectory(FileHandle file) {
    DirectoryHeader header = directory.header;
    header.tablesOffset = kHeaderSize;
    return WriteFileBytes(file, &header, kHeaderSize) &&
           WriteFileBytes(file, directory.areaOffsets, 2 * header.areaCount) &&
           WriteFileBytes(file, directory.areaPool, 2 * header.areaPoolLength) &&
           WriteFileBytes(file, directory.typeOffsets, 2 * header.typeCount) &&
           WriteFileBytes(file, directory.typePool, 2 * header.typePoolLength) &&
           WriteFileBytes(file, directory.items, kItemSize * header.itemCount);
}

}  // namespace

void ComputeTablePointers(uint8_t* image) { PlaceTables(&directory, image); }

DirectoryResult OpenDirectory(const char16_t* path, Directory* opened, int* systemError) {
    *opened = Directory{};
    int error = 0;
    if (!systemError) systemError = &error;
    bool missing;
    FileHandle file = OpenRegularFileForRead(path, systemError, &missing);
    if (file == kNoFile) return missing ? kDirectoryMissing : kDirectoryUnreadable;
    uint8_t* block;
    uint32_t got;
    const DirectoryResult result = ResultOfRead(ReadOpenFile(file, UINT32_MAX, &block, &got));
    if (result == kDirectoryUnreadable) *systemError = LastSystemError();
    CloseFileHandle(file);
    if (result != kDirectoryOk) {
        ReleaseBlock(block);
        return result;
    }
    return TakeImage(block, got, opened);
}

DirectoryResult OpenDirectoryBytes(const void* bytes, size_t length, Directory* opened) {
    *opened = Directory{};
    if (length > UINT32_MAX - 16) return kDirectoryTooLarge;
    uint8_t* block = static_cast<uint8_t*>(AllocateBlock(length + 16));
    if (!block) return kDirectoryOutOfMemory;
    if (length) std::memcpy(block, bytes, length);
    block[length] = 0;
    block[length + 1] = 0;
    return TakeImage(block, static_cast<uint32_t>(length), opened);
}

void CloseDirectory(Directory* opened) {
    ReleaseBlock(opened->image);
    *opened = Directory{};
}

DirectoryResult LoadDirectoryWithResult(const char16_t* path, int* systemError) {
    Directory opened;
    const DirectoryResult result = OpenDirectory(path, &opened, systemError);
    if (result != kDirectoryOk) return result;
    ReleaseBlock(directory.image);
    const uint64_t generation = directory.generation;
    directory = opened;
    directory.generation = generation + 1;
    return kDirectoryOk;
}

bool LoadDirectory(const char16_t* path) { return LoadDirectoryWithResult(path) == kDirectoryOk; }

void ClearDirectory() {
    ReleaseBlock(directory.image);
    const uint64_t generation = directory.generation;
    directory = Directory{};
    directory.generation = generation + 1;
}

DirectoryHeader CapacityBlock() { return HeaderAt(directory.image); }

bool IsDirectoryEditable() {
    if (!directory.image) return false;
    const DirectoryHeader block = CapacityBlock();
    return block.areaCount == kAreaCapacity && block.typeCount == kTypeCapacity;
}

bool MakeDirectoryEditable() {
    if (IsDirectoryEditable()) return true;
    DirectoryHeader& header = directory.header;
    // Counts beyond the fixed capacities would be copied past their arrays.
    if (directory.image && !CountsFitEditable(header)) return false;
    const DirectoryHeader block{0,
                                kHeaderSize,
                                0,
                                0,
                                0,
                                0,
                                kAreaCapacity,
                                kAreaPoolCapacity,
                                kTypeCapacity,
                                kTypePoolCapacity,
                                header.itemCount + kSpareItems};
    uint8_t* image =
        static_cast<uint8_t*>(AllocateBlock(size_t{kEditableItemsAt} + size_t{kItemSize} * block.itemCount));
    if (!image) return false;
    std::memcpy(image, &block, kHeaderSize);
    ++directory.generation;
    if (directory.image) {
        const Directory old = directory;
        ComputeTablePointers(image);
        std::memcpy(directory.areaOffsets, old.areaOffsets, 2 * header.areaCount);
        std::memcpy(directory.areaPool, old.areaPool, 2 * header.areaPoolLength);
        std::memcpy(directory.typeOffsets, old.typeOffsets, 2 * header.typeCount);
        std::memcpy(directory.typePool, old.typePool, 2 * header.typePoolLength);
        std::memcpy(directory.items, old.items, kItemSize * header.itemCount);
        ReleaseBlock(old.image);
    } else {
        const LocalDate today = GetLocalDateToday();
        header = DirectoryHeader{kDirectoryMagic, kHeaderSize, today.day, today.month, today.year, 0, 0, 0, 0, 0, 0};
        ComputeTablePointers(image);
    }
    return true;
}

bool GrowItemTable() {
    DirectoryHeader block = CapacityBlock();
    const uint64_t size = uint64_t{block.tablesOffset} +
                          2ull * (block.areaCount + block.areaPoolLength + block.typeCount + block.typePoolLength) +
                          uint64_t{kItemSize} * block.itemCount + kItemSize * kGrowthItems;
    if (size > SIZE_MAX || block.itemCount > UINT32_MAX - kGrowthItems) return false;
    uint8_t* image = static_cast<uint8_t*>(ResizeBlock(directory.image, static_cast<size_t>(size)));
    if (!image) return false;
    block.itemCount += kGrowthItems;
    std::memcpy(image, &block, kHeaderSize);
    ComputeTablePointers(image);
    ++directory.generation;
    return true;
}

bool SaveDirectory(const char16_t* path) {
    if (directory.header.itemCount == 0) return false;
    // The new file is written beside the old one and replaces it only once
    // every byte of it is on the disk. Its name is the target's with the last
    // unit changed: a target that fits the system's path limit leaves room
    // for the temporary file too.
    std::u16string temporary(path);
    if (temporary.empty()) return false;
    temporary.back() = temporary.back() == u'~' ? u'#' : u'~';
    FileHandle file = CreateFileForWrite(temporary.c_str());
    if (file == kNoFile) return false;
    bool written = WriteDirectory(file) && FlushFileBytes(file);
    CloseFileHandle(file);
    if (written && ReplaceFileWith(temporary.c_str(), path)) return true;
    RemoveFileAt(temporary.c_str());
    return false;
}

const char16_t* AreaName(const RangeItem* item) { return StringAt(AreaTableOf(directory), DecodeItem(item).areaIndex); }

const char16_t* TypeName(const RangeItem* item) { return StringAt(TypeTableOf(directory), DecodeItem(item).typeIndex); }
