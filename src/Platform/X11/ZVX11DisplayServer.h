#pragma once
#include "ZVPrivate.h"  // library-internal

// The display server on X11: every call uses the calling thread's own connection.
#include <chrono>

#include "Foundation/ZVMutex.h"
#include "Platform/X11/ZVX11Monitors.h"
#include "Video/ZVDisplayServer.h"

class ZVX11DisplayServer : public ZVDisplayServer {
  public:
    std::string unavailableReason() override;
    std::vector<ZVDisplayDescription> displays() override;
    std::vector<ZVDisplayDescription> cachedDisplays() override;
    bool readDisplayRect(uint32_t displayID, const ZVRect& rect, uint8_t* bottomLeft,
                         uint32_t stride, uint32_t maxRows, uint32_t maxBytesPerRow) override;
    bool readRectIntoBuffer(const ZVRect& desktopRect, ZVPixelStorage& buffer) override;
    std::optional<ZVDamage> takeDamage(const ZVRect& desktopRect) override;
    std::optional<ZVCursorImage> currentCursor() override;
    uint32_t cursorSeed() override;
    bool isCursorVisible() override;
    ZVPoint mouseLocation() override;
    ZVRect desktopRectFromNative(const ZVRect& native) override;
    std::optional<ZVRawImage> windowImage(int32_t window, bool withShadow) override;
    std::string takeLostReason() override;

    // Forgets the cached monitor list, so the next read asks the server. Any thread.
    void invalidateCache();

  private:
    // The monitor list with root-space frames, from the cache when it is fresh.
    std::vector<ZVX11Monitor> monitors(bool fresh) ZV_EXCLUDES(_cacheLock);
    // `desktopRect`'s top-left corner in root space (the primary monitor's bottom-left is
    // the desktop's origin); false without monitors.
    bool rootCorner(const ZVRect& desktopRect, int32_t& x, int32_t& y) ZV_EXCLUDES(_cacheLock);

    ZVMutex _cacheLock;  // guards the two fields below
    std::vector<ZVX11Monitor> _cache ZV_GUARDED_BY(_cacheLock);
    std::chrono::steady_clock::time_point _cacheTime ZV_GUARDED_BY(_cacheLock);
};
