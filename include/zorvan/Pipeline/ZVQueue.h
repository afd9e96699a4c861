#pragma once
// The bounded first-in first-out queue between two stages: the destination of a producer
// and the source of a consumer, safe for both at once. It is bounded by bytes: it refuses
// more once what it holds reaches its limit, an equal share of a budget that all queues of
// the process share.
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
    // The oldest object, handed to the caller; nullptr when empty. Never waits. Any thread.
    ZVObjectRef nextObject() override;
    // True when unlimited, or when the bytes held are strictly below the limit. O(1).
    // Any thread.
    bool canAcceptObject() override;
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
    ZVMutex _queLock;  // guards _objects and _bytes
    std::deque<ZVObjectRef> _objects ZV_GUARDED_BY(_queLock);
    // Running sum of the held objects' sizes, taken when each was added; held objects
    // never change size, so this equals the sum over _objects.
    int64_t _bytes ZV_GUARDED_BY(_queLock) = 0;
    std::atomic<int64_t> _limit{kZVQueueDefaultLimit};
    const bool _shared = true;  // registered, its limit a share of the shared budget
};
