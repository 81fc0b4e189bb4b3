#include "directory/heap.h"

#include <cstdlib>

namespace {

unsigned failCountdown = 0;
unsigned allocations = 0;

bool ShouldFail() {
    ++allocations;
    return failCountdown != 0 && --failCountdown == 0;
}

}  // namespace

void* AllocateBlock(size_t size) { return ShouldFail() ? nullptr : std::malloc(size); }

void* ResizeBlock(void* block, size_t size) { return ShouldFail() ? nullptr : std::realloc(block, size); }

void ReleaseBlock(void* block) { std::free(block); }

unsigned FailAllocationAfter(unsigned countdown) {
    failCountdown = countdown;
    unsigned made = allocations;
    allocations = 0;
    return made;
}
