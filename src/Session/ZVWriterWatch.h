#pragma once
// Follows one writer stage's did-start and did-stop through its notifications, so a track
// can tell the session when its writer may be finalized and when it has drained.
#include <atomic>
#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

#include "Foundation/ZVNotificationCenter.h"
#include "Pipeline/ZVStage.h"

class ZVWriterWatch {
  public:
    ZVWriterWatch() = default;
    ~ZVWriterWatch() { ZVNotificationCenter::defaultCenter().removeObserver(this); }
    ZVWriterWatch(const ZVWriterWatch&) = delete;
    ZVWriterWatch& operator=(const ZVWriterWatch&) = delete;

    // Starts following `writer` (borrowed); call before the writer starts. Main thread.
    void watch(const ZVStage* writer, std::string_view didStart, std::string_view didStop) {
        auto& center = ZVNotificationCenter::defaultCenter();
        center.addObserver(this, didStart, writer, [this](const ZVNotification&) { _started = true; });
        center.addObserver(this, didStop, writer, [this](const ZVNotification&) { _stopped = true; });
    }
    // Any thread.
    bool started() const { return _started.load(); }
    bool stopped() const { return _stopped.load(); }

    // For a writer the session gave up on: asks it to stop and gives its worker up to two
    // seconds, since that worker reads a queue the track is about to destroy. Main thread.
    void stopAndWait(const std::function<void()>& stop) {
        if (stopped()) return;
        stop();
        for (int i = 0; i < 200 && !stopped(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

  private:
    // Set on the writer's worker thread, read on the main thread.
    std::atomic<bool> _started{false};
    std::atomic<bool> _stopped{false};
};
