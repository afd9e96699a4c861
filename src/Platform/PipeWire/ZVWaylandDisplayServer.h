#pragma once
#include "ZVPrivate.h"  // library-internal

// The display server on Wayland: what the desktop portal's screen cast granted, one
// display per granted stream, read from the newest frame of each stream. The grant is
// asked for on first use (the portal may show its dialog then), once.
#include <atomic>
#include <memory>

#include "Foundation/ZVMutex.h"
#include "Platform/PipeWire/ZVScreenCastGrant.h"
#include "Video/ZVDisplayServer.h"

class ZVPipeWireConnection;
class ZVPipeWireStream;

class ZVWaylandDisplayServer : public ZVDisplayServer {
  public:
    // Nothing is asked for until the first call. Any thread.
    ZVWaylandDisplayServer(ZVScreenCastOpener opener, ZVScreenCastRequest request);
    ~ZVWaylandDisplayServer() override;

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
    bool cursorInFrames() override;
    double pixelScale(const ZVRect& desktopRect) override;

  private:
    struct Output;
    // Where a stream's picture lies now: its frame in desktop space, pixels per unit.
    struct Placement {
        ZVRect desktop;
        double scale = 1;
    };

    // Asks for the grant and connects its streams the first time; true when usable.
    bool ensureOpen() ZV_EXCLUDES(_openLock);
    void open() ZV_REQUIRES(_openLock);
    Placement placement(const Output& output) const;
    // The output `desktopRect` lies wholly on at one pixel per unit, with the rectangle in
    // its frame's pixels (from the top-left) in *inFrame; nullptr when there is none.
    const Output* straightOutput(const ZVRect& desktopRect, ZVDamageRect* inFrame) const;
    // The output whose stream last said where the cursor is, or nullptr.
    const Output* cursorOutput() const;

    ZVScreenCastOpener _opener;
    ZVScreenCastRequest _request;
    ZVMutex _openLock;  // serialises the first use; the fields below are written once under
                        // it, before _opened is set, and only read after
    std::atomic<bool> _opened{false};
    std::string _error;
    uint32_t _cursorMode = kZVCursorHidden;
    std::shared_ptr<void> _portalSession;               // the portal ends the streams when it goes
    std::shared_ptr<ZVPipeWireConnection> _connection;  // outlives the streams below
    std::vector<Output> _outputs;
    std::atomic<bool> _lostTold{false};
};
