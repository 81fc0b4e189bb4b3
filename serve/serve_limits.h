// vnlt serve: the limits on what a request may hold, and their texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kHeaderLimit = 16 * 1024;
// A chunk's size line with its extensions, or the trailer section, waits
// whole in the read buffer before the parser takes it: this bounds them.
constexpr size_t kFramingLimit = 16 * 1024;
constexpr size_t kReadSize = 64 * 1024;
// Past the head's or a chunk line's limit a request is refused, so a
// connection's buffer never holds more than this.
constexpr size_t kReadBufferLimit = kHeaderLimit + kReadSize;
constexpr size_t kTargetLimit = 8 * 1024;
constexpr uint64_t kBodyLimit = 64 * 1024 * 1024;
constexpr uint64_t kSmallBodyLimit = 64 * 1024;  // of a request that is not a batch
constexpr size_t kMaxNumberBytes = 100;
constexpr size_t kMaxBatchNumbers = 1000000;

// "16 KiB", "64 MiB": a limit as a refusal states it.
inline std::string SizeText(uint64_t bytes) {
    return bytes >= (1 << 20) ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes >> 10) + " KiB";
}
