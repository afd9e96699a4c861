#pragma once
// A stage run by one worker thread, with its delegate: start / stop / pause / finalize
// and the delegate pointer, written once for every such stage. A stage launches its body
// with launchWorker; the base passes the end of the stream on to the destination when the
// run reached it, and posts the stage's did-stop as the worker's last act.
#include <atomic>
#include <functional>
#include <string_view>

#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVWorker.h"

template <typename Delegate>
class ZVWorkerStage : public ZVStage {
  public:
    // Asks the worker to end at its next check; what its source still holds is left.
    // Any thread.
    virtual void stop() { _worker.stop(); }
    // Sets or clears the pause flag of a running worker. Any thread.
    virtual void pause(bool paused) { _worker.pause(paused); }
    bool isPaused() const { return _worker.isPaused(); }
    // Makes the worker end after what its source still holds. Any thread.
    void finalize() { _worker.finalize(); }
    // The worker has done its preparations and not yet ended. Any thread.
    bool isRunning() const { return _worker.isRunning(); }
    // True from start until the worker's did-stop. Any thread.
    bool isLaunched() const { return _worker.isLaunched(); }

    // Not owned; nullptr for none. Its calls come on the main thread. Any thread.
    void setDelegate(Delegate* delegate) { _delegate.store(delegate); }
    Delegate* delegate() const { return _delegate.load(); }

  protected:
    ZVWorkerStage() = default;

    // Launches `body` on a new worker unless one runs (false then). The last run's failure
    // is forgotten; the stage's stop ends a run whose source ended; `didStop` is posted
    // (with {"Error"} after a failure) as the worker's last act. `claimed` runs once the
    // launch is claimed, before the worker starts. Any thread.
    bool launchWorker(std::function<void()> body, std::string_view didStop,
                      const std::function<void()>& claimed = {}) {
        if (!_worker.claimLaunch()) return false;
        clearFailure();
        if (claimed) claimed();
        _worker.launch(
            owner(),
            [this, body = std::move(body)] {
                body();
                // After everything the run added: the next stage ends where this one did.
                if (_worker.reachedEnd()) destination().addEndOfStream();
            },
            [this, didStop] { postDidStop(didStop); }, [this] { stop(); });
        return true;
    }

    ZVWorker _worker;

  private:
    std::atomic<Delegate*> _delegate{nullptr};
};
