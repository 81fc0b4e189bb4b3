#include "directory/directory.h"

const RangeItem* LookupNumber(uint32_t key) {
    const uint32_t count = directory.header.itemCount;
    if (key == 0 || count == 0) return nullptr;
    const RangeItem* items = directory.items;
    // Lower bound on the key's low 22 bits; the range test below uses the
    // whole key, so keys beyond 22 bits are never found.
    const uint32_t target = key & kMaxKey;
    uint32_t first = 0, remaining = count;
    while (remaining > 0) {
        const uint32_t half = remaining / 2;
        if (ItemStart(&items[first + half]) < target) {
            first += half + 1;
            remaining -= half + 1;
        } else {
            remaining = half;
        }
    }
    const RangeItem* candidate = &items[first == count ? count - 1 : first];
    if (first != count && first != 0 && key < ItemStart(candidate)) candidate = &items[first - 1];
    const ItemFields fields = DecodeItem(candidate);
    return fields.start <= key && key <= fields.start + fields.span ? candidate : nullptr;
}
