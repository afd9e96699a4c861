#include "Platform/X11/ZVX11Cursor.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>

#include "Platform/X11/ZVX11Connection.h"

void ZVX11UnpremultiplyCursor(const uint32_t* argb, size_t count, uint8_t* bgra) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = argb[i] & 0xffffffffu;
        const uint32_t a = v >> 24;
        uint8_t* d = bgra + 4 * i;
        if (a == 0) {
            d[0] = d[1] = d[2] = d[3] = 0;
            continue;
        }
        auto straight = [a](uint32_t c) {
            return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
        };
        d[0] = straight(v & 0xff);
        d[1] = straight((v >> 8) & 0xff);
        d[2] = straight((v >> 16) & 0xff);
        d[3] = static_cast<uint8_t>(a);
    }
}

std::optional<ZVCursorImage> ZVX11GetCursorImage(ZVX11Connection& c) {
    if (!c.hasXFixes()) return std::nullopt;
    xcb_connection_t* x = c.xcb();
    auto* r = xcb_xfixes_get_cursor_image_reply(x, xcb_xfixes_get_cursor_image(x), nullptr);
    if (!r) return std::nullopt;
    ZVCursorImage img;
    img.width = r->width;
    img.height = r->height;
    img.hotX = r->xhot;
    img.hotY = r->yhot;
    img.serial = r->cursor_serial;
    const size_t n = size_t{r->width} * r->height;
    const int len = xcb_xfixes_get_cursor_image_cursor_image_length(r);
    if (len >= 0 && static_cast<size_t>(len) >= n) {
        img.pixels.resize(n * 4);
        ZVX11UnpremultiplyCursor(xcb_xfixes_get_cursor_image_cursor_image(r), n, img.pixels.data());
    } else {
        img.width = img.height = 0;
    }
    free(r);
    return img;
}

uint32_t ZVX11CursorSerial(ZVX11Connection& c) {
    // The serial travels with the image; the image of a cursor is small (a few KB), so
    // one request per call is cheaper than keeping an event queue in step.
    auto img = ZVX11GetCursorImage(c);
    return img ? img->serial : 0;
}

std::optional<std::pair<int32_t, int32_t>> ZVX11PointerPosition(ZVX11Connection& c) {
    xcb_connection_t* x = c.xcb();
    auto* r = xcb_query_pointer_reply(x, xcb_query_pointer(x, c.root()), nullptr);
    if (!r) return std::nullopt;
    std::optional<std::pair<int32_t, int32_t>> p;
    if (r->same_screen) p = std::make_pair(int32_t{r->root_x}, int32_t{r->root_y});
    free(r);
    return p;
}
