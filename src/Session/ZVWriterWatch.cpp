#include "Session/ZVWriterWatch.h"

#include <chrono>
#include <thread>

#include "Foundation/ZVNotificationCenter.h"
#include "Foundation/ZVTime.h"

ZVWriterWatch::~ZVWriterWatch() {
    ZVNotificationCenter::defaultCenter().removeObserver(this);
}

void ZVWriterWatch::watch(const ZVStage* writer, std::string_view didStart,
                          std::string_view didStop) {
    auto& center = ZVNotificationCenter::defaultCenter();
    center.addObserver(this, didStart, writer, [this](const ZVNotification&) { _started = true; });
    center.addObserver(this, didStop, writer, [this](const ZVNotification& n) {
        if (const ZVValue* why = n.userInfo.get("Error")) {
            ZVLockGuard guard(_errorLock);
            _error = why->stringValue();
        }
        _stopped = true;
    });
}

std::string ZVWriterWatch::error() const {
    ZVLockGuard guard(_errorLock);
    return _error;
}

void ZVWriterWatch::stopAndWait(const std::function<void()>& stop) {
    if (stopped()) return;
    stop();
    ZVPollUntil([this] { return stopped(); }, 2);
}
