// The in-memory lookup: a first-level index over the sorted item table, then a
// short binary search.
#include "directory/lookup_memory.h"
#include "directory/directory.h"

namespace {

// First-level index: for each run of 256 keys, the lower-bound position of
// its first key, so a lookup searches a handful of items in cache instead of
// the whole table. Built for the one directory on the first lookup after its
// generation moved, or explicitly for a table that is then shared between
// threads; a table out of order (a foreign file) is searched whole, as the
// plain halving does, so the candidate is always the same.
constexpr uint32_t kBucketShift = 8;
constexpr uint32_t kBuckets = (kMaxKey >> kBucketShift) + 1;
static_assert(kLookupIndexEntries == kBuckets + 1);

// The index of the one directory in memory.
uint32_t bucketStart[kBuckets + 1];
bool tableSorted = false;
uint64_t builtGeneration = 0;  // 0 until built

// Lower bound in [first, first + count): the position of the first item whose
// start is not below `target`.
uint32_t LowerBound(const RangeItem* items, uint32_t first, uint32_t count, uint32_t target) {
    if (count == 0) return first;
    const RangeItem* base = items + first;
    while (count > 1) {
        const uint32_t half = count / 2;
        base = ItemStart(base + half) < target ? base + half : base;
        count -= half;
    }
    return static_cast<uint32_t>(base - items) + (ItemStart(base) < target ? 1 : 0);
}

}  // namespace

bool BuildLookupIndex(const RangeItem* items, uint32_t count, uint32_t* index) {
    for (uint32_t i = 1; i < count; ++i)
        if (ItemStart(&items[i - 1]) > ItemStart(&items[i])) return false;
    uint32_t position = 0;
    for (uint32_t bucket = 0; bucket <= kBuckets; ++bucket) {
        const uint32_t first = bucket << kBucketShift;
        while (position < count && ItemStart(&items[position]) < first) ++position;
        index[bucket] = position;
    }
    return true;
}

const RangeItem* LookupNumber(uint32_t key) {
    const uint32_t count = directory.header.itemCount;
    if (key == 0 || count == 0) return nullptr;
    const RangeItem* items = directory.items;
    if (builtGeneration != directory.generation) {
        tableSorted = BuildLookupIndex(items, count, bucketStart);
        builtGeneration = directory.generation;
    }
    return LookupNumberIn(items, count, tableSorted ? bucketStart : nullptr, key);
}

const RangeItem* LookupNumberIn(const RangeItem* items, uint32_t count, const uint32_t* index, uint32_t key) {
    if (key == 0 || count == 0) return nullptr;
    // Lower bound on the key's low 22 bits; the range test below uses the
    // whole key, so keys beyond 22 bits are never found.
    const uint32_t target = key & kMaxKey;
    uint32_t first;
    if (index) {
        const uint32_t bucket = target >> kBucketShift;
        first = LowerBound(items, index[bucket], index[bucket + 1] - index[bucket], target);
    } else {
        first = 0;
        for (uint32_t remaining = count; remaining > 0;) {
            const uint32_t half = remaining / 2;
            if (ItemStart(&items[first + half]) < target) {
                first += half + 1;
                remaining -= half + 1;
            } else {
                remaining = half;
            }
        }
    }
    const RangeItem* candidate = &items[first == count ? count - 1 : first];
    if (first != count && first != 0 && key < ItemStart(candidate)) candidate = &items[first - 1];
    const ItemFields fields = DecodeItem(candidate);
    return fields.start <= key && key <= fields.start + fields.span ? candidate : nullptr;
}
