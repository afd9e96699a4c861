#include "Video/ZVVideoAllocation.h"

#include <cstdlib>

namespace {
// Per thread, so a test on one thread never starves another thread's allocations.
thread_local int tFailuresLeft = 0;

bool shouldFail() {
    if (tFailuresLeft <= 0) return false;
    --tFailuresLeft;
    return true;
}
}  // namespace

void* ZVVideoMalloc(size_t size) {
    return shouldFail() ? nullptr : std::malloc(size);
}

void* ZVVideoAlignedAlloc(size_t alignment, size_t size) {
    return shouldFail() ? nullptr : std::aligned_alloc(alignment, size);
}

void ZVVideoFailNextAllocations(int count) {
    tFailuresLeft = count;
}
