#pragma once
// The narrow interface through which the screen classes reach the display server: the
// display list, reads of a display rectangle, the cursor, the pointer and window pictures.
// The X11 implementation lives in Platform/X11 and reaches the screen classes in the
// platform services (Platform/ZVPlatformDefaults); tests hand in services with a fake.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVPlatformServices.h"
#include "Video/ZVDamage.h"

class ZVPixelStorage;

// One display (a RandR monitor on X11) as the screen list shows it.
struct ZVDisplayDescription {
    uint32_t displayID = 0;  // stable for the display's life (the monitor's name atom)
    std::string name;        // the server's own name for it ("LEFT", "HDMI-1")
    ZVRect frame;            // desktop space: bottom-left of the primary display, y up
    bool primary = false;
    bool online = false;                     // connected
    bool active = false;                     // drawable: has a CRTC (or no outputs at all)
    bool asleep = false;                     // DPMS enabled and not On
    std::optional<std::string> productName;  // EDID monitor name; nullopt without one
    double refreshRate = 0;                  // Hz from the mode; 0 when unknown (Xvfb)
};

// The current cursor image, unpacked: 32-bit words in memory order B, G, R, A with
// straight (not premultiplied) alpha, rows top-down, `width * 4` bytes apart.
struct ZVCursorImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t hotX = 0;  // from the image's top-left corner
    int32_t hotY = 0;
    uint32_t serial = 0;  // changes with the image (an earlier image brings its serial back)
    std::vector<uint8_t> pixels;
    // Hidden: no pixel has any coverage (an invisible cursor, or none at all).
    bool isHidden() const;
};

// A picture as the server gave it: rows top-down, 4 bytes per pixel (B, G, R, X).
struct ZVRawImage {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t bytesPerRow = 0;
    std::vector<uint8_t> pixels;
};

class ZVDisplayServer {
  public:
    virtual ~ZVDisplayServer() = default;

    // Empty when the server can be used from this thread; otherwise one clear line that
    // says why not (a Wayland session, no X display). Any thread.
    virtual std::string unavailableReason() = 0;

    // The displays, primary first, frames in desktop space. Empty when unavailable.
    // Any thread.
    virtual std::vector<ZVDisplayDescription> displays() = 0;

    // The same list from a cache that is renewed when the layout changes or after a short
    // while; meant for the capture tick, which asks for it on every frame. Any thread.
    virtual std::vector<ZVDisplayDescription> cachedDisplays() = 0;

    // Copies `rect` of display `displayID` (display space: origin at the display's
    // top-left, y down, whole pixels) bottom-up: the rectangle's top line goes to
    // `bottomLeft + (rows - 1) * stride`, its bottom line to `bottomLeft`. At most
    // `maxRows` rows of `maxBytesPerRow` bytes are written; each pixel's fourth byte is
    // set to 0xFF. False (nothing written) when the image cannot be made. Any thread.
    virtual bool readDisplayRect(uint32_t displayID, const ZVRect& rect, uint8_t* bottomLeft,
                                 uint32_t stride, uint32_t maxRows, uint32_t maxBytesPerRow) = 0;

    // Reads `desktopRect` (whole pixels, lying wholly on active displays) in one piece
    // straight into the memory of `buffer`, which has the rectangle's size: its top line
    // first in memory, rows `buffer.bytesPerRow()` apart, each pixel's fourth byte as the
    // server leaves it. Only where the server can write into the buffer's memory itself
    // (the rows have no padding, the memory is shared with the server); false, nothing
    // written, otherwise: the caller then reads display by display. Any thread.
    virtual bool readRectIntoBuffer(const ZVRect& /*desktopRect*/, ZVPixelStorage& /*buffer*/) {
        return false;
    }

    // Where `desktopRect` (whole pixels) changed since the calling thread last asked about
    // the same rectangle, in pixels from its top-left corner (row 0 its top line), clipped
    // to it; the server forgets what it handed over. Asked before the pixels are read, so
    // that a change made meanwhile is in this answer or the next. nullopt when the server
    // cannot say: the first time, after a question about another rectangle, or when it
    // does not track changes; the reader then compares the whole picture. Any thread.
    virtual std::optional<ZVDamage> takeDamage(const ZVRect& /*desktopRect*/) {
        return std::nullopt;
    }

    // The cursor shown now; nullopt when the server cannot say. Any thread.
    virtual std::optional<ZVCursorImage> currentCursor() = 0;

    // The cursor-change counter (cheap: no pixels travel). 0 when unknown. Any thread.
    virtual uint32_t cursorSeed() = 0;

    // Whether a cursor with visible pixels is shown. Any thread.
    virtual bool isCursorVisible() = 0;

    // The pointer position in desktop space. Any thread.
    virtual ZVPoint mouseLocation() = 0;

    // A rectangle in the server's own coordinates (the X11 root window: origin top-left,
    // y down), as users type it, in desktop space. A server whose own space is the desktop
    // space keeps the default. Any thread.
    virtual ZVRect desktopRectFromNative(const ZVRect& native) { return native; }

    // A picture of one window: the client window itself, or with shadow its frame (the
    // top-level window the window manager put around it), clipped to the screen; nullopt
    // for an unmapped or unknown window. Any thread.
    virtual std::optional<ZVRawImage> windowImage(int32_t window, bool withShadow) = 0;

    // Why the calling thread's connection to the server broke (the server went away or
    // closed it), as one line; given once, then empty until it breaks again. Empty for a
    // server that cannot be lost. Any thread.
    virtual std::string takeLostReason() { return {}; }

    // Screen magnification: never on X11. Any thread.
    virtual bool isZoomed() { return false; }

    // Whether the server draws the cursor into the pixels it gives (a screen cast that
    // offers no cursor of its own): a player then must not draw a second one. Any thread.
    virtual bool cursorInFrames() { return false; }

    // Pixels per desktop unit on the display that holds `desktopRect`'s origin (2 on a
    // HiDPI output whose picture has twice the desktop's resolution). Any thread.
    virtual double pixelScale(const ZVRect& /*desktopRect*/) { return 1; }

    // The server of `services`; when they hold none, one without displays that says so.
    // Any thread.
    static std::shared_ptr<ZVDisplayServer> from(const ZVPlatformServices& services);
};
