#pragma once
#include "ZVPrivate.h"  // library-internal

// Follows one writer stage's did-start and did-stop through its notifications, so a track
// can tell the session when its writer may be finalized, when it has drained, and why it
// stopped when it failed.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "Foundation/ZVMutex.h"

class ZVStage;

class ZVWriterWatch {
  public:
    ZVWriterWatch() = default;
    ~ZVWriterWatch();
    ZVWriterWatch(const ZVWriterWatch&) = delete;
    ZVWriterWatch& operator=(const ZVWriterWatch&) = delete;

    // Starts following `writer` (borrowed); call before the writer starts. Main thread.
    void watch(const ZVStage* writer, std::string_view didStart, std::string_view didStop);
    // Any thread.
    bool started() const { return _started.load(); }
    bool stopped() const { return _stopped.load(); }
    // The "Error" the did-stop carried; empty when none. Any thread.
    std::string error() const;

    // For a writer the session gave up on: asks it to stop and gives its worker up to two
    // seconds, since that worker reads a queue the track is about to destroy. Main thread.
    void stopAndWait(const std::function<void()>& stop);

  private:
    // Set on the writer's worker thread, read on the main thread.
    std::atomic<bool> _started{false};
    std::atomic<bool> _stopped{false};
    mutable ZVMutex _errorLock;  // guards _error
    std::string _error ZV_GUARDED_BY(_errorLock);
};
