#include "Export/ZVKeyStripRenderer.h"

#include "Foundation/ZVMutex.h"

namespace {
ZVMutex gSharedLock;  // guards gShared
std::shared_ptr<ZVKeyStripRenderer> gShared ZV_GUARDED_BY(gSharedLock);
}  // namespace

std::shared_ptr<ZVKeyStripRenderer> ZVKeyStripRenderer::shared() {
    ZVLockGuard guard(gSharedLock);
    return gShared;
}

void ZVKeyStripRenderer::setShared(std::shared_ptr<ZVKeyStripRenderer> renderer) {
    ZVLockGuard guard(gSharedLock);
    gShared = std::move(renderer);
}
