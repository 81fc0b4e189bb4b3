// Heap blocks of the core, with a seam through which tests make any single
// allocation fail.
#pragma once

#include <cstddef>

void* AllocateBlock(size_t size);
// Keeps the contents; null, with the old block still valid, on failure.
void* ResizeBlock(void* block, size_t size);
void ReleaseBlock(void* block);

// Test seam: from the allocation or resize numbered `countdown` from now on
// (1 is the next) every one fails, until a call with 0 switches failures
// off. Returns how many were asked for since the last call. Both count the
// calling thread's allocations only.
unsigned FailAllocationsFrom(unsigned countdown);
