// Index over the item table that lets an add find, in near-constant time,
// the item the newest-first scan would find.
#pragma once

#include <cstdint>

// Forgets the index; the next add rebuilds it. Called wherever items move
// or the image changes hands (load, make editable, sort).
void InvalidateAddIndex();
// Brings the index up to date with the item table, ready for an add of
// `key`; false when its memory cannot be had or it is switched off (the add
// then scans).
bool PrepareAddIndex(uint32_t key);
// The index of the item the scan would meet first for this key and labels,
// or -1 when the key needs a new item.
int32_t FindItemForAdd(uint32_t key, uint32_t areaIndex, uint32_t typeIndex);
// Forgets the lookup's first-level index (whenever the item table changes).
void InvalidateLookupIndex();
// Forgets the hash of the interned texts (with the index, when the image
// changes hands).
void ForgetInternedTexts();
// Keep the index in step with an add's change to item `index`.
void NoteExtended(uint32_t index, uint32_t oldEndPlusOne);
void NoteAppended(uint32_t index);
// Bytes the index holds now.
uint64_t AddIndexBytes();

// Benchmark seam: with the index switched off every add scans, as the add
// was first built.
void SetAddIndexEnabled(bool enabled);
bool AddIndexEnabled();
