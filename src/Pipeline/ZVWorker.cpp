#include "Pipeline/ZVWorker.h"

#include <cxxabi.h>

#include <thread>
#include <typeinfo>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"

bool ZVWorker::claimLaunch() {
    if (isRunning()) return false;
    bool expected = false;
    if (!_launched.compare_exchange_strong(expected, true)) return false;
    _stopNow.store(false, std::memory_order_relaxed);
    _ended.store(false, std::memory_order_relaxed);
    return true;
}

namespace {
std::string typeName(const std::type_info& t) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(t.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : t.name();
    free(demangled);
    return name;
}
}  // namespace

void ZVWorker::launch(std::shared_ptr<void> owner, std::function<void()> body,
                      std::function<void()> lastAct, std::function<void()> stopSelf) {
    _stopSelf = std::move(stopSelf);
    std::thread([this, owner = std::move(owner), body = std::move(body),
                 lastAct = std::move(lastAct)]() mutable {
        try {
            body();
        } catch (const ZVException& e) {
            ZVRunAlertPanel(e.name(), e.reason());
        } catch (const std::exception& e) {
            // Never rethrown: an exception leaving a thread would end the host.
            ZVLog("Worker stopped by %s: %s", typeName(typeid(e)).c_str(), e.what());
        } catch (...) {
            ZVLog("Worker stopped by an unknown exception");
        }
        _keepRunning.store(false, std::memory_order_relaxed);
        // Give up the claim before the last act, so an observer of did-stop may start the
        // stage again.
        _launched.store(false, std::memory_order_relaxed);
        try {
            if (lastAct) lastAct();
        } catch (const std::exception& e) {
            ZVLog("Observer of a stage's stop threw %s: %s", typeName(typeid(e)).c_str(), e.what());
        }
        // `owner` goes last: the stage may be destroyed here, on its worker thread.
        owner.reset();
    }).detach();
}

bool ZVWorker::stop() {
    if (!isRunning()) return false;
    _stopNow.store(true, std::memory_order_relaxed);
    wake();
    return true;
}

void ZVWorker::requestStop() {
    _stopNow.store(true, std::memory_order_relaxed);
    wake();
}

bool ZVWorker::pause(bool paused) {
    if (!isRunning() || isPaused() == paused) return false;
    _paused.store(paused, std::memory_order_relaxed);
    wake();
    return true;
}

void ZVWorker::finalize() {
    _finalize.store(true, std::memory_order_relaxed);
    _paused.store(false, std::memory_order_relaxed);
    wake();
}

void ZVWorker::endOfStream() {
    markEnded();
    if (_stopSelf)
        _stopSelf();
    else
        requestStop();
}

bool ZVWorker::interrupted() const {
    return stopRequested() || isPaused() || isFinalizing();
}

void ZVWorker::wake() {
    {
        // The flag was stored before this lock was taken: a worker about to wait on an end
        // either sees the flag or is registered here and woken through that end.
        ZVLockGuard g(_waitLock);
        ++_changes;
        if (_waitingSource) _waitingSource->wakeConsumers();
        if (_waitingDestination) _waitingDestination->wakeProducers();
    }
    _changed.notifyAll();
}

ZVPopped ZVWorker::take(ZVDataSource& source) {
    if (!source.canWait()) {
        if (ZVObjectRef object = source.nextObject()) return {std::move(object), false};
        if (isFinalizing() && !stopRequested()) return {nullptr, true};
        idle();
        return {};
    }
    {
        ZVLockGuard g(_waitLock);
        _waitingSource = &source;
    }
    ZVPopped popped = source.popObject(kZVWaitForever, [this] { return interrupted(); });
    {
        ZVLockGuard g(_waitLock);
        _waitingSource = nullptr;
    }
    countWakeUp();
    if (popped.object || popped.ended || !isFinalizing() || stopRequested()) return popped;
    // Finalized: an empty source is the end of the stream.
    popped = source.popObject(ZVWaitTime::zero(), {});
    if (!popped.object) popped.ended = true;
    return popped;
}

bool ZVWorker::waitForRoom(ZVDataDestination& destination) {
    if (!destination.canWait()) {
        if (destination.canAcceptObject()) return true;
        idle();
        return false;
    }
    {
        ZVLockGuard g(_waitLock);
        _waitingDestination = &destination;
    }
    const bool room = destination.waitUntilAccepts(
        kZVWaitForever, [this] { return stopRequested() || isPaused(); });
    {
        ZVLockGuard g(_waitLock);
        _waitingDestination = nullptr;
    }
    countWakeUp();
    return room && !stopRequested() && !isPaused();
}

void ZVWorker::waitWhilePaused() {
    ZVLockGuard g(_waitLock);
    _changed.wait(_waitLock, [this] { return !isPaused() || stopRequested() || isFinalizing(); });
    countWakeUp();
}

void ZVWorker::idle(ZVWaitTime limit) {
    ZVLockGuard g(_waitLock);
    const uint64_t seen = _changes;
    _changed.waitFor(_waitLock, limit, [&]() ZV_REQUIRES(_waitLock) { return _changes != seen; });
    countWakeUp();
}

bool ZVWaitUntilAccepts(ZVDataDestination& destination, ZVWaitTime timeout,
                        const ZVInterrupt& interrupted) {
    if (destination.canWait()) return destination.waitUntilAccepts(timeout, interrupted);
    const auto start = std::chrono::steady_clock::now();
    while (!destination.canAcceptObject()) {
        if ((interrupted && interrupted()) ||
            (timeout != kZVWaitForever && std::chrono::steady_clock::now() - start >= timeout))
            return false;
        std::this_thread::sleep_for(ZVWorker::kForeignPoll);
    }
    return true;
}
