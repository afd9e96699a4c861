#include "Video/ZVPixelBufferPool.h"

#include <limits>

#include "Video/ZVVideoAllocation.h"

namespace {
static_assert(ZVPixelBytesPerRow(1) == 64 && ZVPixelBytesPerRow(16) == 64 &&
                  ZVPixelBytesPerRow(17) == 128 && ZVPixelBytesPerRow(640) == 2560 &&
                  ZVPixelBytesPerRow(1366) == 5504,
              "the stride rule is part of the capture-file format");
}  // namespace

ZVPixelMemory::~ZVPixelMemory() {
    ZVVideoSharedFree(bytes, id);
}

ZVPixelStorage::ZVPixelStorage(std::weak_ptr<ZVPixelBufferPool> pool, uint32_t width,
                               uint32_t height, size_t bytesPerRow,
                               std::shared_ptr<ZVPixelMemory> memory, bool recycled)
    : _pool(std::move(pool)),
      _width(width),
      _height(height),
      _bytesPerRow(bytesPerRow),
      _memory(std::move(memory)),
      _recycled(recycled) {}

ZVPixelStorage::~ZVPixelStorage() {
    if (auto pool = _pool.lock()) pool->recycle(std::move(_memory));
}

std::shared_ptr<ZVPixelBufferPool> ZVPixelBufferPool::create(uint32_t width, uint32_t height,
                                                             int32_t* status, size_t freeLimit) {
    // Pixel buffers report their byte size as a signed 32-bit number.
    const int64_t stride = ZVPixelBytesPerRow(width);
    if (width == 0 || height == 0 ||
        stride * static_cast<int64_t>(height) > std::numeric_limits<int32_t>::max()) {
        if (status) *status = kZVPixelBufferErrorInvalidSize;
        return nullptr;
    }
    if (status) *status = kZVPixelBufferSuccess;
    return std::shared_ptr<ZVPixelBufferPool>(new ZVPixelBufferPool(width, height, freeLimit));
}

ZVPixelBufferPool::ZVPixelBufferPool(uint32_t width, uint32_t height, size_t freeLimit)
    : _width(width),
      _height(height),
      _bytesPerRow(static_cast<size_t>(ZVPixelBytesPerRow(width))),
      _freeLimit(freeLimit) {
    // Room for the whole free list up front, so taking a buffer back never allocates.
    _free.reserve(freeLimit);
}

ZVPixelBufferPool::~ZVPixelBufferPool() = default;

ZVPixelStorageRef ZVPixelBufferPool::createPixelBuffer(int32_t* status) {
    std::shared_ptr<ZVPixelMemory> memory;
    {
        ZVLockGuard<ZVMutex> guard(_freeLock);
        if (!_free.empty()) {
            memory = std::move(_free.back());
            _free.pop_back();
        }
    }
    const bool recycled = memory != nullptr;
    if (!memory) {
        // Page-aligned, so rows start on cache lines as well.
        int id = -1;
        auto* bytes = static_cast<uint8_t*>(ZVVideoSharedAlloc(bufferSize(), &id));
        if (bytes) memory = std::make_shared<ZVPixelMemory>(bytes, id);
        if (!memory) {
            if (status) *status = kZVPixelBufferErrorAllocationFailed;
            return nullptr;
        }
    }
    memory->handOuts.fetch_add(1, std::memory_order_relaxed);
    if (status) *status = kZVPixelBufferSuccess;
    return ZVPixelStorageRef(new ZVPixelStorage(weak_from_this(), _width, _height, _bytesPerRow,
                                                std::move(memory), recycled));
}

size_t ZVPixelBufferPool::freeCount() {
    ZVLockGuard<ZVMutex> guard(_freeLock);
    return _free.size();
}

void ZVPixelBufferPool::recycle(std::shared_ptr<ZVPixelMemory> memory) {
    {
        ZVLockGuard<ZVMutex> guard(_freeLock);
        if (_free.size() < _freeLimit) {
            _free.push_back(std::move(memory));
            return;
        }
    }
    // More than the free list keeps: freed here, outside the lock.
}
