#include "Platform/X11/ZVX11Damage.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>

#include "Platform/X11/ZVX11Connection.h"

namespace {
// `r` (root space) clipped to the rectangle at (x, y) of w x h, from its corner; false
// when nothing of it is inside.
bool clipped(const xcb_rectangle_t& r, int32_t x, int32_t y, int32_t w, int32_t h,
             ZVDamageRect& out) {
    const int32_t x0 = std::max<int32_t>(r.x, x), y0 = std::max<int32_t>(r.y, y);
    const int32_t x1 = std::min<int32_t>(r.x + r.width, x + w);
    const int32_t y1 = std::min<int32_t>(r.y + r.height, y + h);
    if (x1 <= x0 || y1 <= y0) return false;
    out = ZVDamageRect{x0 - x, y0 - y, x1 - x0, y1 - y0};
    return true;
}
}  // namespace

std::optional<ZVDamage> ZVX11DamageTracker::take(int32_t x, int32_t y, int32_t w, int32_t h) {
    if (!_c.hasDamage() || _broken) return std::nullopt;
    xcb_connection_t* xc = _c.xcb();
    const Rect asked{x, y, w, h};
    if (!_damage) {
        // Everything drawn from here on is gathered; this first read compares in full.
        _region = xcb_generate_id(xc);
        _damage = xcb_generate_id(xc);
        xcb_void_cookie_t region = xcb_xfixes_create_region_checked(xc, _region, 0, nullptr);
        xcb_void_cookie_t damage =
            xcb_damage_create_checked(xc, _damage, _c.root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        for (xcb_void_cookie_t cookie : {region, damage}) {
            if (xcb_generic_error_t* e = xcb_request_check(xc, cookie)) {
                free(e);
                _broken = true;
            }
        }
        _last = asked;
        return std::nullopt;
    }
    // The subtract's error, if any, is known once the later fetch has answered: checking
    // it then costs no round trip.
    xcb_void_cookie_t subtract = xcb_damage_subtract_checked(xc, _damage, XCB_NONE, _region);
    xcb_xfixes_fetch_region_reply_t* reply =
        xcb_xfixes_fetch_region_reply(xc, xcb_xfixes_fetch_region(xc, _region), nullptr);
    xcb_generic_error_t* e = xcb_request_check(xc, subtract);
    const bool same = _last == asked;
    _last = asked;
    if (e || !reply) {
        free(e);
        free(reply);
        _broken = true;
        return std::nullopt;
    }
    std::optional<ZVDamage> out;
    if (same) {
        out.emplace();
        const int n = xcb_xfixes_fetch_region_rectangles_length(reply);
        const xcb_rectangle_t* rects = xcb_xfixes_fetch_region_rectangles(reply);
        ZVDamageRect r;
        if (n > kMostRects) {
            if (clipped(reply->extents, x, y, w, h, r)) out->push_back(r);
        } else {
            for (int i = 0; i < n; ++i)
                if (clipped(rects[i], x, y, w, h, r)) out->push_back(r);
        }
    }
    free(reply);
    return out;
}
