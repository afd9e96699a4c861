#include "Video/ZVSnap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Video/ZVCursorGrab.h"
#include "Video/ZVDisplayServer.h"
#include "Video/ZVMovieFrame.h"
#include "Video/ZVScreen.h"

std::shared_ptr<ZVSnap> ZVSnap::initWithCaptureRect(ZVRect rect,
                                                    const ZVPlatformServices& services) {
    return std::shared_ptr<ZVSnap>(new ZVSnap(rect, services));
}

template <typename OnFailure>
void ZVSnap::readRect(ZVRect rect, ZVPixelBuffer& buffer, const ZVPlatformServices& services,
                      OnFailure&& onFailure) {
    for (const auto& screen : ZVScreen::cachedScreens(services)) {
        const ZVRect piece = ZVIntersectionRect(rect, screen->frame());
        if (piece.isEmpty()) continue;
        const int32_t column = static_cast<int32_t>(piece.origin.x - rect.origin.x);
        const int32_t row = static_cast<int32_t>(piece.origin.y - rect.origin.y);
        const int32_t width = buffer.pixelsWidth(), height = buffer.pixelsHeight();
        if (column < 0 || row < 0 || column >= width || row >= height) continue;
        // Stride and base are asked for each piece.
        const uint32_t stride = static_cast<uint32_t>(buffer.bytesPerRow());
        uint8_t* base = buffer.baseAddress();
        if (!base) return;
        uint8_t* at = base + size_t(row) * stride + size_t(column) * 4;
        try {
            // Never past the buffer, whatever the rectangle and the buffer disagree on.
            ZVRect fit = piece;
            fit.size.width = std::min(piece.size.width, float(width - column));
            fit.size.height = std::min(piece.size.height, float(height - row));
            readPartialScreenToBuffer(fit, *screen, at, stride);
        } catch (const ZVException& e) {
            onFailure(*screen, e);
        }
    }
}

bool ZVSnap::readStraight(ZVRect rect, ZVPixelBuffer& buffer, const ZVPlatformServices& services) {
    ZVPixelStorage* storage = buffer.coreVideoPixelBuffer();
    if (!storage || float(storage->width()) != rect.size.width ||
        float(storage->height()) != rect.size.height)
        return false;
    if (!ZVDisplayServer::from(services)->readRectIntoBuffer(rect, *storage)) return false;
    // The server wrote the top line first: bottom-up rows start at the last one.
    buffer.setNegativeStride(true);
    buffer.setAlphaIgnored(true);
    return true;
}

bool ZVSnap::readRectStraightIntoBuffer(ZVPixelBuffer& buffer) {
    return readStraight(_captureRect, buffer, _services);
}

void ZVSnap::readRectToBuffer(ZVPixelBuffer& buffer) {
    readRect(_captureRect, buffer, _services, [](const ZVScreen& screen, const ZVException& e) {
        ZVLog("Screen #%u could not be read: %s", screen.number(), e.reason().c_str());
    });
}

void ZVSnap::readPartialScreenToBuffer(ZVRect piece, const ZVScreen& screen,
                                       uint8_t* bufferBaseAddress, uint32_t bufferBytesPerRow) {
    if (!screen.description().active) return;
    ZVDisplayServer& server = screen.server();
    if (std::string why = server.unavailableReason(); !why.empty())
        throw ZVException("ZVSnap", why);
    // Display space: origin at the display's top-left, y down.
    const ZVRect f = screen.frame();
    const ZVRect local =
        ZVMakeRect(piece.origin.x - f.origin.x,
                   f.size.height - (piece.origin.y - f.origin.y) - piece.size.height,
                   piece.size.width, piece.size.height);
    const uint32_t rows = static_cast<uint32_t>(std::max(0.0f, piece.size.height));
    const uint32_t bytes = static_cast<uint32_t>(std::max(0.0f, piece.size.width)) * 4;
    server.readDisplayRect(screen.number(), local, bufferBaseAddress, bufferBytesPerRow, rows,
                           bytes);
}

bool ZVSnap::captureRectLiesOnActiveDisplays() const {
    return rectLiesOnActiveDisplays(_captureRect, _services);
}

