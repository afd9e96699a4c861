#pragma once
#include "ZVPrivate.h"  // library-internal

// The memory behind pixel buffers: a pool that makes buffers of one size and takes them
// back for reuse, and the buffer it hands out (ZVPixelStorage).
//
// Row stride: rows are padded to a multiple of 64 bytes. The capture file stores block
// offsets measured with this stride, so the rule is part of that file format: it is stated
// here once (ZVPixelBytesPerRow) and must never change.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Foundation/ZVMutex.h"

// Bytes from the start of one row to the start of the next, for a row of `width` 32-bit
// pixels. Part of the capture-file format: never change it.
constexpr int64_t ZVPixelBytesPerRow(int64_t width) {
    return (width * 4 + 63) / 64 * 64;
}

// The four-character code of the only pixel format: bytes blue, green, red, alpha.
inline constexpr uint32_t kZVPixelFormatType_32BGRA = 0x42475241;

// Status codes of pool and buffer creation (0 is success). The values are the ones the
// log lines have always shown for these failures.
inline constexpr int32_t kZVPixelBufferSuccess = 0;
inline constexpr int32_t kZVPixelBufferErrorAllocationFailed = -6662;
inline constexpr int32_t kZVPixelBufferErrorInvalidSize = -6681;

// How many returned buffers a pool keeps for reuse; more are freed at once, so the
// buffers of a burst (a full queue) go back to the system once the backlog is gone.
inline constexpr size_t kZVPixelBufferPoolFreeLimit = 8;

class ZVPixelBufferPool;

// The memory of one pooled buffer: a block of System V shared memory, so that a display
// server can write a screen read straight into it, or plain memory where the system has no
// shared memory to give (id -1). Freed when its last holder lets go; a display server that
// attached it keeps only a weak reference and detaches once that has expired.
struct ZVPixelMemory {
    ZVPixelMemory(uint8_t* b, int segment) : bytes(b), id(segment) {}
    ~ZVPixelMemory();
    ZVPixelMemory(const ZVPixelMemory&) = delete;
    ZVPixelMemory& operator=(const ZVPixelMemory&) = delete;
    uint8_t* const bytes;
    const int id;  // the segment's id; -1 for plain memory
    // How often a pool has handed it out: a reader that left a picture in it can tell
    // whether anyone else has had it since.
    std::atomic<uint64_t> handOuts{0};
};

// One buffer of 32-bit BGRA pixels. Its memory never moves; lock and unlock only count
// (callers that pin the address around a longer access keep working as they did). When it
// is destroyed its memory goes back to its pool, if the pool still exists and has room.
class ZVPixelStorage {
  public:
    ~ZVPixelStorage();
    ZVPixelStorage(const ZVPixelStorage&) = delete;
    ZVPixelStorage& operator=(const ZVPixelStorage&) = delete;

    // Accessors never change. Any thread.
    uint32_t width() const { return _width; }
    uint32_t height() const { return _height; }
    size_t bytesPerRow() const { return _bytesPerRow; }
    size_t dataSize() const { return _bytesPerRow * _height; }
    uint32_t pixelFormatType() const { return kZVPixelFormatType_32BGRA; }
    uint8_t* baseAddress() const { return _memory->bytes; }
    // The memory itself, for a display server that writes into it (see ZVPixelMemory).
    // Any thread.
    const std::shared_ptr<ZVPixelMemory>& memory() const { return _memory; }
    // True when the memory came back from the pool's free list rather than fresh. Any thread.
    bool wasRecycled() const { return _recycled; }

    // Pin / unpin the base address; balanced by the caller. Any thread.
    void lockBaseAddress() { _locks.fetch_add(1, std::memory_order_relaxed); }
    void unlockBaseAddress() { _locks.fetch_sub(1, std::memory_order_relaxed); }
    int lockCount() const { return _locks.load(std::memory_order_relaxed); }

  private:
    friend class ZVPixelBufferPool;
    ZVPixelStorage(std::weak_ptr<ZVPixelBufferPool> pool, uint32_t width, uint32_t height,
                   size_t bytesPerRow, std::shared_ptr<ZVPixelMemory> memory, bool recycled);

    std::weak_ptr<ZVPixelBufferPool> _pool;  // not kept alive by its buffers
    uint32_t _width;
    uint32_t _height;
    size_t _bytesPerRow;
    std::shared_ptr<ZVPixelMemory> _memory;  // handed back to the pool at the end
    bool _recycled;
    std::atomic<int> _locks{0};
};

// The caller owns the buffer; destroying it hands the memory back.
using ZVPixelStorageRef = std::unique_ptr<ZVPixelStorage>;

// Makes buffers of one size and keeps up to a bounded number of returned ones for reuse.
// Buffers handed out stay valid after the pool is gone (their memory is then freed).
class ZVPixelBufferPool : public std::enable_shared_from_this<ZVPixelBufferPool> {
  public:
    // A pool for buffers of width × height pixels (format BGRA, stride ZVPixelBytesPerRow).
    // nullptr with *status = kZVPixelBufferErrorInvalidSize when either side is 0 or a
    // buffer would not fit the 32-bit byte counts of pixel buffers. Any thread.
    static std::shared_ptr<ZVPixelBufferPool> create(
        uint32_t width, uint32_t height, int32_t* status,
        size_t freeLimit = kZVPixelBufferPoolFreeLimit);
    ~ZVPixelBufferPool();
    ZVPixelBufferPool(const ZVPixelBufferPool&) = delete;
    ZVPixelBufferPool& operator=(const ZVPixelBufferPool&) = delete;

    // The pixel-buffer attributes the pool was made with. Any thread.
    uint32_t width() const { return _width; }
    uint32_t height() const { return _height; }
    uint32_t pixelFormatType() const { return kZVPixelFormatType_32BGRA; }
    size_t bytesPerRow() const { return _bytesPerRow; }
    size_t bufferSize() const { return _bytesPerRow * _height; }

    // A buffer, reused when one is free (never cleared: its bytes are the last user's),
    // else newly allocated in shared memory (zero-filled, so padding bytes are defined). nullptr
    // with *status = kZVPixelBufferErrorAllocationFailed when memory is short. The caller owns the
    // buffer. Any thread.
    ZVPixelStorageRef createPixelBuffer(int32_t* status);

    // Buffers waiting for reuse. Any thread.
    size_t freeCount();

  private:
    friend class ZVPixelStorage;
    ZVPixelBufferPool(uint32_t width, uint32_t height, size_t freeLimit);
    // Takes a returned buffer's memory back, or frees it when the free list is full.
    void recycle(std::shared_ptr<ZVPixelMemory> memory);

    const uint32_t _width;
    const uint32_t _height;
    const size_t _bytesPerRow;
    const size_t _freeLimit;
    ZVMutex _freeLock;  // guards _free
    std::vector<std::shared_ptr<ZVPixelMemory>> _free ZV_GUARDED_BY(_freeLock);
};
