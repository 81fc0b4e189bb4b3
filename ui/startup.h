// Start-up helpers that need no window system, kept apart so that they can be
// tested on any host.
#pragma once

#include <cstdint>

constexpr uint32_t kPathUnits = 260;  // the platform's MAX_PATH

// Replaces the file name of `modulePath` (everything after its last
// backslash) with "Varnolt.dat" in `out` (kPathUnits units). False, with
// `out` empty, when the path is empty, has no backslash, or the result would
// not fit: the program then behaves as if there were no directory file.
bool BuildDirectoryPath(const char16_t* modulePath, char16_t* out);
