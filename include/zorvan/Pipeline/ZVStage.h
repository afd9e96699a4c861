#pragma once
// What every stage shares: its data source and destination (borrowed, never owned; an
// unwired stage reads nothing and discards what it makes), posting its notifications,
// and handing them to its delegate on the main thread.
//
// Stages are always held by std::shared_ptr (their factories make them so): a hand-off to
// the main thread keeps the stage alive until the delegate has been called, so every
// delegate call arrives, in posting order. Per-frame events are the exception: they are
// handed over only while a delegate wants them, and at most one waits at a time (the
// delegate reads the latest state), so the main queue never grows with the frame rate.
//
// Failures: a stage that stops because something failed calls fail(reason) first; its
// did-stop notification then carries {"Error": reason} (none when it ended normally).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Foundation/ZVMutex.h"

#include "Foundation/ZVNotificationCenter.h"
#include "Pipeline/ZVDataFlow.h"

// The userInfo key of a stage's did-change-pause-state notification: the new state.
inline constexpr std::string_view kZVPauseStateKey = "PauseStateKey";

class ZVStage : public std::enable_shared_from_this<ZVStage> {
  public:
    virtual ~ZVStage();
    ZVStage(const ZVStage&) = delete;
    ZVStage& operator=(const ZVStage&) = delete;

    // The wiring code keeps source and destination alive while the stage runs. Any thread.
    void setDataSource(ZVDataSource* source) { _source.store(source); }
    ZVDataSource* dataSource() const { return _source.load(); }
    void setDataDestination(ZVDataDestination* destination) { _destination.store(destination); }
    ZVDataDestination* dataDestination() const { return _destination.load(); }

    // Why the stage last stopped for a failure; empty when it did not (or has not stopped
    // yet). Meant to be read after did-stop. Any thread.
    std::string failureReason() const ZV_EXCLUDES(_failureLock);

  protected:
    ZVStage() = default;

    // The wired source or destination, or the do-nothing default of an unwired stage.
    ZVDataSource& source() const;
    ZVDataDestination& destination() const;

    // Posts synchronously on this thread with the stage as object. Any thread.
    void post(std::string_view name, ZVValue userInfo = {});
    // Posts the stage's did-stop: with {"Error": reason} after fail(reason). Any thread.
    void postDidStop(std::string_view name);

    // Notes why the stage is stopping (the first reason of a run wins). Worker only.
    void fail(std::string reason) ZV_EXCLUDES(_failureLock);
    // Forgets the last run's failure; call when a run starts. Any thread.
    void clearFailure() ZV_EXCLUDES(_failureLock);

    // The stage's handler for one of its own notifications: `deliver` calls the delegate.
    // On the main thread it runs at once; elsewhere it is queued on the main run loop
    // without waiting. Call from the stage's factory, once per forwarded name.
    void forwardToDelegate(std::string_view name,
                           std::function<void(const ZVNotification&)> deliver);
    // The same for a per-frame event: nothing is handed over while `wanted` answers false
    // (no delegate), and while one delivery waits on the main run loop later posts are
    // folded into it. `wanted` is asked on the posting thread.
    void forwardCoalescedToDelegate(std::string_view name, std::function<bool()> wanted,
                                    std::function<void(const ZVNotification&)> deliver);

    // A worker's owner reference: the stage as a shared_ptr (nullptr while it is being
    // destroyed).
    std::shared_ptr<void> owner() { return weak_from_this().lock(); }

  private:
    std::atomic<ZVDataSource*> _source{nullptr};
    std::atomic<ZVDataDestination*> _destination{nullptr};
    bool _observing = false;       // set in the factory, before the stage is shared
    mutable ZVMutex _failureLock;  // guards _failure
    std::string _failure ZV_GUARDED_BY(_failureLock);
};
