// The platform's test seams: a read observer and a write filter, and their state, shared by both implementations.
#pragma once

#include <cstdint>

// Test seam: when set, called before every read with the file position and
// the count asked for.
using ReadObserver = void (*)(void* context, uint64_t position, uint32_t length);
void SetReadObserver(ReadObserver observer, void* context);

// Test seam: when set, asked before every write with the count to write;
// false makes that write fail as a full disk would.
using WriteFilter = bool (*)(void* context, uint32_t length);
void SetWriteFilter(WriteFilter filter, void* context);

extern ReadObserver readObserver;
extern void* readObserverContext;
extern WriteFilter writeFilter;
extern void* writeFilterContext;
