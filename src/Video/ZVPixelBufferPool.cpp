#include "Video/ZVPixelBufferPool.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "Video/ZVVideoAllocation.h"

namespace {
// Rows start on cache-line boundaries, so the whole block is aligned the same way.
constexpr size_t kRowAlignment = 64;
static_assert(ZVPixelBytesPerRow(1) == 64 && ZVPixelBytesPerRow(16) == 64 &&
                  ZVPixelBytesPerRow(17) == 128 && ZVPixelBytesPerRow(640) == 2560 &&
                  ZVPixelBytesPerRow(1366) == 5504,
              "the stride rule is part of the capture-file format");
}  // namespace

ZVPixelStorage::ZVPixelStorage(std::weak_ptr<ZVPixelBufferPool> pool, uint32_t width,
                               uint32_t height, size_t bytesPerRow, uint8_t* memory, bool recycled)
    : _pool(std::move(pool)),
      _width(width),
      _height(height),
      _bytesPerRow(bytesPerRow),
      _memory(memory),
      _recycled(recycled) {}

ZVPixelStorage::~ZVPixelStorage() {
    if (auto pool = _pool.lock())
        pool->recycle(_memory);
    else
        std::free(_memory);
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

ZVPixelBufferPool::~ZVPixelBufferPool() {
    ZVLockGuard<ZVMutex> guard(_freeLock);
    for (uint8_t* memory : _free) std::free(memory);
}

ZVPixelStorageRef ZVPixelBufferPool::createPixelBuffer(int32_t* status) {
    uint8_t* memory = nullptr;
    {
        ZVLockGuard<ZVMutex> guard(_freeLock);
        if (!_free.empty()) {
            memory = _free.back();
            _free.pop_back();
        }
    }
    const bool recycled = memory != nullptr;
    if (!memory) {
        memory = static_cast<uint8_t*>(ZVVideoAlignedAlloc(kRowAlignment, bufferSize()));
        if (!memory) {
            if (status) *status = kZVPixelBufferErrorAllocationFailed;
            return nullptr;
        }
        std::memset(memory, 0, bufferSize());
    }
    if (status) *status = kZVPixelBufferSuccess;
    return ZVPixelStorageRef(
        new ZVPixelStorage(weak_from_this(), _width, _height, _bytesPerRow, memory, recycled));
}

size_t ZVPixelBufferPool::freeCount() {
    ZVLockGuard<ZVMutex> guard(_freeLock);
    return _free.size();
}

void ZVPixelBufferPool::recycle(uint8_t* memory) {
    {
        ZVLockGuard<ZVMutex> guard(_freeLock);
        if (_free.size() < _freeLimit) {
            _free.push_back(memory);
            return;
        }
    }
    std::free(memory);
}
