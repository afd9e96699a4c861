#include "Platform/X11/ZVX11WindowImage.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "Platform/X11/ZVX11Connection.h"
#include "Platform/X11/ZVX11ScreenReader.h"

namespace {

// The child of the root that holds `w` (w itself when it is one); XCB_NONE on failure.
xcb_window_t topLevelOf(xcb_connection_t* x, xcb_window_t root, xcb_window_t w) {
    for (int depth = 0; depth < 64; ++depth) {
        auto* t = xcb_query_tree_reply(x, xcb_query_tree(x, w), nullptr);
        if (!t) return XCB_NONE;
        xcb_window_t parent = t->parent;
        free(t);
        if (parent == root || parent == XCB_NONE) return w;
        w = parent;
    }
    return XCB_NONE;
}

}  // namespace

std::optional<ZVRawImage> ZVX11GetWindowImage(ZVX11Connection& c, uint32_t window, bool withFrame) {
    xcb_connection_t* x = c.xcb();
    if (window == 0 || c.bitsPerPixel() != 32) return std::nullopt;
    xcb_window_t target = window;
    if (withFrame) {
        target = topLevelOf(x, c.root(), window);
        if (target == XCB_NONE) return std::nullopt;
    }
    auto* attr = xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, target), nullptr);
    if (!attr) return std::nullopt;
    const bool viewable = attr->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attr);
    if (!viewable) return std::nullopt;
    auto* geo = xcb_get_geometry_reply(x, xcb_get_geometry(x, target), nullptr);
    if (!geo) return std::nullopt;
    const int32_t w = geo->width, h = geo->height;
    free(geo);
    auto* tr = xcb_translate_coordinates_reply(
        x, xcb_translate_coordinates(x, target, c.root(), 0, 0), nullptr);
    if (!tr) return std::nullopt;
    const int32_t rx = tr->dst_x, ry = tr->dst_y;
    free(tr);

    // get_image of a window must stay inside the root: clip, in window coordinates.
    const int32_t x0 = std::max(0, -rx), y0 = std::max(0, -ry);
    const int32_t x1 = std::min<int32_t>(w, c.screen()->width_in_pixels - rx);
    const int32_t y1 = std::min<int32_t>(h, c.screen()->height_in_pixels - ry);
    if (x1 <= x0 || y1 <= y0) return std::nullopt;
    const uint16_t cw = static_cast<uint16_t>(x1 - x0), ch = static_cast<uint16_t>(y1 - y0);
    xcb_generic_error_t* err = nullptr;
    auto* img = xcb_get_image_reply(
        x,
        xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, target, static_cast<int16_t>(x0),
                      static_cast<int16_t>(y0), cw, ch, ~0u),
        &err);
    if (!img) {
        free(err);
        return std::nullopt;
    }
    std::optional<ZVRawImage> out;
    const uint32_t stride = uint32_t{cw} * 4;
    // A window of another depth (an ARGB visual) has other image rules; take only the
    // common 32-bit case.
    if (img->depth == c.screen()->root_depth &&
        xcb_get_image_data_length(img) >= static_cast<int>(stride * ch)) {
        ZVRawImage r;
        r.width = cw;
        r.height = ch;
        r.bytesPerRow = stride;
        r.pixels.resize(size_t{stride} * ch);
        const bool swap = c.msbFirst() != (std::endian::native == std::endian::big);
        ZVX11CopyOpaqueRows(xcb_get_image_data(img), stride, r.pixels.data(), stride, ch, cw, swap);
        out = std::move(r);
    }
    free(img);
    return out;
}
