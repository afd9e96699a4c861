#pragma once
// What the recorder tests share: a destination that keeps each frame's record (not its
// pixels, so long runs stay small) and can refuse on demand, a scripted host, and a fake
// display server for the deterministic corners (one 640x480 display of one colour, a
// cursor the test sets).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Zorvan.h"

namespace zvtest {

struct FrameRecord {
    ZVFrameInfo info;
    std::vector<uint8_t> keyStrokes;
    int32_t pixelsWidth = 0;
    int32_t pixelsHeight = 0;
};

// Keeps the record of every frame added; refuses while closed. Any thread.
class FrameLog : public ZVDataDestination {
  public:
    bool canAcceptObject() override {
        if (_open.load()) return true;
        _refusals.fetch_add(1);
        return false;
    }
    void addObject(ZVObjectRef object) override {
        auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(object);
        FrameRecord r{};
        if (frame) {
            r = {frame->info(), frame->keyStrokes(), frame->pixelsWidth(), frame->pixelsHeight()};
        }
        std::lock_guard<std::mutex> g(_lock);
        _records.push_back(std::move(r));
        if (keepLast) _last = frame;
    }
    void setOpen(bool open) { _open.store(open); }
    int refusals() const { return _refusals.load(); }
    size_t count() {
        std::lock_guard<std::mutex> g(_lock);
        return _records.size();
    }
    std::vector<FrameRecord> records() {
        std::lock_guard<std::mutex> g(_lock);
        return _records;
    }
    std::shared_ptr<ZVMovieFrame> last() {
        std::lock_guard<std::mutex> g(_lock);
        return _last;
    }
    // Waits until at least `n` more frames than now have come; false after `seconds`.
    bool waitForMore(size_t n, double seconds = 5) {
        size_t target = count() + n;
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (count() < target) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    std::atomic<bool> keepLast{false};

  private:
    std::mutex _lock;  // guards _records and _last
    std::vector<FrameRecord> _records;
    std::shared_ptr<ZVMovieFrame> _last;
    std::atomic<bool> _open{true};
    std::atomic<int> _refusals{0};
};

// A host that implements what the test gives it; the rest stays nullopt.
class ScriptedHost : public ZVHostApplication {
  public:
    std::optional<int64_t> keyCode;
    std::optional<uint32_t> flags;
    std::optional<bool> repeating;
    std::optional<std::vector<uint8_t>> keyStrokes;
    std::optional<int64_t> buttons;

    std::optional<int64_t> getKeyCode() override { return keyCode; }
    std::optional<uint32_t> getFlags() override { return flags; }
    std::optional<bool> isKeyRepeating() override { return repeating; }
    std::optional<std::vector<uint8_t>> getKeyStrokesStack() override { return keyStrokes; }
    std::optional<int64_t> getMouseButtonsState() override { return buttons; }
};

// One active 640x480 display at the desktop origin whose pixels read as 0xFF336699; a
// cursor the test sets (seed and image) and a pointer it places.
class FakeDisplayServer : public ZVDisplayServer {
  public:
    std::string unavailableReason() override { return {}; }
    std::vector<ZVDisplayDescription> displays() override {
        ZVDisplayDescription d;
        d.displayID = 1;
        d.name = "FAKE";
        d.frame = ZVMakeRect(0, 0, 640, 480);
        d.primary = d.online = d.active = true;
        d.refreshRate = 60;
        return {d};
    }
    std::vector<ZVDisplayDescription> cachedDisplays() override { return displays(); }
    bool readDisplayRect(uint32_t, const ZVRect& rect, uint8_t* bottomLeft, uint32_t stride,
                         uint32_t maxRows, uint32_t maxBytesPerRow) override {
        uint32_t rows = std::min<uint32_t>(uint32_t(rect.size.height), maxRows);
        uint32_t bytes = std::min<uint32_t>(uint32_t(rect.size.width) * 4, maxBytesPerRow);
        for (uint32_t r = 0; r < rows; ++r) {
            for (uint32_t b = 0; b + 4 <= bytes; b += 4) {
                const uint32_t px = 0xFF336699;
                std::memcpy(bottomLeft + size_t(r) * stride + b, &px, 4);
            }
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
    bool isZoomed() override { return zoomed.load(); }

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
    std::mutex _lock;  // guards the cursor, its seed and the pointer
    std::optional<ZVCursorImage> _cursor;
    uint32_t _seed = 0;
    ZVPoint _mouse{};
};

}  // namespace zvtest
