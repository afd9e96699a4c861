#pragma once
#include "ZVPrivate.h"  // library-internal

// One call per refresh of the primary display, on a thread of the link's own.
//
// The tick thread sleeps to absolute deadlines on the monotonic clock, one period apart
// from the moment of start. After a tick it waits for the first period boundary after
// now, so a tick that was held back (a full queue downstream) is followed by one tick at
// the next boundary, never by a burst of catch-up ticks.
//
// Ownership: the link owns its callback; the thread of a run holds that run's state, so
// the link may be destroyed (or stopped) from inside a tick. A stage driven by the tick
// should be reached through a weak_ptr (setOutputTarget) and stop the link in its
// destructor.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "Foundation/ZVMutex.h"

class ZVDisplayServer;

struct ZVDisplayLinkTime {
    int64_t deadline = 0;  // CLOCK_MONOTONIC nanoseconds this tick was due
    int64_t now = 0;       // CLOCK_MONOTONIC nanoseconds when the callback was entered
    uint64_t tick = 0;     // period boundaries since start (skipped ones counted)
};

class ZVDisplayLink {
  public:
    // Codes as the callback and the operations return them.
    static constexpr int32_t kSuccess = 0;
    static constexpr int32_t kError = -6660;
    static constexpr int32_t kInvalidDisplay = -6670;

    using Callback = std::function<int32_t(const ZVDisplayLinkTime&)>;

    // A link that follows the primary display's refresh rate of `server` (60 Hz when the
    // server does not know it or says 0); nullptr with `*error` = kInvalidDisplay when
    // there is no usable display (no X server, a Wayland session). Any thread.
    static std::shared_ptr<ZVDisplayLink> createWithActiveDisplays(ZVDisplayServer& server,
                                                                   int32_t* error = nullptr);

    // A link ticking at `hz` (60 when not above 0), for tests and off-screen use. Any thread.
    static std::shared_ptr<ZVDisplayLink> createWithRate(double hz);

    // Stops the link (without waiting when called from inside a tick). Any thread.
    ~ZVDisplayLink();
    ZVDisplayLink(const ZVDisplayLink&) = delete;
    ZVDisplayLink& operator=(const ZVDisplayLink&) = delete;

    // The function each tick calls; it takes effect at the next start. Any thread.
    void setOutputCallback(Callback callback);

    // Calls `method` on `target` each tick while the target lives. The link holds only a
    // weak reference: a tick keeps its stage alive for that one call, never longer.
    // Any thread.
    template <typename T>
    void setOutputTarget(std::weak_ptr<T> target, int32_t (T::*method)(const ZVDisplayLinkTime&)) {
        setOutputCallback([target = std::move(target), method](const ZVDisplayLinkTime& t) {
            if (auto strong = target.lock()) return ((*strong).*method)(t);
            return kSuccess;
        });
    }

    // Starts the tick thread; kSuccess, also when it already runs. Running at return.
    // Any thread.
    int32_t start();

    // Stops the ticks. From any other thread it returns after the last tick ended; from
    // inside a tick it returns at once and that tick is the last. kSuccess. Any thread.
    int32_t stop();

    // Whether start was called and stop not since. Any thread.
    bool isRunning() const { return _running.load(std::memory_order_acquire); }

    // Ticks per second. Any thread.
    double nominalRefreshRate() const { return _rate; }

    // Whether the caller runs inside a tick of this link. Any thread.
    bool isTickThread() const;

  private:
    explicit ZVDisplayLink(double hz);
    struct Run;

    const double _rate;
    std::atomic<bool> _running{false};
    mutable ZVMutex _lock;  // guards the fields below; never held while a tick runs
    Callback _callback ZV_GUARDED_BY(_lock);
    std::shared_ptr<Run> _run ZV_GUARDED_BY(_lock);
    std::thread _thread ZV_GUARDED_BY(_lock);
    std::thread::id _tickThread ZV_GUARDED_BY(_lock);
};