bool ZVSnap::rectLiesOnActiveDisplays(ZVRect rect, const ZVPlatformServices& services) {
    if (rect.isEmpty()) return true;
    std::vector<ZVRect> pieces;
    std::vector<float> xs{rect.minX(), rect.maxX()}, ys{rect.minY(), rect.maxY()};
    for (const auto& screen : ZVScreen::cachedScreens(services)) {
        if (!screen->description().active) continue;
        ZVRect p = ZVIntersectionRect(rect, screen->frame());
        if (p.isEmpty()) continue;
        pieces.push_back(p);
        xs.insert(xs.end(), {p.minX(), p.maxX()});
        ys.insert(ys.end(), {p.minY(), p.maxY()});
    }
    // Every cell of the grid the pieces' edges make must lie in some piece.
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
        if (xs[i + 1] <= xs[i]) continue;
        for (size_t j = 0; j + 1 < ys.size(); ++j) {
            if (ys[j + 1] <= ys[j]) continue;
            const float cx = (xs[i] + xs[i + 1]) / 2, cy = (ys[j] + ys[j + 1]) / 2;
            bool covered = std::any_of(pieces.begin(), pieces.end(), [&](const ZVRect& p) {
                return cx > p.minX() && cx < p.maxX() && cy > p.minY() && cy < p.maxY();
            });
            if (!covered) return false;
        }
    }
    return true;
}

std::shared_ptr<ZVImage> ZVSnap::snapFromRect(ZVRect rect, bool withCursor,
                                              const ZVPlatformServices& services) {
    std::shared_ptr<ZVMovieFrame> frame;
    try {
        frame = ZVMovieFrame::movieFrameWithSize(rect.size);
    } catch (const ZVException& e) {
        ZVLog("%s: %s", e.name().c_str(), e.reason().c_str());
        return nullptr;
    }
    if (!frame) return nullptr;
    // Pixels on no display would show whatever the pooled buffer held before.
    const bool whole = rectLiesOnActiveDisplays(rect, services);
    if (!whole || !readStraight(rect, *frame, services)) {
        if (!whole) frame->clearBuffer();
        readRect(rect, *frame, services, [](const ZVScreen& screen, const ZVException& e) {
            ZVRunAlertPanel(e.reason(), ZVFormat(kZVSnapScreenReadFailureFormat,
                                                 static_cast<int>(screen.number())));
        });
    }
    frame->flipBufferContents();  // top-down, the order the cursor drawing counts rows in
    if (withCursor) {
        auto server = ZVDisplayServer::from(services);
        ZVCursorInfo info = ORVGetCurrentCursorDataSize(*server);
        void* bytes = std::malloc(size_t(std::max(info.size, 1)));
        if (!bytes) {
            ZVLog("%s", kZVSnapCursorMallocFailure);
            return nullptr;
        }
        if (ORVGetCurrentCursor(*server, &info, bytes) == 0) {
            const ZVPoint mouse = server->mouseLocation();
            const ZVPoint at{mouse.x - rect.origin.x, mouse.y - rect.origin.y};
            ZVCursorEntry entry;
            entry.info = info;
            const auto* b = static_cast<const uint8_t*>(bytes);
            entry.data = std::make_shared<const std::vector<uint8_t>>(b, b + info.size);
            frame->drawCursor(entry, at);
        }
        std::free(bytes);
    }
    frame->flipBufferContents();
    return imageFromCGImageRef(frame->createRGBImageFromBufferData());
}

std::shared_ptr<ZVImage> ZVSnap::imageFromCGImageRef(const std::shared_ptr<ZVImage>& image) {
    return image;
}

std::shared_ptr<ZVImage> ZVSnap::GrabWindow(int32_t windowNumber, bool withShadow,
                                            const ZVPlatformServices& services) {
    auto raw = ZVDisplayServer::from(services)->windowImage(windowNumber, withShadow);
    if (!raw) return nullptr;
    return imageFromCGImageRef(ZVImage::create(raw->width, raw->height, ZVImage::Format::BGRX,
                                               raw->pixels.data(), raw->bytesPerRow));
}
