#pragma once
// The one fake display server of the tests: the displays the test lists (by default one
// active 640x480 display at the desktop origin), pixels of one colour or of each display's
// own id byte, a cursor and a pointer the test sets, reads it can make fail and a log of
// every read. Any thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ZorvanInternal.h"

namespace zvtest {

class FakeDisplayServer : public ZVDisplayServer {
  public:
    FakeDisplayServer() {
        ZVDisplayDescription d;
        d.displayID = 1;
        d.name = "FAKE";
        d.frame = ZVMakeRect(0, 0, 640, 480);
        d.primary = d.online = d.active = true;
        d.refreshRate = 60;
        _displays = {d};
    }

    std::string unavailableReason() override {
        std::lock_guard<std::mutex> g(_lock);
        return _reason;
    }
    std::vector<ZVDisplayDescription> displays() override {
        std::lock_guard<std::mutex> g(_lock);
        return _displays;
    }
    std::vector<ZVDisplayDescription> cachedDisplays() override { return displays(); }
    bool readDisplayRect(uint32_t id, const ZVRect& rect, uint8_t* bottomLeft, uint32_t stride,
                         uint32_t maxRows, uint32_t maxBytesPerRow) override {
        if (int ms = _freezeNextRead.exchange(0))
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        std::lock_guard<std::mutex> g(_lock);
        _reads.emplace_back(id, rect);
        const uint32_t rows = std::min<uint32_t>(uint32_t(rect.size.height), maxRows);
        const uint32_t bytes = std::min<uint32_t>(uint32_t(rect.size.width) * 4, maxBytesPerRow);
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* row = bottomLeft + size_t(r) * stride;
            if (_fillWithDisplayID) {
                std::memset(row, int(id), bytes);
                continue;
            }
            for (uint32_t b = 0; b + 4 <= bytes; b += 4) std::memcpy(row + b, &_colour, 4);
        }
        return true;
    }
    std::optional<ZVCursorImage> currentCursor() override {
        std::lock_guard<std::mutex> g(_lock);
        if (!_cursor) return std::nullopt;
        ZVCursorImage image = *_cursor;
        image.serial = _seed;
        return image;
    }
    uint32_t cursorSeed() override {
        std::lock_guard<std::mutex> g(_lock);
        return _seed;
    }
    bool isCursorVisible() override {
        std::lock_guard<std::mutex> g(_lock);
        return _cursor && !_cursor->isHidden();
    }
    ZVPoint mouseLocation() override {
        std::lock_guard<std::mutex> g(_lock);
        return _mouse;
    }
    std::optional<ZVRawImage> windowImage(int32_t, bool) override { return std::nullopt; }
    std::string takeLostReason() override {
        std::lock_guard<std::mutex> g(_lock);
        return std::exchange(_lost, std::string());
    }
    bool isZoomed() override { return zoomed.load(); }

    void setDisplays(std::vector<ZVDisplayDescription> displays) {
        std::lock_guard<std::mutex> g(_lock);
        _displays = std::move(displays);
    }
    // Non-empty: the server is unavailable and every screen read fails.
    void setUnavailable(std::string reason) {
        std::lock_guard<std::mutex> g(_lock);
        _reason = std::move(reason);
    }
    // The connection breaks: the next takeLostReason() gives `reason`, once.
    void lose(std::string reason) {
        std::lock_guard<std::mutex> g(_lock);
        _lost = std::move(reason);
    }
    // The next read takes `ms` longer, as when the machine freezes in the middle of a tick.
    void freezeNextRead(int ms) { _freezeNextRead = ms; }
    // Each display's pixels are its id byte instead of the colour 0xFF336699.
    void fillWithDisplayID() {
        std::lock_guard<std::mutex> g(_lock);
        _fillWithDisplayID = true;
    }
    // (display id, display-space rectangle) of every read so far.
    std::vector<std::pair<uint32_t, ZVRect>> reads() {
        std::lock_guard<std::mutex> g(_lock);
        return _reads;
    }
    // A w x h cursor of one BGRA colour (alpha 0 hides it), shown from now on with `seed`.
    void showCursor(uint32_t seed, int w, int h, uint32_t bgra) {
        ZVCursorImage image;
        image.width = w;
        image.height = h;
        image.hotX = 1;
        image.hotY = 2;
        image.pixels.resize(size_t(w) * h * 4);
        for (size_t i = 0; i < image.pixels.size(); i += 4) std::memcpy(&image.pixels[i], &bgra, 4);
        std::lock_guard<std::mutex> g(_lock);
        _cursor = std::move(image);
        _seed = seed;
    }
    void setMouse(ZVPoint p) {
        std::lock_guard<std::mutex> g(_lock);
        _mouse = p;
    }
    std::atomic<bool> zoomed{false};

  private:
    std::atomic<int> _freezeNextRead{0};  // milliseconds; read without the lock
    std::mutex _lock;                     // guards everything below
    std::vector<ZVDisplayDescription> _displays;
    std::string _reason;
    std::string _lost;
    bool _fillWithDisplayID = false;
    uint32_t _colour = 0xFF336699;
    std::vector<std::pair<uint32_t, ZVRect>> _reads;
    std::optional<ZVCursorImage> _cursor;
    uint32_t _seed = 0;
    ZVPoint _mouse{};
};

// The platform's services with `server` in place of its display server.
inline ZVPlatformServices withDisplay(std::shared_ptr<ZVDisplayServer> server) {
    ZVPlatformServices services = ZVPlatformDefaults();
    services.displayServer = std::move(server);
    return services;
}

}  // namespace zvtest
