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
