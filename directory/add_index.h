// Index over the item table that lets an add find, in near-constant time,
// the item the newest-first scan would find.
#pragma once

#include <cstdint>

// Brings the index up to date with the item table, ready for an add of
// `key`; false when its memory cannot be had or it is switched off (the add
// then scans). A change of directory.generation since it was last brought up
// to date rebuilds it.
bool PrepareAddIndex(uint32_t key);
// The index of the item the scan would meet first for this key and labels,
// or -1 when the key needs a new item.
int32_t FindItemForAdd(uint32_t key, uint32_t areaIndex, uint32_t typeIndex);
// Keep the index in step with an add's change to item `index`.
void NoteExtended(uint32_t index, uint32_t oldEndPlusOne);
void NoteAppended(uint32_t index);
// After a change the index has followed (or that leaves the item table
// alone) moved the generation from `before`: an index current at `before`
// stays current.
void FollowGeneration(uint64_t before);
// Bytes the index holds now.
uint64_t AddIndexBytes();

// Benchmark seam: with the index switched off every add scans, as the add
// was first built.
void SetAddIndexEnabled(bool enabled);
bool AddIndexEnabled();
