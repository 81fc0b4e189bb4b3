// Adding entries: interning texts, extending or relabelling items, the sort.
#pragma once

#include <cstdint>

#include "directory/directory.h"

// A string table as the add sees it: its arrays, where its counts live, and
// its capacities.
struct EditableStringTable {
    uint16_t* offsets;
    char16_t* pool;
    uint32_t* count;
    uint32_t* poolLength;
    uint32_t capacity;
    uint32_t poolCapacity;
};
constexpr int32_t kNoRoom = -1;
EditableStringTable AreaTable();
EditableStringTable TypeTable();
// Index of `text` in the table, stored first when it is not there yet;
// kNoRoom when it would not fit.
int32_t InternString(const EditableStringTable& table, const char16_t* text);
// Adds one entry: the number text is a decimal key. Returns the index of the
// item that now holds the key, or -1.
int32_t AddEntry(const char16_t* number, const char16_t* area, const char16_t* type);
// Restores the item table's order by start after adds.
void SortItems();
