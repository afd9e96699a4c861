#include "Video/ZVDisplayServer.h"

#include "Foundation/ZVMutex.h"
#include "Platform/X11/ZVX11DisplayServer.h"

namespace {
ZVMutex gServerLock;  // guards gServer
std::shared_ptr<ZVDisplayServer> gServer ZV_GUARDED_BY(gServerLock);
}  // namespace

bool ZVCursorImage::isHidden() const {
    for (size_t i = 3; i < pixels.size(); i += 4)
        if (pixels[i] != 0) return false;
    return true;
}

std::shared_ptr<ZVDisplayServer> ZVDisplayServer::shared() {
    ZVLockGuard<ZVMutex> g(gServerLock);
    if (!gServer) gServer = std::make_shared<ZVX11DisplayServer>();
    return gServer;
}

void ZVDisplayServer::setShared(std::shared_ptr<ZVDisplayServer> server) {
    ZVLockGuard<ZVMutex> g(gServerLock);
    gServer = std::move(server);
}
