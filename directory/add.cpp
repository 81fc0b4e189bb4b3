// Adding entries: interning the area and type texts, then relabelling, extending or appending an item.
#include <algorithm>

#include "base/text16.h"
#include "directory/add.h"
#include "directory/add_index.h"
#include "directory/directory.h"
#include "keys/decimal.h"

namespace {

const char16_t* TextAt(const EditableStringTable& table, uint32_t index) {
    uint16_t offset;
    std::memcpy(&offset, table.offsets + index, 2);
    return table.pool + offset;
}

// Newest first: the highest index among equal strings wins.
int32_t ScanForText(const EditableStringTable& table, const char16_t* text, uint32_t length) {
    for (uint32_t i = *table.count; i-- > 0;)
        if (SameText16(TextAt(table, i), text, length)) return static_cast<int32_t>(i);
    return -1;
}

// A hash of the texts of one of the directory's two tables, to the highest
// index holding each: the answer of ScanForText without the scan. Interning
// only ever appends texts that are not there yet and inserts them here too;
// any other change of the directory moves its generation and rebuilds this.
struct TextIndex {
    static constexpr uint32_t kSlots = 2 * kMaxAreas;  // at most half full
    uint64_t builtGeneration;                          // 0 until built
    uint16_t slots[kSlots];                            // index + 1; 0 is empty

    static uint32_t Hash(const char16_t* text, uint32_t length) {
        uint32_t hash = 2166136261u;
        for (uint32_t i = 0; i < length; ++i) hash = (hash ^ text[i]) * 16777619u;
        return hash;
    }
    void Insert(const EditableStringTable& table, uint32_t index) {
        const char16_t* text = TextAt(table, index);
        const uint32_t length = Text16Length(text);
        uint32_t slot = Hash(text, length) & (kSlots - 1);
        // A later equal text (possible only in a loaded file) takes the slot.
        while (slots[slot] != 0 && !SameText16(TextAt(table, slots[slot] - 1u), text, length))
            slot = (slot + 1) & (kSlots - 1);
        slots[slot] = static_cast<uint16_t>(index + 1);
    }
    int32_t Find(const EditableStringTable& table, const char16_t* text, uint32_t length) {
        if (builtGeneration != directory.generation) {
            std::memset(slots, 0, sizeof slots);
            builtGeneration = directory.generation;
            for (uint32_t i = 0; i < *table.count; ++i) Insert(table, i);
        }
        for (uint32_t slot = Hash(text, length) & (kSlots - 1); slots[slot] != 0; slot = (slot + 1) & (kSlots - 1))
            if (SameText16(TextAt(table, slots[slot] - 1u), text, length)) return slots[slot] - 1;
        return -1;
    }
};

TextIndex areaTexts, typeTexts;

// Moves the generation after a change this file made since it was `before`.
// The text indexes, except `behind`, and the add index when
// `addIndexFollowed`, have followed it and stay current; every other cache
// sees the new generation and rebuilds.
void Changed(uint64_t before, const TextIndex* behind, bool addIndexFollowed) {
    ++directory.generation;
    for (TextIndex* index : {&areaTexts, &typeTexts})
        if (index != behind && index->builtGeneration == before) index->builtGeneration = directory.generation;
    if (addIndexFollowed) FollowGeneration(before);
}

// The index of a table; tables are only ever the directory's own two, made by
// AreaTable and TypeTable.
TextIndex* OwnTextIndex(const EditableStringTable& table) {
    return table.count == &directory.header.areaCount ? &areaTexts : &typeTexts;
}

// The index to search instead of scanning, when it can be used.
TextIndex* TextIndexFor(const EditableStringTable& table) {
    if (*table.count > kMaxAreas || !AddIndexEnabled()) return nullptr;
    return OwnTextIndex(table);
}

// The item the add changes, newest first: one that covers the key (relabel)
// or one with the same labels that ends right before it (extend); -1 for
// none. The index answers the same in near-constant time; this is what runs
// when its memory cannot be had.
int32_t ScanForAdd(uint32_t key, uint32_t areaIndex, uint32_t typeIndex) {
    for (uint32_t i = directory.header.itemCount; i-- > 0;) {
        const ItemFields fields = DecodeItem(&directory.items[i]);
        const uint32_t end = fields.start + fields.span;
        if (fields.start <= key && key <= end) return static_cast<int32_t>(i);
        if (key == end + 1 && fields.areaIndex == areaIndex && fields.typeIndex == typeIndex && fields.span < 255)
            return static_cast<int32_t>(i);
    }
    return -1;
}

}  // namespace

