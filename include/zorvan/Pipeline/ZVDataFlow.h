#pragma once
// What moves between stages, and the two ends stages meet through.
#include <cstdint>
#include <memory>

// Anything a queue can hold: it tells its size in bytes, and the size does not change
// while it is queued.
class ZVQueueObject {
  public:
    virtual ~ZVQueueObject() = default;
    virtual int64_t dataSize() const = 0;
};

// `nextObject` hands the object over: the caller holds the only reference the source gave.
using ZVObjectRef = std::shared_ptr<ZVQueueObject>;

// A stage's data source. The default has nothing. Implementations are called from the
// consuming stage's worker, so they must be safe against a producer on another thread.
class ZVDataSource {
  public:
    virtual ~ZVDataSource() = default;
    // The next object, or nullptr when nothing is ready now; never waits.
    virtual ZVObjectRef nextObject() { return nullptr; }
};

// A stage's data destination. The default accepts and discards everything. A producer
// calls addObject only after canAcceptObject answered true.
class ZVDataDestination {
  public:
    virtual ~ZVDataDestination() = default;
    virtual bool canAcceptObject() { return true; }
    // The destination keeps its own reference.
    virtual void addObject(ZVObjectRef /*object*/) {}
};

// A plain byte buffer as a queue object (its size is its length): system audio and tests
// pass raw bytes through queues this way.
#include <vector>
class ZVDataObject : public ZVQueueObject {
  public:
    explicit ZVDataObject(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
    int64_t dataSize() const override { return static_cast<int64_t>(bytes.size()); }
    std::vector<uint8_t> bytes;
};
