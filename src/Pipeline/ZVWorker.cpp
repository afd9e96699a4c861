#include "Pipeline/ZVWorker.h"

#include <cxxabi.h>

#include <typeinfo>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"

bool ZVWorker::claimLaunch() {
    if (isRunning()) return false;
    bool expected = false;
    if (!_launched.compare_exchange_strong(expected, true)) return false;
    _stopNow.store(false, std::memory_order_relaxed);
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
    return true;
}

bool ZVWorker::pause(bool paused) {
    if (!isRunning() || isPaused() == paused) return false;
    _paused.store(paused, std::memory_order_relaxed);
    return true;
}

void ZVWorker::finalize() {
    _finalize.store(true, std::memory_order_relaxed);
    _paused.store(false, std::memory_order_relaxed);
}

void ZVWorker::stopSelf() {
    if (_stopSelf)
        _stopSelf();
    else
        requestStop();
}

bool ZVWaitUntilAccepts(ZVDataDestination& destination, const std::function<bool()>& giveUp) {
    while (!destination.canAcceptObject()) {
        if (giveUp && giveUp()) return false;
        std::this_thread::sleep_for(ZVWorker::kIdleSleep);
    }
    return true;
}
