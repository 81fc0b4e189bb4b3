// Whole files into one heap block, over the platform's file calls.
#include "platform/whole_file.h"

#include <algorithm>

#include "base/heap.h"

WholeFileResult ReadOpenFile(FileHandle file, uint32_t limit, uint8_t** block, uint32_t* got) {
    *block = nullptr;
    *got = 0;
    uint64_t size = 0;
    const bool sized = GetFileLength(file, &size);
    if (!sized) size = 0;
    // A size that would wrap the block's 32-bit length is refused outright,
    // never read cut at its length modulo 4 GiB.
    if (size > UINT32_MAX - 16) return kWholeFileTooLarge;
    const uint32_t wanted = std::min(static_cast<uint32_t>(size), limit);
    *block = static_cast<uint8_t*>(AllocateBlock(size_t{wanted} + 16));
    if (!*block) return kWholeFileNoMemory;
    const bool read = ReadFileBytes(file, *block, wanted, got);
    if (!read) *got = 0;
    (*block)[*got] = 0;
    (*block)[*got + 1] = 0;
    return sized && read ? kWholeFileRead : kWholeFileUnreadable;
}

uint8_t* ReadWholeFile(const char16_t* path, uint32_t* count) {
    FileHandle file = OpenFileForRead(path);
    if (file == kNoFile) return nullptr;
    uint8_t* block;
    uint32_t got;
    ReadOpenFile(file, count ? *count : UINT32_MAX, &block, &got);
    CloseFileHandle(file);
    if (block && count) *count = got;
    return block;
}
