#include "Video/ZVDisplayServer.h"

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

}  // namespace

bool ZVCursorImage::isHidden() const {
    for (size_t i = 3; i < pixels.size(); i += 4)
        if (pixels[i] != 0) return false;
    return true;
}

std::shared_ptr<ZVDisplayServer> ZVDisplayServer::from(const ZVPlatformServices& services) {
    if (services.displayServer) return services.displayServer;
    static const auto none = std::make_shared<ZVNoDisplayServer>();
    return none;
}
