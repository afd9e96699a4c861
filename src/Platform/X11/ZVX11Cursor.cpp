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
        img.pixels.clear();
    }
    free(r);
    // The image is the cursor shown now, unless a change was announced meanwhile (the
    // next drain forgets it again).
    c.cursor.serial = img.serial;
    c.cursor.hidden = img.isHidden();
    c.cursor.known = c.cursor.eventsSelected;
    return img;
}

namespace {
// The serial and visibility of the cursor shown now: from the connection's knowledge while
// no change was announced, else from a fresh image. False when no image can be had.
bool refreshCursorState(ZVX11Connection& c) {
    if (!c.hasXFixes()) return false;
    if (!c.cursor.eventsSelected) {
        // Selected before the image is fetched, so no change can fall between the two.
        xcb_xfixes_select_cursor_input(c.xcb(), c.root(),
                                       XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        c.cursor.eventsSelected = true;
        c.cursor.known = false;
    }
    c.drainEvents();
    if (c.cursor.known) return true;
    auto img = ZVX11GetCursorImage(c);  // updates the state
    return img.has_value();
}
}  // namespace

uint32_t ZVX11CursorSerial(ZVX11Connection& c) {
    return refreshCursorState(c) ? c.cursor.serial : 0;
}

bool ZVX11CursorVisible(ZVX11Connection& c) {
    return refreshCursorState(c) && !c.cursor.hidden;
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
