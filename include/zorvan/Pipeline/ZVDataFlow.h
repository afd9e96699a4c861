#pragma once
// What moves between stages, and the two ends stages meet through.
#include <chrono>
#include <cstdint>
#include <functional>
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

// How long a blocking call may wait; kZVWaitForever for no limit.
using ZVWaitTime = std::chrono::nanoseconds;
inline constexpr ZVWaitTime kZVWaitForever = ZVWaitTime::max();
// Asked by a blocking call under the other end's lock: true ends the wait at once. The other
// end asks it again after wake().
using ZVInterrupt = std::function<bool()>;

// What a blocking pop gave: an object, the end-of-stream mark (`ended`), or neither (the
// wait timed out, was interrupted or the source is flushing).
struct ZVPopped {
    ZVObjectRef object;
    bool ended = false;
};

// A stage's data source. The default has nothing. Implementations are called from the
// consuming stage's worker, so they must be safe against a producer on another thread.
class ZVDataSource {
  public:
    virtual ~ZVDataSource() = default;
    // The next object, or nullptr when nothing is ready now; never waits. The end mark is
    // left in place.
    virtual ZVObjectRef nextObject() { return nullptr; }
    // Waits up to `timeout` for the next object or the end mark. The default cannot wait:
    // it answers what nextObject has at once (canWait tells which kind a source is).
    virtual ZVPopped popObject(ZVWaitTime /*timeout*/, const ZVInterrupt& /*interrupted*/) {
        return {nextObject(), false};
    }
    virtual bool canWait() const { return false; }
    // Makes every popObject waiting now ask its `interrupted` again. Any thread.
    virtual void wakeConsumers() {}
};

// A stage's data destination. The default accepts and discards everything. A producer
// calls addObject only after canAcceptObject (or waitUntilAccepts) answered true.
class ZVDataDestination {
  public:
    virtual ~ZVDataDestination() = default;
    virtual bool canAcceptObject() { return true; }
    // The destination keeps its own reference.
    virtual void addObject(ZVObjectRef /*object*/) {}
    // Waits up to `timeout` until the destination accepts; false when it still refuses
    // (timed out, interrupted, or flushing). The default asks canAcceptObject once.
    virtual bool waitUntilAccepts(ZVWaitTime /*timeout*/, const ZVInterrupt& /*interrupted*/) {
        return canAcceptObject();
    }
    virtual bool canWait() const { return false; }
    // The producer's last act of a run that ended normally: after everything it added, a
    // consumer meets the end of the stream. The default has no consumer to tell.
    virtual void addEndOfStream() {}
    // Makes every waitUntilAccepts waiting now ask its `interrupted` again. Any thread.
    virtual void wakeProducers() {}
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
