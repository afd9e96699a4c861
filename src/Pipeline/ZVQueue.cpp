#include "Pipeline/ZVQueue.h"

#include <algorithm>
#include <vector>

#include "Common/vmstat.h"
#include "Foundation/ZVException.h"

namespace {

// The class-wide registry. Lock order: the registry lock may be held while a queue's
// setLimit runs (it takes that queue's lock); no queue operation takes the registry lock while it
// holds its _queLock.
struct Registry {
    ZVRecursiveMutex lock;                             // guards queues and sharedLimit
    std::vector<ZVQueue*> queues ZV_GUARDED_BY(lock);  // not owned; in registration order
    int64_t sharedLimit ZV_GUARDED_BY(lock) = 0;
};

// Made before any queue can exist (at library load), so two first registrations on two
// threads cannot race to create it. Leaked on purpose: queues may die during exit.
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}
[[maybe_unused]] const Registry& kRegistryAtLoad = registry();

void recountLocked(Registry& r) ZV_REQUIRES(r.lock) {
    if (r.queues.empty()) return;
    int64_t share = r.sharedLimit == kZVQueueNoLimit
                        ? kZVQueueNoLimit
                        : r.sharedLimit / static_cast<int64_t>(r.queues.size());
    for (ZVQueue* q : r.queues) q->setLimit(share);
}

int64_t defaultSharedLimit() {
    uint32_t pages = get_vm_free_memory() + get_vm_inactive_memory();
    uint64_t bytes = uint64_t{pages} * uint64_t{get_vm_page_size()};
    return static_cast<int64_t>(static_cast<double>(bytes) * 0.5);
}

}  // namespace

ZVQueue::ZVQueue() {
    registerQueue(this);
}

ZVQueue::ZVQueue(int64_t fixedLimit) : _limit(fixedLimit), _shared(false) {}

ZVQueue::~ZVQueue() {
    // Leave the registry first, while this queue is still whole, so a recount on another
    // thread never touches a half-destroyed queue.
    if (_shared) unregisterQueue(this);
}

namespace {
// Waits on `condition` until `ready`, for at most `timeout`; `ready` is asked first.
template <typename Ready>
bool waitOn(ZVCondition& condition, ZVMutex& lock, ZVWaitTime timeout, Ready ready)
    ZV_REQUIRES(lock) {
    if (timeout == kZVWaitForever) {
        condition.wait(lock, ready);
        return true;
    }
    return condition.waitFor(lock, timeout, ready);
}
}  // namespace

void ZVQueue::addObject(ZVObjectRef object) {
    if (!object) throw ZVException("-[ZVQueue addObject:]", "Can't add nil object to que");
    int64_t size = object->dataSize();
    {
        ZVLockGuard g(_queLock);
        if (_flushing) return;
        _objects.push_back(std::move(object));
        _bytes += size;
    }
    _notEmpty.notifyAll();
}

void ZVQueue::addEndOfStream() {
    {
        ZVLockGuard g(_queLock);
        if (_flushing) return;
        _objects.push_back(nullptr);
        ++_marks;
    }
    _notEmpty.notifyAll();
}

ZVObjectRef ZVQueue::nextObject() {
    ZVObjectRef first;
    {
        ZVLockGuard g(_queLock);
        if (_objects.empty() || !_objects.front()) return nullptr;
        first = std::move(_objects.front());
        _objects.pop_front();
        _bytes -= first->dataSize();
    }
    _notFull.notifyAll();
    return first;
}

ZVPopped ZVQueue::popObject(ZVWaitTime timeout, const ZVInterrupt& interrupted) {
    ZVPopped popped;
    {
        ZVLockGuard g(_queLock);
        const uint64_t since = _flushes;
        waitOn(_notEmpty, _queLock, timeout, [&]() ZV_REQUIRES(_queLock) {
            return !_objects.empty() || flushedSince(since) || (interrupted && interrupted());
        });
        if (_objects.empty() || flushedSince(since)) return popped;
        popped.object = std::move(_objects.front());
        _objects.pop_front();
        if (popped.object) {
            _bytes -= popped.object->dataSize();
        } else {
            --_marks;
            popped.ended = true;
        }
    }
    _notFull.notifyAll();
    return popped;
}

bool ZVQueue::canAcceptObject() {
    int64_t limit = _limit.load(std::memory_order_relaxed);
    if (limit == kZVQueueNoLimit) return true;
    ZVLockGuard g(_queLock);
    return _flushing || _bytes < limit;
}

