#include "Video/ZVVideoAllocation.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
// Set once a display server can take segments; System V segments are a limited resource
// of the whole system, so nothing else spends them.
std::atomic<bool> gUseSharedMemory{false};

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

void* ZVVideoSharedAlloc(size_t size, int* id) {
    *id = -1;
    if (shouldFail()) return nullptr;
    const int segment = gUseSharedMemory.load() ? shmget(IPC_PRIVATE, size, IPC_CREAT | 0600) : -1;
    if (segment >= 0) {
        void* memory = shmat(segment, nullptr, 0);
        // Linux lets the display server attach a segment already marked for removal.
        shmctl(segment, IPC_RMID, nullptr);
        if (memory != reinterpret_cast<void*>(-1)) {
            *id = segment;
            return memory;  // new pages of a segment read zero
        }
    }
    void* memory = std::aligned_alloc(4096, (size + 4095) / 4096 * 4096);
    if (memory) std::memset(memory, 0, size);
    return memory;
}

void ZVVideoUseSharedMemory() {
    gUseSharedMemory.store(true);
}

void ZVVideoSharedFree(void* memory, int id) {
    if (!memory) return;
    if (id >= 0) {
        shmdt(memory);
    } else {
        std::free(memory);
    }
}

void ZVVideoFailNextAllocations(int count) {
    tFailuresLeft = count;
}
