#include "Video/ZVHostApplication.h"

#include <utility>

#include "Foundation/ZVMutex.h"

namespace {
struct SharedApplication {
    ZVMutex lock;  // guards application
    std::shared_ptr<ZVHostApplication> application ZV_GUARDED_BY(lock);
};

SharedApplication& shared() {
    static SharedApplication s;
    return s;
}
}  // namespace

void ZVSetSharedApplication(std::shared_ptr<ZVHostApplication> application) {
    auto& s = shared();
    std::shared_ptr<ZVHostApplication> old;
    {
        ZVLockGuard guard(s.lock);
        old = std::exchange(s.application, std::move(application));
    }
    // `old` is released outside the lock: its destructor may stop a thread.
}

std::shared_ptr<ZVHostApplication> ZVSharedApplication() {
    auto& s = shared();
    ZVLockGuard guard(s.lock);
    return s.application;
}
