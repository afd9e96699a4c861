#pragma once
// One worker thread of a stage and the four flags that drive it. A stage holds one
// ZVWorker per thread it runs (the movie writer holds three). The caller's thread and the
// worker write the flags; the worker polls them every 10 ms, so relaxed atomics suffice.
//
// The life of a worker: claimLaunch() (caller) -> launch() -> the body marks itself
// running() once its files or devices are open, runs loop() with consume() or produce()
// passes, and returns; the worker then clears keepRunning, gives up its launch claim and
// runs the stage's last act (posting did-stop), whatever the body threw.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "Pipeline/ZVDataFlow.h"

enum class ZVStep {
    Worked,  // did something; go on at once
    Idle,    // nothing to do now; sleep 10 ms
};

class ZVWorker {
  public:
    static constexpr auto kIdleSleep = std::chrono::milliseconds(10);
    static constexpr auto kSuspendSleep = std::chrono::milliseconds(1);

    // Claims the right to launch: false when a worker runs or is being launched, so two
    // quick starts launch one worker. On true it has cleared stopNow, and the caller must
    // call launch(). Any thread.
    bool claimLaunch();

    // Starts the detached worker thread. It holds `owner` (the stage) for its whole life,
    // so the stage lives until both the host and its worker have let go. `stopSelf` is
    // what the loop calls when a finalized source runs dry (the stage's own stop, so it
    // posts what stop posts); by default it sets stopNow. Caller of claimLaunch only.
    void launch(std::shared_ptr<void> owner, std::function<void()> body,
                std::function<void()> lastAct, std::function<void()> stopSelf = {});

    // The common operations of a stage; each answers whether it changed anything, so the
    // stage knows whether to post. Any thread.
    bool stop();              // if running: set stopNow
    bool pause(bool paused);  // if running and different: store it
    void finalize();          // set finalize, clear pause, running or not
    bool isPaused() const { return _paused.load(std::memory_order_relaxed); }
    bool isRunning() const { return _keepRunning.load(std::memory_order_relaxed); }
    bool isFinalizing() const { return _finalize.load(std::memory_order_relaxed); }
    bool isLaunched() const { return _launched.load(std::memory_order_relaxed); }
    bool stopRequested() const { return _stopNow.load(std::memory_order_relaxed); }
    void clearFinalize() { _finalize.store(false, std::memory_order_relaxed); }
    // Asks the loop to end at its next check, whether or not the worker is running yet.
    void requestStop() { _stopNow.store(true, std::memory_order_relaxed); }

    // Worker only: preparations are done (before posting did-start).
    void running() { _keepRunning.store(true, std::memory_order_relaxed); }
    // Worker only: the loop should go on.
    bool shouldContinue() const { return isRunning() && !stopRequested(); }

    // Worker only: the common loop. While running and not stopped: sleep while paused,
    // else run one pass and sleep when it was idle.
    template <typename Pass>
    void loop(Pass&& pass) {
        while (shouldContinue()) {
            if (isPaused()) {
                std::this_thread::sleep_for(kIdleSleep);
                continue;
            }
            if (pass() == ZVStep::Idle) std::this_thread::sleep_for(kIdleSleep);
        }
    }

    // Worker only: one consumer pass. Takes the next object and hands it to `work` (which
    // owns it); with nothing ready, a finalized stage stops itself, others idle.
    template <typename Work>
    ZVStep consume(ZVDataSource& source, Work&& work) {
        if (ZVObjectRef object = source.nextObject()) {
            work(std::move(object));
            return ZVStep::Worked;
        }
        if (isFinalizing()) {
            stopSelf();
            return ZVStep::Worked;
        }
        return ZVStep::Idle;
    }

    // Worker only: one producer pass. A refusing destination is never added to; the pass
    // idles and asks again. `make` adds what it made and answers how it went.
    template <typename Make>
    ZVStep produce(ZVDataDestination& destination, Make&& make) {
        if (!destination.canAcceptObject()) return ZVStep::Idle;
        return make();
    }

    // Worker only: the stage's stop, as given to launch.
    void stopSelf();

  private:
    std::atomic<bool> _keepRunning{false};
    std::atomic<bool> _stopNow{false};
    std::atomic<bool> _paused{false};
    std::atomic<bool> _finalize{false};
    // Set from claimLaunch until the worker has ended, so a second start launches nothing.
    std::atomic<bool> _launched{false};
    // Written by launch before the thread starts, read only by that thread.
    std::function<void()> _stopSelf;
};

// Blocks the calling producer until `destination` accepts, polling every 10 ms, as
// producers do that run inside another component's callback (the display-link tick, the
// compression output). Returns false if `giveUp` answered true first.
bool ZVWaitUntilAccepts(ZVDataDestination& destination, const std::function<bool()>& giveUp);
