#pragma once
// Reads pixels off the screen. A ZVSnap copies its capture rectangle of the desktop, which
// may lie across several displays, into a pixel buffer; the screen recorder owns one and
// calls it on every tick. The class operations take still pictures of a rectangle (with
// the cursor drawn in when asked) and of one window for the host.
#include <cstdint>
#include <memory>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Video/ZVImage.h"

class ZVDisplayServer;
class ZVPixelBuffer;
class ZVScreen;

// Messages of the still picture.
inline constexpr const char* kZVSnapCursorMallocFailure =
    "ME-1: snapFromRect:withCursor: failed at malloc error.";
inline constexpr const char* kZVSnapScreenReadFailureFormat =
    "Orvell was unable to read pixel data from screen #%d due to OpenGL initialization error";

class ZVSnap {
  public:
    // A snapper for `rect` (desktop space), stored as given, reading the screens of the
    // services' display server. Any thread.
    static std::shared_ptr<ZVSnap> initWithCaptureRect(
        ZVRect rect, const ZVPlatformServices& services = ZVPlatformDefaults());

    // Holds the lock that pairs a read with a change of the rectangle. Any thread.
    void lockFocus() ZV_ACQUIRE(_lock) { _lock.lock(); }
    void unlockFocus() ZV_RELEASE(_lock) { _lock.unlock(); }

    // The rectangle; the caller holds lockFocus. Any thread.
    void setCaptureRect(ZVRect rect) ZV_REQUIRES(_lock) { _captureRect = rect; }
    ZVRect captureRect() const ZV_REQUIRES(_lock) { return _captureRect; }

    // Copies the capture rectangle from every display into `buffer`, bottom-up (buffer row
    // r is the desktop line origin.y + r), each display's piece at its offset. Pixels on no
    // active display are not written. The buffer is at least the rectangle's size. The
    // caller holds lockFocus. Capture tick (any thread).
    void readRectToBuffer(ZVPixelBuffer& buffer) ZV_REQUIRES(_lock);

    // Reads the capture rectangle in one piece straight into the buffer's own memory where
    // the display server can (ZVDisplayServer::readRectIntoBuffer): the buffer (of the
    // rectangle's size) then has a negative stride, its rows bottom-up as in the other
    // reads, and its fourth bytes ignored. The caller has made sure that the rectangle
    // lies on active displays. False, with the buffer unchanged, where the server cannot.
    // The caller holds lockFocus. Capture tick (any thread).
    bool readRectStraightIntoBuffer(ZVPixelBuffer& buffer) ZV_REQUIRES(_lock);

    // Whether every pixel of the capture rectangle lies on an active display, so that a read
    // overwrites the whole buffer and clearing it first is wasted work. The caller holds
    // lockFocus. Any thread.
    bool captureRectLiesOnActiveDisplays() const ZV_REQUIRES(_lock);
    // The same for any rectangle (desktop space). Any thread.
    static bool rectLiesOnActiveDisplays(ZVRect rect,
                                         const ZVPlatformServices& services = ZVPlatformDefaults());

    // Copies one piece (desktop space, lying on `screen`) from that display: the piece's
    // bottom line goes to `bufferBaseAddress`, lines above it `bufferBytesPerRow` bytes
    // further each. Nothing is written for an inactive display or an image that cannot be
    // made. Throws ZVException when the screen's display server cannot be reached. Any
    // thread.
    static void readPartialScreenToBuffer(ZVRect piece, const ZVScreen& screen,
                                          uint8_t* bufferBaseAddress, uint32_t bufferBytesPerRow);

    // A still picture of `rect` (desktop space), with the cursor drawn in when `withCursor`;
    // nullptr when no frame or no memory for the cursor could be had. A display that cannot
    // be read is reported in an alert and the others are still read. Any thread (the alert
    // blocks the caller).
    static std::shared_ptr<ZVImage> snapFromRect(
        ZVRect rect, bool withCursor, const ZVPlatformServices& services = ZVPlatformDefaults());

    // The host's image of a picture: here the same image, shared. Any thread.
    static std::shared_ptr<ZVImage> imageFromCGImageRef(const std::shared_ptr<ZVImage>& image);

    // A picture of one window: the window alone, or with its frame and shadow; nullptr for
    // an unknown or unmapped window. Any thread.
    static std::shared_ptr<ZVImage> GrabWindow(
        int32_t windowNumber, bool withShadow,
        const ZVPlatformServices& services = ZVPlatformDefaults());

  private:
    ZVSnap(ZVRect rect, const ZVPlatformServices& services)
        : _captureRect(rect), _services(services) {}

    // Algorithm of readRectToBuffer for any rectangle, writing at most the buffer's size;
    // `onFailure` is called for a display whose read threw.
    template <typename OnFailure>
    static void readRect(ZVRect rect, ZVPixelBuffer& buffer, const ZVPlatformServices& services,
                         OnFailure&& onFailure);
    // Algorithm of readRectStraightIntoBuffer for any rectangle.
    static bool readStraight(ZVRect rect, ZVPixelBuffer& buffer,
                             const ZVPlatformServices& services);

    ZVRect _captureRect ZV_GUARDED_BY(_lock);
    const ZVPlatformServices _services;
    ZVMutex _lock;  // pairs a read with a change of the rectangle (see lockFocus)
};
