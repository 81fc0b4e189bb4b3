// The lookup in memory: the item covering a key, through a first-level index.
#pragma once

#include <cstdint>

#include "directory/directory.h"

// The item covering `key` in the directory in memory, or null. Builds the
// lookup index of the directory on the first call after a change, so it is
// not for use from several threads at once.
const RangeItem* LookupNumber(uint32_t key);
// Entries of a lookup index: one per run of 256 keys, and one more.
constexpr uint32_t kLookupIndexEntries = (kMaxKey >> 8) + 2;
// Fills `index` (kLookupIndexEntries entries) for the item table; false, with
// `index` untouched, when the table is out of order and must be searched whole.
bool BuildLookupIndex(const RangeItem* items, uint32_t count, uint32_t* index);
// The item of the table covering `key`, or null; `index` as BuildLookupIndex
// filled it, or null for a table out of order. Reads only its arguments, so
// any number of threads may look up in one table at once.
const RangeItem* LookupNumberIn(const RangeItem* items, uint32_t count, const uint32_t* index, uint32_t key);
