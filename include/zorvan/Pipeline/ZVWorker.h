#pragma once
// One worker thread of a stage and the flags that drive it. A stage holds one ZVWorker per
// thread it runs (the movie writer holds one per track). The caller's thread and the worker
// write the flags; a worker that has nothing to do sleeps on its queue or on its own
// condition, and every change of a flag wakes it, so it never wakes to look.
//
// The life of a worker: claimLaunch() (caller) -> launch() -> the body marks itself
// running() once its files or devices are open, runs loop() with consume() or produce()
// passes, and returns; the worker then clears keepRunning, gives up its launch claim and
// runs the stage's last act (posting did-stop), whatever the body threw.
//
// End of stream: a consumer that pops the end mark (or, once finalized, finds its source
// empty) ends its run with the stage's own stop, and reachedEnd() tells the stage to pass
// the mark on to its destination.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVDataFlow.h"

enum class ZVStep {
    Worked,  // did something (or was woken); go on at once
    Idle,    // nothing to do now; wait for a change of the flags (a while for a foreign end)
};

class ZVWorker {
  public:
    // How long a worker waits before asking again an end that cannot wait (not a queue:
    // a test's scripted source, a host's own source).
    static constexpr auto kForeignPoll = std::chrono::milliseconds(10);

    // Claims the right to launch: false when a worker runs or is being launched, so two
    // quick starts launch one worker. On true it has cleared stopNow and the end of the
    // last run, and the caller must call launch(). Any thread.
    bool claimLaunch();

    // Starts the detached worker thread. It holds `owner` (the stage) for its whole life,
    // so the stage lives until both the host and its worker have let go. `stopSelf` is
    // what the loop calls when its source ends (the stage's own stop, so it posts what
    // stop posts); by default it sets stopNow. Caller of claimLaunch only.
    void launch(std::shared_ptr<void> owner, std::function<void()> body,
                std::function<void()> lastAct, std::function<void()> stopSelf = {});

    // The common operations of a stage; each answers whether it changed anything, so the
    // stage knows whether to post. Each wakes the worker. Any thread.
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
    // Any thread.
    void requestStop();

    // Worker only: preparations are done (before posting did-start).
    void running() { _keepRunning.store(true, std::memory_order_relaxed); }
    // Worker only: the loop should go on.
    bool shouldContinue() const { return isRunning() && !stopRequested(); }

    // Worker only: the common loop. While running and not stopped: sleep while paused,
    // else run one pass, and wait for a change after an idle one.
    template <typename Pass>
    void loop(Pass&& pass) {
        while (shouldContinue()) {
            if (isPaused()) {
                waitWhilePaused();
                continue;
            }
            if (pass() == ZVStep::Idle) idle();
        }
    }

    // Worker only: the next object of `source`, waiting for it; the end mark, also when a
    // finalized source is empty; neither when stop, pause or a flush woke the wait.
    ZVPopped take(ZVDataSource& source);

    // Worker only: one consumer pass. Takes the next object and hands it to `work` (which
    // owns it); at the end of the stream the stage stops itself.
    template <typename Work>
    ZVStep consume(ZVDataSource& source, Work&& work) {
        ZVPopped popped = take(source);
        if (popped.object) {
            // Taken as a pause came: it waits for the end of the pause, and a stop drops it.
            if (isPaused()) waitWhilePaused();
            if (shouldContinue()) work(std::move(popped.object));
        } else if (popped.ended) {
            endOfStream();
        }
        return ZVStep::Worked;
    }

    // Worker only: waits until `destination` accepts; false when stop or pause (or a
    // flush) came first.
    bool waitForRoom(ZVDataDestination& destination);

    // Worker only: one producer pass. A refusing destination is never added to: the pass
    // waits for room. `make` adds what it made and answers how it went.
    template <typename Make>
    ZVStep produce(ZVDataDestination& destination, Make&& make) {
        if (!waitForRoom(destination)) return ZVStep::Worked;
        return make();
    }

    // Worker only: the stream ended here; the run ends through the stage's own stop and
    // reachedEnd() answers true.
    void endOfStream();
    // Worker only: the run's source ended (the worker passes the mark on).
    void markEnded() { _ended.store(true, std::memory_order_relaxed); }
    bool reachedEnd() const { return _ended.load(std::memory_order_relaxed); }

    // Worker only: sleeps until the pause ends (or stop / finalize).
    void waitWhilePaused();
    // Worker only: sleeps until a flag changes or nudge() is called, or up to `limit`.
    void idle(ZVWaitTime limit = kForeignPoll);
    // Wakes idle() as a flag change does: for a source with an event of its own (a capture
    // device's "frames arrived"). Any thread.
    void nudge() { wake(); }

    // How often workers of this process woke from a wait (a pause, a queue, an idle pass).
    // A pipeline with nothing to do must not raise it. Any thread (for tests).
    static uint64_t wakeUps() { return sWakeUps.load(std::memory_order_relaxed); }

  private:
    // The worker's own wait, and who to wake while it waits on a source or destination.
    bool interrupted() const;
    void wake();
    static void countWakeUp() { sWakeUps.fetch_add(1, std::memory_order_relaxed); }

    std::atomic<bool> _keepRunning{false};
    std::atomic<bool> _stopNow{false};
    std::atomic<bool> _paused{false};
    std::atomic<bool> _finalize{false};
    std::atomic<bool> _ended{false};
    // Set from claimLaunch until the worker has ended, so a second start launches nothing.
    std::atomic<bool> _launched{false};
    // Written by launch before the thread starts, read only by that thread.
    std::function<void()> _stopSelf;

    // Guards the two ends the worker waits on now; wake() calls them under it, so an end
    // is never woken after the worker let go of it. Lock order: this lock, then the end's.
    ZVMutex _waitLock;
    ZVCondition _changed;  // a flag changed (waits on _waitLock)
    ZVDataSource* _waitingSource ZV_GUARDED_BY(_waitLock) = nullptr;
    ZVDataDestination* _waitingDestination ZV_GUARDED_BY(_waitLock) = nullptr;
    uint64_t _changes ZV_GUARDED_BY(_waitLock) = 0;  // flag changes, for idle()

    static inline std::atomic<uint64_t> sWakeUps{0};
};

// Waits up to `timeout` until `destination` accepts, for a producer that runs inside
// another component's callback (the display-link tick, the compression output): a queue is
// waited on; an end that cannot wait is asked again every kForeignPoll. False when it still
// refuses, or `interrupted` answered true. Any thread.
bool ZVWaitUntilAccepts(ZVDataDestination& destination, ZVWaitTime timeout,
                        const ZVInterrupt& interrupted);
