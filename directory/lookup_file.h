// The lookup in the directory file: a few positioned reads, no load.
#pragma once

#include <cstdint>

#include "directory/directory.h"

// Looks `key` up in the directory file at `path` without loading it. On true
// `areaOut` (and `typeOut` when given) hold the names, each cut to
// kLookupNameUnits - 1 units and terminated; on false neither is touched.
bool LookupNumberInFile(const char16_t* path, uint32_t key, char16_t* areaOut, char16_t* typeOut);
