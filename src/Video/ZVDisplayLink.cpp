#include "Video/ZVDisplayLink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Foundation/ZVLog.h"
#include "Video/ZVDisplayServer.h"

// One start-to-stop of the link. The tick thread holds it, so it outlives a link that is
// destroyed from inside a tick.
struct ZVDisplayLink::Run {
    std::atomic<bool> stop{false};
    std::mutex m;  // pairs with wake; guards nothing else
    std::condition_variable wake;
    Callback callback;
    std::chrono::nanoseconds period;
};

namespace {
constexpr double kDefaultRate = 60.0;

int64_t nanos(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
}  // namespace

std::shared_ptr<ZVDisplayLink> ZVDisplayLink::createWithActiveDisplays(ZVDisplayServer& server,
                                                                       int32_t* error) {
    const std::string why = server.unavailableReason();
    auto displays = why.empty() ? server.displays() : std::vector<ZVDisplayDescription>{};
    if (displays.empty()) {
        // The caller logs the code; the reason is what a user can act on.
        ZVLog("No display to follow: %s",
              why.empty() ? "the X server shows no monitor" : why.c_str());
        if (error) *error = kInvalidDisplay;
        return nullptr;
    }
    if (error) *error = kSuccess;
    return createWithRate(displays.front().refreshRate);
}

std::shared_ptr<ZVDisplayLink> ZVDisplayLink::createWithRate(double hz) {
    return std::shared_ptr<ZVDisplayLink>(new ZVDisplayLink(hz > 0 ? hz : kDefaultRate));
}

ZVDisplayLink::ZVDisplayLink(double hz) : _rate(hz) {}

ZVDisplayLink::~ZVDisplayLink() {
    stop();
}

void ZVDisplayLink::setOutputCallback(Callback callback) {
    ZVLockGuard<ZVMutex> g(_lock);
    _callback = std::move(callback);
}

bool ZVDisplayLink::isTickThread() const {
    ZVLockGuard<ZVMutex> g(_lock);
    return _tickThread == std::this_thread::get_id();
}

int32_t ZVDisplayLink::start() {
    ZVLockGuard<ZVMutex> g(_lock);
    if (_run) return kSuccess;
    auto run = std::make_shared<Run>();
    run->callback = _callback;
    run->period = std::chrono::nanoseconds(static_cast<int64_t>(1e9 / _rate));
    _run = run;
    _running.store(true, std::memory_order_release);
    _thread = std::thread([run] {
        using clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC
        const auto t0 = clock::now();
        while (!run->stop.load(std::memory_order_acquire)) {
            // The first period boundary after now: late ticks are skipped, not repeated.
            const auto elapsed = clock::now() - t0;
            const uint64_t n = static_cast<uint64_t>(elapsed / run->period) + 1;
            const auto deadline = t0 + run->period * n;
            {
                std::unique_lock<std::mutex> l(run->m);
                run->wake.wait_until(l, deadline,
                                     [&] { return run->stop.load(std::memory_order_acquire); });
            }
            if (run->stop.load(std::memory_order_acquire)) break;
            if (!run->callback) continue;
            run->callback(ZVDisplayLinkTime{nanos(deadline), nanos(clock::now()), n});
        }
    });
    _tickThread = _thread.get_id();
    return kSuccess;
}

int32_t ZVDisplayLink::stop() {
    std::thread thread;
    bool fromTick = false;
    {
        ZVLockGuard<ZVMutex> g(_lock);
        if (!_run) return kSuccess;
        {
            std::lock_guard<std::mutex> l(_run->m);
            _run->stop.store(true, std::memory_order_release);
        }
        _run->wake.notify_all();
        fromTick = _tickThread == std::this_thread::get_id();
        _running.store(false, std::memory_order_release);
        thread = std::move(_thread);
        _run.reset();
        _tickThread = {};
    }
    // Joined outside the lock: the last tick may still ask isRunning or setOutputCallback.
    // A tick that stops its own link lets its thread finish on its own.
    if (fromTick)
        thread.detach();
    else if (thread.joinable())
        thread.join();
    return kSuccess;
}
