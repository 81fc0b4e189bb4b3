// The in-file lookup: answers one key with a few positioned reads.
#include "directory/lookup_file.h"
#include "directory/directory.h"
#include "platform/platform.h"

namespace {

struct OpenFile {
    FileHandle handle;
    uint64_t size;
};

// Reads exactly `length` bytes at `position`; a short read or a position the
// file does not reach (even for an empty name) is a failure, so nothing is
// taken from outside the file.
bool ReadAt(const OpenFile& file, uint32_t position, void* buffer, uint32_t length) {
    if (uint64_t{position} + length > file.size) return false;
    uint32_t got = 0;
    return SeekFileTo(file.handle, position) && ReadFileBytes(file.handle, buffer, length, &got) && got == length;
}

// Reads the extent of string `index` of a table whose offset table starts at
// `offsetsAt` and whose pool starts at `poolAt`, into `name` (kLookupNameUnits
// units), cut and terminated so that it always fits.
bool ReadName(const OpenFile& file, uint32_t offsetsAt, uint32_t poolAt, uint32_t index, uint32_t count,
              uint32_t poolLength, char16_t* name) {
    uint16_t pair[2];
    if (!ReadAt(file, offsetsAt + 2 * index, pair, 4)) return false;
    uint32_t begin = pair[0];
    // The last string ends at the pool's length; its second unit read is the
    // pool's first unit and means nothing.
    uint32_t end = index + 1 == count ? poolLength : pair[1];
    uint32_t units = end - begin;
    if (units > kLookupNameUnits) units = kLookupNameUnits - 1;
    if (!ReadAt(file, poolAt + 2 * begin, name, 2 * units)) return false;
    // The extent normally ends with its NUL; a damaged or overlong one does not.
    uint32_t length = 0;
    while (length < units && name[length] != 0) ++length;
    if (length == kLookupNameUnits) length = kLookupNameUnits - 1;
    name[length] = 0;
    return true;
}

bool Lookup(FileHandle handle, uint32_t key, char16_t* area, char16_t* type) {
    OpenFile file{handle, 0};
    if (!GetFileLength(handle, &file.size)) return false;
    DirectoryHeader header;
    uint32_t got = 0;
    if (!ReadFileBytes(handle, &header, kHeaderSize, &got) || got != kHeaderSize) return false;
    if (header.magic != kDirectoryMagic) return false;

    const uint32_t itemsAt = ItemTablePosition(header);
    RangeItem item;
    uint32_t base = 0, count = header.itemCount;
    while (count != 0) {
        uint32_t half = count / 2;
        uint32_t probe = base + half;
        if (!ReadAt(file, itemsAt + kItemSize * probe, &item, kItemSize)) return false;
        if (key >= ItemStart(&item)) {
            base = probe + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    if (base == 0) return false;
    if (key < ItemStart(&item) && !ReadAt(file, itemsAt + kItemSize * (base - 1), &item, kItemSize)) return false;

    const ItemFields fields = DecodeItem(&item);
    if (key < fields.start || key > fields.start + fields.span) return false;

    const uint32_t areaPoolAt = header.tablesOffset + 2 * header.areaCount;
    if (!ReadName(file, header.tablesOffset, areaPoolAt, fields.areaIndex, header.areaCount, header.areaPoolLength,
                  area))
        return false;
    if (type) {
        const uint32_t typeOffsetsAt = areaPoolAt + 2 * header.areaPoolLength;
        const uint32_t typePoolAt = typeOffsetsAt + 2 * header.typeCount;
        if (!ReadName(file, typeOffsetsAt, typePoolAt, fields.typeIndex, header.typeCount, header.typePoolLength, type))
            return false;
    }
    return true;
}

// Copies a terminated name, terminator included, and nothing after it.
void CopyName(char16_t* out, const char16_t* name) {
    uint32_t i = 0;
    while ((out[i] = name[i]) != 0) ++i;
}

}  // namespace

bool LookupNumberInFile(const char16_t* path, uint32_t key, char16_t* areaOut, char16_t* typeOut) {
    if (key == 0) return false;
    FileHandle file = OpenFileForRead(path);
    if (file == kNoFile) return false;
    // Read into our own buffers first: the caller's stay untouched unless the
    // whole answer was read.
    char16_t area[kLookupNameUnits], type[kLookupNameUnits];
    bool found = Lookup(file, key, area, typeOut ? type : nullptr);
    CloseFileHandle(file);
    if (!found) return false;
    CopyName(areaOut, area);
    if (typeOut) CopyName(typeOut, type);
    return true;
}