EditableStringTable AreaTable() {
    const DirectoryHeader block = CapacityBlock();
    return EditableStringTable{
        directory.areaOffsets, directory.areaPool,  &directory.header.areaCount, &directory.header.areaPoolLength,
        block.areaCount,       block.areaPoolLength};
}

EditableStringTable TypeTable() {
    const DirectoryHeader block = CapacityBlock();
    return EditableStringTable{
        directory.typeOffsets, directory.typePool,  &directory.header.typeCount, &directory.header.typePoolLength,
        block.typeCount,       block.typePoolLength};
}

int32_t InternString(const EditableStringTable& table, const char16_t* text) {
    const uint32_t length = Text16Length(text);
    const uint32_t count = *table.count;
    TextIndex* index = TextIndexFor(table);
    const int32_t known = index ? index->Find(table, text, length) : ScanForText(table, text, length);
    if (known >= 0) return known;
    const uint64_t before = directory.generation;
    const uint32_t poolLength = *table.poolLength;
    if (count >= table.capacity || uint64_t{poolLength} + length + 1 > table.poolCapacity) return kNoRoom;
    const uint16_t offset = static_cast<uint16_t>(poolLength);
    std::memcpy(table.offsets + count, &offset, 2);
    std::memcpy(table.pool + poolLength, text, 2 * (size_t{length} + 1));
    *table.poolLength = poolLength + length + 1;
    *table.count = count + 1;
    if (index) index->Insert(table, count);
    Changed(before, index ? nullptr : OwnTextIndex(table), true);
    return static_cast<int32_t>(count);
}

int32_t AddEntry(const char16_t* number, const char16_t* area, const char16_t* type) {
    if (!directory.image) return -1;
    const uint32_t key = ParseDecimalKey(number);
    const int32_t areaIndex = InternString(AreaTable(), area);
    const int32_t typeIndex = InternString(TypeTable(), type);
    if (areaIndex == kNoRoom || typeIndex == kNoRoom) return -1;
    if (key > kMaxKey) return -1;

    DirectoryHeader& header = directory.header;
    const DirectoryHeader block = CapacityBlock();
    if (header.areaCount >= block.areaCount || header.areaPoolLength + 16 >= block.areaPoolLength ||
        header.typeCount >= block.typeCount || header.typePoolLength + 16 >= block.typePoolLength)
        return -1;

    const uint32_t newArea = static_cast<uint32_t>(areaIndex), newType = static_cast<uint32_t>(typeIndex);
    const bool indexed = PrepareAddIndex(key);
    const uint64_t before = directory.generation;
    const int32_t found = indexed ? FindItemForAdd(key, newArea, newType) : ScanForAdd(key, newArea, newType);
    if (found >= 0) {
        RangeItem* item = &directory.items[found];
        ItemFields fields = DecodeItem(item);
        if (key <= fields.start + fields.span) {  // relabel the whole item
            fields.areaIndex = newArea;
            fields.typeIndex = newType;
            EncodeItem(item, fields);
        } else {  // extend it by this key
            ++fields.span;
            EncodeItem(item, fields);
            ++header.numberCount;
            if (indexed) NoteExtended(static_cast<uint32_t>(found), key);
        }
        Changed(before, nullptr, indexed);
        return found;
    }

    // Growing moves the image, but no index the caches here hold.
    if (header.itemCount >= block.itemCount && !GrowItemTable()) return -1;
    const uint32_t index = header.itemCount;
    EncodeItem(&directory.items[index], ItemFields{key, newArea, newType, 0});
    ++header.numberCount;
    ++header.itemCount;
    if (indexed) NoteAppended(index);
    Changed(before, nullptr, indexed);
    return static_cast<int32_t>(index);
}

void SortItems() {
    ++directory.generation;
    RangeItem* items = directory.items;
    if (!items) return;
    std::sort(items, items + directory.header.itemCount,
              [](const RangeItem& a, const RangeItem& b) { return ItemStart(&a) < ItemStart(&b); });
}
