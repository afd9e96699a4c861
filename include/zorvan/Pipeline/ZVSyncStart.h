#pragma once
// The synchronised start of the two recorders. Both begin suspended; the host gives each
// one common absolute start time and then lifts the suspension; at its first active moment
// each recorder notes how late that moment came after the common time.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Foundation/ZVTime.h"

class ZVSyncStart {
  public:
    // Any thread.
    void setRealStartTime(double t) { _realStartTime.store(t, std::memory_order_relaxed); }
    double realStartTime() const { return _realStartTime.load(std::memory_order_relaxed); }
    double startOffsetTime() const { return _startOffsetTime.load(std::memory_order_relaxed); }
    void setSuspended(bool s) {
        {
            std::lock_guard<std::mutex> g(_lock);
            _suspend.store(s, std::memory_order_relaxed);
        }
        _lifted.notify_all();
    }
    bool isSuspended() const { return _suspend.load(std::memory_order_relaxed); }
    // Waits until the suspension is lifted, at most `limit`; whether it still holds.
    // The recorder's thread.
    bool waitWhileSuspended(std::chrono::nanoseconds limit) {
        std::unique_lock<std::mutex> g(_lock);
        return !_lifted.wait_for(g, limit, [this] { return !isSuspended(); });
    }

    // The recorder's thread, at its first active moment: offset = now - real start time.
    void markFirstActiveMoment() {
        _startOffsetTime.store(ZVAbsoluteTimeGetCurrent() - realStartTime(),
                               std::memory_order_relaxed);
    }

    // A recorder that learns later when its first moment really was. Its own thread.
    void setStartOffsetTime(double offset) {
        _startOffsetTime.store(offset, std::memory_order_relaxed);
    }

  private:
    std::atomic<double> _realStartTime{0};
    std::atomic<double> _startOffsetTime{0};
    std::atomic<bool> _suspend{true};
    std::mutex _lock;                 // orders a lift after a waiter's last look
    std::condition_variable _lifted;  // the suspension was lifted
};
