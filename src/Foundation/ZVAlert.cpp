#include "Foundation/ZVAlert.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "Foundation/ZVLog.h"

namespace {
// Guards the handler slot; leaked so late workers can still raise alerts at exit.
std::mutex& handlerLock() {
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<ZVAlertHandler>& handlerSlot() {
    static auto* h = new std::shared_ptr<ZVAlertHandler>;
    return *h;
}
}  // namespace

void ZVSetAlertHandler(ZVAlertHandler handler) {
    std::lock_guard<std::mutex> g(handlerLock());
    handlerSlot() = handler ? std::make_shared<ZVAlertHandler>(std::move(handler)) : nullptr;
}

void ZVRunAlertPanel(const std::string& title, const std::string& message) {
    std::shared_ptr<ZVAlertHandler> h;
    {
        std::lock_guard<std::mutex> g(handlerLock());
        h = handlerSlot();
    }
    if (h) {
        (*h)(title, message);
        return;
    }
    ZVLog("Alert: %s: %s", title.c_str(), message.c_str());
    std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
}
