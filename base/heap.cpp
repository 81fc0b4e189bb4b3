// Heap blocks of the core over malloc, with the countdown that makes an allocation fail.
#include "base/heap.h"

#include <cstdlib>

namespace {

// Per thread: a test arms the failures of its own thread, and threads that
// open directories at once in the shipped library share nothing.
thread_local unsigned failCountdown = 0;
thread_local unsigned allocations = 0;

bool ShouldFail() {
    ++allocations;
    if (failCountdown == 0) return false;
    if (failCountdown == 1) return true;
    --failCountdown;
    return false;
}

}  // namespace

void* AllocateBlock(size_t size) { return ShouldFail() ? nullptr : std::malloc(size); }

void* ResizeBlock(void* block, size_t size) { return ShouldFail() ? nullptr : std::realloc(block, size); }

void ReleaseBlock(void* block) { std::free(block); }

unsigned FailAllocationsFrom(unsigned countdown) {
    failCountdown = countdown;
    unsigned made = allocations;
    allocations = 0;
    return made;
}
