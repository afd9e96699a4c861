#include "Foundation/ZVRunLoop.h"

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

ZVRunLoop& ZVRunLoop::main() {
    // Leaked: hand-offs from late workers may arrive while the process exits.
    static auto* loop = new ZVRunLoop;
    return *loop;
}

ZVRunLoop::ZVRunLoop() : _wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void ZVRunLoop::post(Event event) {
    ZVLockGuard g(_lock);
    // Only the first event of a batch wakes a watcher; runOnce takes them all.
    if (_events.empty() && _wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(_wakeFd, &one, sizeof one);
    }
    _events.push_back(std::move(event));
    _posted.notifyAll();
}

size_t ZVRunLoop::runOnce() {
    std::deque<Event> batch;
    {
        ZVLockGuard g(_lock);
        batch.swap(_events);
        // Reset under the lock, so a post after the swap leaves the descriptor readable.
        if (_wakeFd >= 0) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = read(_wakeFd, &count, sizeof count);
        }
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
        clock::duration slice =
            std::min<clock::duration>(deadline - now, std::chrono::milliseconds(10));
        ZVLockGuard g(_lock);
        _posted.waitFor(_lock, slice, [&]() ZV_REQUIRES(_lock) { return !_events.empty(); });
    }
}

size_t ZVRunLoop::pending() {
    ZVLockGuard g(_lock);
    return _events.size();
}

bool ZVIsMainThread() {
    return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}
