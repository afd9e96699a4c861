#include "Platform/X11/ZVX11DisplayServer.h"

#include "Platform/X11/ZVX11Connection.h"
#include "Platform/X11/ZVX11Cursor.h"
#include "Platform/X11/ZVX11Damage.h"
#include "Platform/X11/ZVX11ScreenReader.h"
#include "Platform/X11/ZVX11WindowImage.h"

namespace {
// A layout change shows in the capture within this time, without a round trip per tick.
constexpr auto kCacheLife = std::chrono::milliseconds(500);

std::vector<ZVDisplayDescription> describe(const std::vector<ZVX11Monitor>& list) {
    std::vector<ZVDisplayDescription> out;
    out.reserve(list.size());
    for (auto& m : list) out.push_back(m.description);
    return out;
}
}  // namespace

std::string ZVX11DisplayServer::unavailableReason() {
    return ZVX11Connection::unavailableReason();
}

std::string ZVX11DisplayServer::takeLostReason() {
    return ZVX11Connection::takeLostReason();
}

std::vector<ZVX11Monitor> ZVX11DisplayServer::monitors(bool fresh) {
    const auto now = std::chrono::steady_clock::now();
    if (!fresh) {
        ZVLockGuard<ZVMutex> g(_cacheLock);
        if (!_cache.empty() && now - _cacheTime < kCacheLife) return _cache;
    }
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    if (!c) return {};
    std::vector<ZVX11Monitor> list = ZVX11QueryMonitors(*c);
    ZVLockGuard<ZVMutex> g(_cacheLock);
    _cache = list;
    _cacheTime = now;
    return list;
}

void ZVX11DisplayServer::invalidateCache() {
    ZVLockGuard<ZVMutex> g(_cacheLock);
    _cache.clear();
}

std::vector<ZVDisplayDescription> ZVX11DisplayServer::displays() {
    return describe(monitors(true));
}

std::vector<ZVDisplayDescription> ZVX11DisplayServer::cachedDisplays() {
    return describe(monitors(false));
}

bool ZVX11DisplayServer::readDisplayRect(uint32_t displayID, const ZVRect& rect,
                                         uint8_t* bottomLeft, uint32_t stride, uint32_t maxRows,
                                         uint32_t maxBytesPerRow) {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    if (!c) return false;
    for (const ZVX11Monitor& m : monitors(false)) {
        if (m.description.displayID != displayID) continue;
        return ZVX11ReadRootRect(
            *c, m.rootX + static_cast<int32_t>(rect.origin.x),
            m.rootY + static_cast<int32_t>(rect.origin.y), static_cast<int32_t>(rect.size.width),
            static_cast<int32_t>(rect.size.height), bottomLeft, stride, maxRows, maxBytesPerRow);
    }
    return false;
}

bool ZVX11DisplayServer::rootCorner(const ZVRect& desktopRect, int32_t& x, int32_t& y) {
    const auto list = monitors(false);
    if (list.empty()) return false;
    // Desktop space counts from the primary monitor's bottom-left corner, y up.
    const ZVX11Monitor& p = list.front();
    x = p.rootX + static_cast<int32_t>(desktopRect.origin.x);
    y = p.rootY + p.height - static_cast<int32_t>(desktopRect.origin.y) -
        static_cast<int32_t>(desktopRect.size.height);
    return true;
}

bool ZVX11DisplayServer::readRectIntoBuffer(const ZVRect& desktopRect, ZVPixelStorage& buffer) {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    int32_t x = 0, y = 0;
    if (!c || !rootCorner(desktopRect, x, y)) return false;
    return ZVX11ReadRootRectInto(*c, x, y, static_cast<int32_t>(desktopRect.size.width),
                                 static_cast<int32_t>(desktopRect.size.height), buffer);
}

std::optional<ZVDamage> ZVX11DisplayServer::takeDamage(const ZVRect& desktopRect) {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    int32_t x = 0, y = 0;
    if (!c || !rootCorner(desktopRect, x, y)) return std::nullopt;
    return c->damage().take(x, y, static_cast<int32_t>(desktopRect.size.width),
                            static_cast<int32_t>(desktopRect.size.height));
}

std::optional<ZVCursorImage> ZVX11DisplayServer::currentCursor() {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    if (!c) return std::nullopt;
    return ZVX11GetCursorImage(*c);
}

uint32_t ZVX11DisplayServer::cursorSeed() {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    return c ? ZVX11CursorSerial(*c) : 0;
}

bool ZVX11DisplayServer::isCursorVisible() {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    return c && ZVX11CursorVisible(*c);
}

ZVPoint ZVX11DisplayServer::mouseLocation() {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    if (!c) return {};
    auto pos = ZVX11PointerPosition(*c);
    auto list = monitors(false);
    if (!pos || list.empty()) return {};
    return ZVX11DesktopPointFromRoot(list.front(), pos->first, pos->second);
}

ZVRect ZVX11DisplayServer::desktopRectFromNative(const ZVRect& native) {
    auto list = monitors(false);
    if (list.empty()) return native;
    const ZVX11Monitor& p = list.front();
    return ZVMakeRect(native.origin.x - static_cast<float>(p.rootX),
                      static_cast<float>(p.rootY + p.height) - native.origin.y - native.size.height,
                      native.size.width, native.size.height);
}

std::optional<ZVRawImage> ZVX11DisplayServer::windowImage(int32_t window, bool withShadow) {
    ZVX11Connection* c = ZVX11Connection::forThisThread();
    if (!c) return std::nullopt;
    return ZVX11GetWindowImage(*c, static_cast<uint32_t>(window), withShadow);
}
