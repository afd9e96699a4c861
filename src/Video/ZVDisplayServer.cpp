#include "Video/ZVDisplayServer.h"

#include "Foundation/ZVMutex.h"
#include "ZorvanTesting.h"

namespace {
// What a process without a display platform sees: no displays, nothing to read.
class ZVNoDisplayServer : public ZVDisplayServer {
  public:
    std::string unavailableReason() override { return "no display server is installed"; }
    std::vector<ZVDisplayDescription> displays() override { return {}; }
    std::vector<ZVDisplayDescription> cachedDisplays() override { return {}; }
    bool readDisplayRect(uint32_t, const ZVRect&, uint8_t*, uint32_t, uint32_t, uint32_t) override {
        return false;
    }
    std::optional<ZVCursorImage> currentCursor() override { return std::nullopt; }
    uint32_t cursorSeed() override { return 0; }
    bool isCursorVisible() override { return false; }
    ZVPoint mouseLocation() override { return {}; }
    std::optional<ZVRawImage> windowImage(int32_t, bool) override { return std::nullopt; }
};

ZVMutex gServerLock;  // guards gServer and gFactory
std::shared_ptr<ZVDisplayServer> gServer ZV_GUARDED_BY(gServerLock);
// A plain pointer, so that it is set before any constructor runs and a platform may
// install it from its own static initialiser.
ZVDisplayServer::Factory gFactory ZV_GUARDED_BY(gServerLock) = nullptr;
}  // namespace

bool ZVCursorImage::isHidden() const {
    for (size_t i = 3; i < pixels.size(); i += 4)
        if (pixels[i] != 0) return false;
    return true;
}

std::shared_ptr<ZVDisplayServer> ZVDisplayServer::shared() {
    ZVLockGuard<ZVMutex> g(gServerLock);
    if (!gServer) gServer = gFactory ? gFactory() : std::make_shared<ZVNoDisplayServer>();
    return gServer;
}

void ZVSetSharedDisplayServer(std::shared_ptr<ZVDisplayServer> server) {
    ZVLockGuard<ZVMutex> g(gServerLock);
    gServer = std::move(server);
}

void ZVDisplayServer::setFactory(Factory factory) {
    ZVLockGuard<ZVMutex> g(gServerLock);
    gFactory = factory;
    gServer.reset();
}