bool ZVQueue::waitUntilAccepts(ZVWaitTime timeout, const ZVInterrupt& interrupted) {
    ZVLockGuard g(_queLock);
    const uint64_t since = _flushes;
    auto accepts = [&]() ZV_REQUIRES(_queLock) {
        const int64_t limit = _limit.load(std::memory_order_relaxed);
        return _flushing || limit == kZVQueueNoLimit || _bytes < limit;
    };
    waitOn(_notFull, _queLock, timeout, [&]() ZV_REQUIRES(_queLock) {
        return accepts() || flushedSince(since) || (interrupted && interrupted());
    });
    return accepts() && !flushedSince(since);
}

bool ZVQueue::pushObject(ZVObjectRef object, ZVWaitTime timeout, const ZVInterrupt& interrupted) {
    if (!object) throw ZVException("-[ZVQueue addObject:]", "Can't add nil object to que");
    if (!waitUntilAccepts(timeout, interrupted)) return false;
    int64_t size = object->dataSize();
    {
        ZVLockGuard g(_queLock);
        if (_flushing) return false;
        _objects.push_back(std::move(object));
        _bytes += size;
    }
    _notEmpty.notifyAll();
    return true;
}

void ZVQueue::wakeConsumers() {
    // Taking the lock orders the wake after a waiter's last look at its interrupt.
    { ZVLockGuard g(_queLock); }
    _notEmpty.notifyAll();
}

void ZVQueue::wakeProducers() {
    { ZVLockGuard g(_queLock); }
    _notFull.notifyAll();
}

void ZVQueue::setFlushing(bool flushing) {
    std::deque<ZVObjectRef> gone;  // released after the lock
    {
        ZVLockGuard g(_queLock);
        _flushing = flushing;
        if (flushing) {
            gone.swap(_objects);
            _bytes = 0;
            _marks = 0;
            ++_flushes;
        }
    }
    _notEmpty.notifyAll();
    _notFull.notifyAll();
}

bool ZVQueue::isFlushing() {
    ZVLockGuard g(_queLock);
    return _flushing;
}

void ZVQueue::flush() {
    std::deque<ZVObjectRef> gone;
    {
        ZVLockGuard g(_queLock);
        gone.swap(_objects);
        _bytes = 0;
        _marks = 0;
    }
    _notFull.notifyAll();
    // The objects are released here, outside the lock.
}

int32_t ZVQueue::count() {
    ZVLockGuard g(_queLock);
    return static_cast<int32_t>(_objects.size()) - _marks;
}

bool ZVQueue::hasObjects() {
    return count() != 0;
}

int64_t ZVQueue::byteCount() {
    ZVLockGuard g(_queLock);
    return _bytes;
}

void ZVQueue::setLimit(int64_t limit) {
    if (limit != kZVQueueNoLimit && limit <= kZVQueueMinimumLimit) limit = kZVQueueMinimumLimit;
    _limit.store(limit, std::memory_order_relaxed);
    // A larger limit may let a waiting producer in.
    wakeProducers();
}

void ZVQueue::setSharedLimit(int64_t limit) {
    Registry& r = registry();
    ZVLockGuard g(r.lock);
    if (limit != kZVQueueNoLimit && limit <= kZVQueueMinimumSharedLimit)
        limit = kZVQueueMinimumSharedLimit;
    r.sharedLimit = limit;
    recountLocked(r);
}

int64_t ZVQueue::sharedLimit() {
    Registry& r = registry();
    ZVLockGuard g(r.lock);
    return r.sharedLimit;
}

void ZVQueue::recountQueueLimits() {
    Registry& r = registry();
    ZVLockGuard g(r.lock);
    recountLocked(r);
}

void ZVQueue::registerQueue(ZVQueue* queue) {
    Registry& r = registry();
    ZVLockGuard g(r.lock);
    // Statistics that read as zero leave the budget unset; the next registration retries.
    if (r.sharedLimit == 0) r.sharedLimit = defaultSharedLimit();
    r.queues.push_back(queue);
    recountLocked(r);
}

void ZVQueue::unregisterQueue(ZVQueue* queue) {
    Registry& r = registry();
    ZVLockGuard g(r.lock);
    auto it = std::find(r.queues.begin(), r.queues.end(), queue);
    if (it != r.queues.end()) r.queues.erase(it);
    recountLocked(r);
}
