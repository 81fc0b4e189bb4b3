// Whole files read into one heap block, over the platform's file calls: the
// directory's load and vnlt's input read them so.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum WholeFileResult {
    kWholeFileRead,
    kWholeFileTooLarge,    // 4 GiB less 16 bytes or more: beyond a block's 32-bit length
    kWholeFileNoMemory,    // no block could be had
    kWholeFileUnreadable,  // its length or a read failed
};

// Reads the open `file` whole, or its first `limit` bytes, into a new heap
// block 16 bytes longer, with two zero bytes after what was read; `*got`
// receives the count. There is a block unless the file is too large or none
// could be had; a length or a read that fails leaves it empty and says so.
// The caller releases the block with ReleaseBlock.
WholeFileResult ReadOpenFile(FileHandle file, uint32_t limit, uint8_t** block, uint32_t* got);

// Opens and reads a whole file the same way. `count`, when given, limits the
// bytes asked for and receives the bytes read. Null when the file cannot be
// opened or the block cannot be had.
uint8_t* ReadWholeFile(const char16_t* path, uint32_t* count);
