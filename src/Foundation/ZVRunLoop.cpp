#include "Foundation/ZVRunLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

ZVRunLoop& ZVRunLoop::main() {
    // Leaked: hand-offs from late workers may arrive while the process exits.
    static auto* loop = new ZVRunLoop;
    return *loop;
}

void ZVRunLoop::post(Event event) {
    ZVLockGuard g(_lock);
    _events.push_back(std::move(event));
    _posted.notifyAll();
}

size_t ZVRunLoop::runOnce() {
    std::deque<Event> batch;
    {
        ZVLockGuard g(_lock);
        batch.swap(_events);
    }
    for (auto& e : batch) e();
    return batch.size();
}

bool ZVRunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(
                                       std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        runOnce();
        if (done()) return true;
        auto now = clock::now();
        if (now >= deadline) return false;
        clock::duration slice = std::min<clock::duration>(deadline - now, std::chrono::milliseconds(10));
        ZVLockGuard g(_lock);
        _posted.waitFor(_lock, slice, [&]() ZV_REQUIRES(_lock) { return !_events.empty(); });
    }
}

size_t ZVRunLoop::pending() {
    ZVLockGuard g(_lock);
    return _events.size();
}

bool ZVIsMainThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }
