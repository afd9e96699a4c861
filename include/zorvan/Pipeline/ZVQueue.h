#pragma once
// The bounded first-in first-out queue between two stages: the destination of a producer
// and the source of a consumer, safe for both at once. It is bounded by bytes: it refuses
// more once what it holds reaches its limit, an equal share of a budget that all queues of
// the process share.
//
// Producers and consumers may block on it: a pop waits for an object or the end-of-stream
// mark a producer puts in after its last object (a consumer meets the mark only after
// every object added before it); a push waits for room. A flushing queue empties itself and
// wakes every waiter at once: waiting pops give nothing, waiting pushes give up, and while
// it stays flushing whatever is added is dropped (later pops wait as on an empty queue).
#include <atomic>
#include <cstdint>
#include <deque>

#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVDataFlow.h"

inline constexpr int64_t kZVQueueDefaultLimit = 0x10000000;
inline constexpr int64_t kZVQueueNoLimit = -1;
inline constexpr int64_t kZVQueueMinimumLimit = 0x2800000;        // per-queue floor
inline constexpr int64_t kZVQueueMinimumSharedLimit = 0x6400000;  // shared floor

class ZVQueue : public ZVDataSource, public ZVDataDestination {
  public:
    // A new empty queue, registered at once so its limit is its share. Any thread.
    ZVQueue();
    // A new empty queue bounded by `fixedLimit` bytes of its own, outside the shared
    // budget: no recount changes its limit and it takes no share from the other queues.
    // For a pipeline whose memory must not grow with free memory or with what else runs
    // (an export). Any thread.
    explicit ZVQueue(int64_t fixedLimit);
    ~ZVQueue() override;
    ZVQueue(const ZVQueue&) = delete;
    ZVQueue& operator=(const ZVQueue&) = delete;

    // Appends; the queue keeps its own reference. nullptr raises ZVException
    // ("-[ZVQueue addObject:]", "Can't add nil object to que") and changes nothing.
    // Any thread.
    void addObject(ZVObjectRef object) override;
    // The oldest object, handed to the caller; nullptr when empty or when the end mark is
    // next (it stays). Never waits. Any thread.
    ZVObjectRef nextObject() override;
    // The oldest object or the end mark (taken out), waiting up to `timeout` for one;
    // neither when the wait timed out, `interrupted` answered true, or a flush came.
    // Any thread.
    ZVPopped popObject(ZVWaitTime timeout, const ZVInterrupt& interrupted = {}) override;
    bool canWait() const override { return true; }
    // True when unlimited, or when the bytes held are strictly below the limit, or while
    // flushing (what is added is dropped). O(1). Any thread.
    bool canAcceptObject() override;
    // Waits up to `timeout` for canAcceptObject; false when it timed out, `interrupted`
    // answered true, or a flush came while waiting. Any thread.
    bool waitUntilAccepts(ZVWaitTime timeout, const ZVInterrupt& interrupted = {}) override;
    // waitUntilAccepts, then addObject: false (the object dropped) when it did not accept
    // in time or the queue is flushing. Any thread.
    bool pushObject(ZVObjectRef object, ZVWaitTime timeout, const ZVInterrupt& interrupted = {});
    // Puts the end mark in after everything added so far; it takes no room. Any thread.
    void addEndOfStream() override;
    void wakeConsumers() override;
    void wakeProducers() override;
    // Entering the flushing state empties the queue (end marks too) and wakes every
    // waiter; leaving it lets objects in again. Any thread.
    void setFlushing(bool flushing);
    bool isFlushing();
    // Empties the queue (end marks too); waiting producers find room. Any thread.
    void flush();
    int32_t count();
    bool hasObjects();
    // Bytes held now (the sum of dataSize of the held objects). Any thread.
    int64_t byteCount();

    int64_t limit() const { return _limit.load(std::memory_order_relaxed); }
    // kZVQueueNoLimit is kept; anything up to the per-queue floor becomes the floor.
    // The next recount overwrites it. Any thread.
    void setLimit(int64_t limit);

    // The budget shared by all queues; 0 until set or computed from memory (half of free
    // plus inactive memory when the first queue registers). Any thread.
    static void setSharedLimit(int64_t limit);
    static int64_t sharedLimit();
    static void recountQueueLimits();
    static void registerQueue(ZVQueue* queue);
    static void unregisterQueue(ZVQueue* queue);

  private:
    // Whether a waiter that began at flush generation `since` must give up. Holds _queLock.
    bool flushedSince(uint64_t since) ZV_REQUIRES(_queLock) { return _flushes != since; }

    ZVMutex _queLock;       // guards the fields below it up to _limit
    ZVCondition _notEmpty;  // an object or a mark came, a flush, or a wake
    ZVCondition _notFull;   // room came, a flush, or a wake
    // The objects in order; nullptr stands for an end mark.
    std::deque<ZVObjectRef> _objects ZV_GUARDED_BY(_queLock);
    int32_t _marks ZV_GUARDED_BY(_queLock) = 0;  // end marks among _objects
    bool _flushing ZV_GUARDED_BY(_queLock) = false;
    uint64_t _flushes ZV_GUARDED_BY(_queLock) = 0;  // flushes so far, for waiters to see one
    // Running sum of the held objects' sizes, taken when each was added; held objects
    // never change size, so this equals the sum over _objects.
    int64_t _bytes ZV_GUARDED_BY(_queLock) = 0;
    std::atomic<int64_t> _limit{kZVQueueDefaultLimit};
    const bool _shared = true;  // registered, its limit a share of the shared budget
};
