#include "Platform/X11/ZVX11ScreenReader.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "Foundation/ZVLog.h"
#include "Platform/X11/ZVX11Connection.h"
#include "Video/ZVPixelBufferPool.h"

void ZVX11CopyOpaqueRows(const uint8_t* src, uint32_t srcStride, uint8_t* dstTop, int64_t dstStride,
                         uint32_t rows, uint32_t pixels, bool swap) {
    constexpr bool bigHost = std::endian::native == std::endian::big;
    // One loop per byte order, so the common one (a little-endian host and server) has no
    // test per pixel and compiles to a vectorised OR: this copy is most of a frame's cost.
    auto copy = [&](auto swapWords) {
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t* s = src + static_cast<size_t>(r) * srcStride;
            uint8_t* d = dstTop + static_cast<int64_t>(r) * dstStride;
            uint32_t i = 0;
            if constexpr (!decltype(swapWords)::value && !bigHost) {
                // Eight pixels at a time in a vector the compiler maps to SIMD registers.
                typedef uint32_t Pixels8 __attribute__((vector_size(32)));
                for (; i + 8 <= pixels; i += 8) {
                    Pixels8 v;
                    std::memcpy(&v, s + 4 * i, sizeof v);
                    v = (v & 0x00FFFFFFu) | 0xFF000000u;
                    std::memcpy(d + 4 * i, &v, sizeof v);
                }
            }
            for (; i < pixels; ++i) {
                uint32_t v;
                std::memcpy(&v, s + 4 * i, 4);
                if constexpr (decltype(swapWords)::value) v = __builtin_bswap32(v);
                // v now holds blue in its low byte; memory order B, G, R, then 0xFF where
                // the server leaves 0.
                uint32_t w = (v & 0x00FFFFFFu) | 0xFF000000u;
                if constexpr (bigHost) w = __builtin_bswap32(w);
                std::memcpy(d + 4 * i, &w, 4);
            }
        }
    };
    if (swap) {
        copy(std::true_type{});
    } else {
        copy(std::false_type{});
    }
}

bool ZVX11ReadRootRect(ZVX11Connection& c, int32_t x, int32_t y, int32_t w, int32_t h,
                       uint8_t* bottomLeft, uint32_t stride, uint32_t maxRows,
                       uint32_t maxBytesPerRow) {
    if (w <= 0 || h <= 0 || !bottomLeft) return false;
    if (c.bitsPerPixel() != 32) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            ZVLog("Screen reads need 32 bits per pixel; this X server uses %d", c.bitsPerPixel());
        return false;
    }
    // A request that reaches past the root is a BadMatch: read only the part inside it.
    const int32_t rootW = c.screen()->width_in_pixels;
    const int32_t rootH = c.screen()->height_in_pixels;
    const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int32_t x1 = std::min(x + w, rootW), y1 = std::min(y + h, rootH);
    if (x1 <= x0 || y1 <= y0) return false;
    const uint16_t cw = static_cast<uint16_t>(x1 - x0), ch = static_cast<uint16_t>(y1 - y0);

    // Where the clipped part lands: column (x0 - x); its top line (y0) is rectangle line
    // (y0 - y) from the top, which is destination row h - 1 - (y0 - y).
    const int64_t colBytes = int64_t{x0 - x} * 4;
    if (colBytes >= maxBytesPerRow) return false;
    const uint32_t pixels =
        static_cast<uint32_t>(std::min<int64_t>(cw, (int64_t{maxBytesPerRow} - colBytes) / 4));
    int64_t topRow = int64_t{h} - 1 - (y0 - y);
    // Rows at or above maxRows are skipped: start lower down in the source.
    uint32_t skip = 0;
    if (topRow >= int64_t{maxRows}) {
        skip = static_cast<uint32_t>(topRow - (int64_t{maxRows} - 1));
        topRow = int64_t{maxRows} - 1;
    }
    if (skip >= ch || topRow < 0) return false;
    const uint32_t rows = std::min<uint32_t>(ch - skip, static_cast<uint32_t>(topRow + 1));
    uint8_t* dstTop = bottomLeft + topRow * int64_t{stride} + colBytes;
    const bool swap = c.msbFirst() != (std::endian::native == std::endian::big);
    const uint32_t srcStride = uint32_t{cw} * 4;

    xcb_connection_t* xc = c.xcb();
    if (const auto* shm = c.shmFor(size_t{srcStride} * ch)) {
        xcb_generic_error_t* err = nullptr;
        auto* r = xcb_shm_get_image_reply(
            xc,
            xcb_shm_get_image(xc, c.root(), static_cast<int16_t>(x0), static_cast<int16_t>(y0), cw,
                              ch, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shm->seg, 0),
            &err);
        if (r) {
            free(r);
            ZVX11CopyOpaqueRows(shm->addr + size_t{skip} * srcStride, srcStride, dstTop,
                                -int64_t{stride}, rows, pixels, swap);
            return true;
        }
        free(err);
    }
    xcb_generic_error_t* err = nullptr;
    auto* r = xcb_get_image_reply(
        xc,
        xcb_get_image(xc, XCB_IMAGE_FORMAT_Z_PIXMAP, c.root(), static_cast<int16_t>(x0),
                      static_cast<int16_t>(y0), cw, ch, ~0u),
        &err);
    if (!r) {
        free(err);
        return false;
    }
    bool ok = false;
    if (xcb_get_image_data_length(r) >= static_cast<int>(srcStride * ch)) {
        ZVX11CopyOpaqueRows(xcb_get_image_data(r) + size_t{skip} * srcStride, srcStride, dstTop,
                            -int64_t{stride}, rows, pixels, swap);
        ok = true;
    }
    free(r);
    return ok;
}

bool ZVX11ReadRootRectInto(ZVX11Connection& c, int32_t x, int32_t y, int32_t w, int32_t h,
                           ZVPixelStorage& buffer) {
    if (w <= 0 || h <= 0 || buffer.width() != uint32_t(w) || buffer.height() != uint32_t(h) ||
        buffer.bytesPerRow() != size_t(w) * 4)
        return false;
    if (c.bitsPerPixel() != 32 || c.msbFirst() != (std::endian::native == std::endian::big))
        return false;
    if (x < 0 || y < 0 || x + w > c.screen()->width_in_pixels ||
        y + h > c.screen()->height_in_pixels)
        return false;
    const uint32_t seg = c.attachedSegment(buffer.memory());
    if (!seg) return false;
    xcb_connection_t* xc = c.xcb();
    xcb_generic_error_t* err = nullptr;
    auto* r = xcb_shm_get_image_reply(
        xc,
        xcb_shm_get_image(xc, c.root(), static_cast<int16_t>(x), static_cast<int16_t>(y),
                          static_cast<uint16_t>(w), static_cast<uint16_t>(h), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, seg, 0),
        &err);
    free(err);
    if (!r) return false;
    free(r);
    return true;
}
