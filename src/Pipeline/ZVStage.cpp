#include "Pipeline/ZVStage.h"

#include "Foundation/ZVRunLoop.h"

namespace {
// The answers of an unwired stage: nothing to read, everything accepted and dropped.
ZVDataSource gNoSource;
ZVDataDestination gNoDestination;
}  // namespace

ZVStage::~ZVStage() {
    if (_observing) ZVNotificationCenter::defaultCenter().removeObserver(this);
}

ZVDataSource& ZVStage::source() const {
    ZVDataSource* s = _source.load();
    return s ? *s : gNoSource;
}

ZVDataDestination& ZVStage::destination() const {
    ZVDataDestination* d = _destination.load();
    return d ? *d : gNoDestination;
}

void ZVStage::post(std::string_view name, ZVValue userInfo) {
    ZVNotificationCenter::defaultCenter().post(name, this, std::move(userInfo));
}

void ZVStage::postDidStop(std::string_view name) {
    ZVValue info;
    if (std::string why = failureReason(); !why.empty()) info.set("Error", std::move(why));
    post(name, std::move(info));
}

void ZVStage::fail(std::string reason) {
    ZVLockGuard guard(_failureLock);
    if (_failure.empty()) _failure = std::move(reason);
}

void ZVStage::clearFailure() {
    ZVLockGuard guard(_failureLock);
    _failure.clear();
}

std::string ZVStage::failureReason() const {
    ZVLockGuard guard(_failureLock);
    return _failure;
}

void ZVStage::forwardToDelegate(std::string_view name,
                                std::function<void(const ZVNotification&)> deliver) {
    _observing = true;
    ZVNotificationCenter::defaultCenter().addObserver(
        this, name, this, [this, deliver = std::move(deliver)](const ZVNotification& n) {
            if (ZVIsMainThread()) {
                deliver(n);
                return;
            }
            // The poster holds the stage; the hand-off keeps it until the call is made.
            // A notification posted from the destructor has no owner left and is dropped.
            auto self = weak_from_this().lock();
            if (!self) return;
            ZVRunLoop::main().post([self, deliver, n] { deliver(n); });
        });
}

void ZVStage::forwardCoalescedToDelegate(std::string_view name, std::function<bool()> wanted,
                                         std::function<void(const ZVNotification&)> deliver) {
    _observing = true;
    // Set while a delivery waits on the main run loop; shared with that delivery.
    auto waiting = std::make_shared<std::atomic<bool>>(false);
    ZVNotificationCenter::defaultCenter().addObserver(
        this, name, this,
        [this, wanted = std::move(wanted), deliver = std::move(deliver),
         waiting](const ZVNotification& n) {
            if (!wanted()) return;
            if (ZVIsMainThread()) {
                deliver(n);
                return;
            }
            if (waiting->exchange(true)) return;  // the waiting delivery stands for this one
            auto self = weak_from_this().lock();
            if (!self) {
                waiting->store(false);
                return;
            }
            ZVRunLoop::main().post([self, deliver, n, waiting] {
                // Cleared first: an event posted during the call gets a delivery of its own.
                waiting->store(false);
                deliver(n);
            });
        });
}
