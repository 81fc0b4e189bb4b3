// The add index: which item covers each key, and which items end right before one.
#include "directory/add_index.h"

#include "base/heap.h"
#include "directory/directory.h"

// Two parts, together exact for any table, sorted or not, overlapping or not:
// - coverers: for each key k, 1 + the highest index of an item covering it
//   (0: none), in pages of 4096 keys made only where keys are covered, so a
//   small directory costs little and the national one about 8 MiB;
// - an open-addressing set of the items that can still be extended (span
//   below 255), hashed by their end + 1, so the items ending right before a
//   key are found without a scan.
// The scan's answer is the higher of the two candidates: an item is tested
// for covering before extending, but no item can do both for one key.

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFF;
constexpr uint32_t kRemoved = 0xFFFFFFFE;
constexpr uint32_t kPageShift = 12;
constexpr uint32_t kPageKeys = 1u << kPageShift;
constexpr uint32_t kPages = (kMaxKey >> kPageShift) + 1;

bool enabled = true;
uint64_t builtGeneration = 0;  // 0 while there is no index
uint32_t* pages[kPages] = {};
uint32_t pageCount = 0;
uint32_t* ends = nullptr;  // hash slots holding item indices
uint32_t endSlots = 0;     // a power of two
uint32_t endsUsed = 0;     // live and removed slots

// The page holding key k, made (zeroed) when missing; null when its memory
// cannot be had.
uint32_t* PageFor(uint32_t key) {
    uint32_t*& page = pages[key >> kPageShift];
    if (!page) {
        page = static_cast<uint32_t*>(AllocateBlock(sizeof(uint32_t) * kPageKeys));
        if (!page) return nullptr;
        std::memset(page, 0, sizeof(uint32_t) * kPageKeys);
        ++pageCount;
    }
    return page;
}

uint32_t& Coverer(uint32_t key) { return pages[key >> kPageShift][key & (kPageKeys - 1)]; }

uint32_t EndPlusOne(uint32_t index) {
    const ItemFields fields = DecodeItem(&directory.items[index]);
    return fields.start + fields.span + 1;
}

uint32_t Slot(uint32_t key) { return (key * 2654435761u) & (endSlots - 1); }

void InsertEnd(uint32_t index) {
    uint32_t slot = Slot(EndPlusOne(index));
    while (ends[slot] != kEmpty && ends[slot] != kRemoved) slot = (slot + 1) & (endSlots - 1);
    if (ends[slot] == kEmpty) ++endsUsed;
    ends[slot] = index;
}

void RemoveEnd(uint32_t index, uint32_t endPlusOne) {
    for (uint32_t slot = Slot(endPlusOne); ends[slot] != kEmpty; slot = (slot + 1) & (endSlots - 1))
        if (ends[slot] == index) {
            ends[slot] = kRemoved;
            return;
        }
}

bool Extendable(uint32_t index) { return DecodeItem(&directory.items[index]).span < 255; }

// Sizes the set for the table at its capacity, so appends never outgrow it
// between rebuilds by much; removed slots are reclaimed by a rebuild.
bool BuildEnds() {
    const uint32_t items = directory.header.itemCount;
    uint32_t slots = 1024;
    while (slots < 2 * uint64_t{items} + 2048) slots *= 2;
    ReleaseBlock(ends);
    ends = static_cast<uint32_t*>(AllocateBlock(sizeof(uint32_t) * size_t{slots}));
    if (!ends) return false;
    endSlots = slots;
    endsUsed = 0;
    for (uint32_t i = 0; i < slots; ++i) ends[i] = kEmpty;
    for (uint32_t i = 0; i < items; ++i)
        if (Extendable(i)) InsertEnd(i);
    return true;
}

void Release() {
    for (uint32_t*& page : pages) {
        ReleaseBlock(page);
        page = nullptr;
    }
    pageCount = 0;
    ReleaseBlock(ends);
    ends = nullptr;
    endSlots = endsUsed = 0;
    builtGeneration = 0;
}

}  // namespace

bool PrepareAddIndex(uint32_t key) {
    if (!enabled) return false;
    if (builtGeneration == directory.generation) {
        // Keep the set at most half full, counting removed slots; the page of
        // this key must exist before the add writes to it.
        if ((2 * uint64_t{endsUsed} + 2 > endSlots && !BuildEnds()) || !PageFor(key)) {
            Release();
            return false;
        }
        return true;
    }
    Release();
    const uint32_t items = directory.header.itemCount;
    for (uint32_t i = 0; i < items; ++i) {
        const ItemFields fields = DecodeItem(&directory.items[i]);
        const uint32_t last = fields.start + fields.span < kMaxKey ? fields.start + fields.span : kMaxKey;
        for (uint32_t k = fields.start; k <= last; ++k) {
            if ((k & (kPageKeys - 1)) == 0 || k == fields.start) {
                if (!PageFor(k)) {
                    Release();
                    return false;
                }
            }
            Coverer(k) = i + 1;
        }
    }
    if (!PageFor(key) || !BuildEnds()) {
        Release();
        return false;
    }
    builtGeneration = directory.generation;
    return true;
}

int32_t FindItemForAdd(uint32_t key, uint32_t areaIndex, uint32_t typeIndex) {
    int64_t best = static_cast<int64_t>(Coverer(key)) - 1;
    for (uint32_t slot = Slot(key); ends[slot] != kEmpty; slot = (slot + 1) & (endSlots - 1)) {
        const uint32_t index = ends[slot];
        if (index == kRemoved || index <= best) continue;
        const ItemFields fields = DecodeItem(&directory.items[index]);
        if (fields.start + fields.span + 1 == key && fields.areaIndex == areaIndex && fields.typeIndex == typeIndex &&
            fields.span < 255)
            best = index;
    }
    return static_cast<int32_t>(best);
}

void NoteExtended(uint32_t index, uint32_t oldEndPlusOne) {
    // The item now covers its old end + 1, and no higher item covers that key
    // (the scan would have met it first).
    Coverer(oldEndPlusOne) = index + 1;
    RemoveEnd(index, oldEndPlusOne);
    if (Extendable(index)) InsertEnd(index);
}

void NoteAppended(uint32_t index) {
    Coverer(ItemStart(&directory.items[index])) = index + 1;
    InsertEnd(index);
}

void FollowGeneration(uint64_t before) {
    if (builtGeneration == before) builtGeneration = directory.generation;
}

uint64_t AddIndexBytes() { return sizeof(uint32_t) * (uint64_t{kPageKeys} * pageCount + endSlots); }

void SetAddIndexEnabled(bool on) {
    enabled = on;
    Release();
}

bool AddIndexEnabled() { return enabled; }
