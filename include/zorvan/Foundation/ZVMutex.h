#pragma once
// A mutex the compiler can check: fields say which lock guards them (ZV_GUARDED_BY) and
// functions say which lock they need (ZV_REQUIRES); Clang builds run -Wthread-safety.
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ZV_TSA(x) __attribute__((x))
#else
#define ZV_TSA(x)
#endif

#define ZV_CAPABILITY(x) ZV_TSA(capability(x))
#define ZV_SCOPED_CAPABILITY ZV_TSA(scoped_lockable)
#define ZV_GUARDED_BY(x) ZV_TSA(guarded_by(x))
#define ZV_PT_GUARDED_BY(x) ZV_TSA(pt_guarded_by(x))
#define ZV_REQUIRES(...) ZV_TSA(requires_capability(__VA_ARGS__))
#define ZV_EXCLUDES(...) ZV_TSA(locks_excluded(__VA_ARGS__))
#define ZV_ACQUIRE(...) ZV_TSA(acquire_capability(__VA_ARGS__))
#define ZV_RELEASE(...) ZV_TSA(release_capability(__VA_ARGS__))
#define ZV_TRY_ACQUIRE(...) ZV_TSA(try_acquire_capability(__VA_ARGS__))
#define ZV_NO_THREAD_SAFETY_ANALYSIS ZV_TSA(no_thread_safety_analysis)

class ZV_CAPABILITY("mutex") ZVMutex {
  public:
    void lock() ZV_ACQUIRE() { _m.lock(); }
    void unlock() ZV_RELEASE() { _m.unlock(); }
    bool try_lock() ZV_TRY_ACQUIRE(true) { return _m.try_lock(); }
    std::mutex& native() { return _m; }

  private:
    std::mutex _m;
};

class ZV_CAPABILITY("mutex") ZVRecursiveMutex {
  public:
    void lock() ZV_ACQUIRE() { _m.lock(); }
    void unlock() ZV_RELEASE() { _m.unlock(); }

  private:
    std::recursive_mutex _m;
};

template <typename M>
class ZV_SCOPED_CAPABILITY ZVLockGuard {
  public:
    explicit ZVLockGuard(M& m) ZV_ACQUIRE(m) : _m(m) { _m.lock(); }
    ~ZVLockGuard() ZV_RELEASE() { _m.unlock(); }
    ZVLockGuard(const ZVLockGuard&) = delete;
    ZVLockGuard& operator=(const ZVLockGuard&) = delete;

  private:
    M& _m;
};

// Waits on a condition variable with a ZVMutex already held by the caller.
class ZVCondition {
  public:
    template <typename Pred>
    void wait(ZVMutex& m, Pred pred) ZV_REQUIRES(m) {
        std::unique_lock<std::mutex> lk(m.native(), std::adopt_lock);
        _cv.wait(lk, pred);
        lk.release();
    }
    template <typename Duration, typename Pred>
    bool waitFor(ZVMutex& m, Duration d, Pred pred) ZV_REQUIRES(m) {
        std::unique_lock<std::mutex> lk(m.native(), std::adopt_lock);
        bool ok = _cv.wait_for(lk, d, pred);
        lk.release();
        return ok;
    }
    void notifyAll() { _cv.notify_all(); }

  private:
    std::condition_variable _cv;
};
