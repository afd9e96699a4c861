#include "support/ZVX11TestClient.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zvtest {

X11TestClient::X11TestClient() {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return;
    }
    _c = c;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
    _root = it.data->root;
    _depth = it.data->root_depth;
    _visual = it.data->root_visual;
    _gc = xcb_generate_id(c);
    xcb_create_gc(c, _gc, _root, 0, nullptr);
    _cursorFont = xcb_generate_id(c);
    xcb_open_font(c, _cursorFont, 6, "cursor");
    sync();
}

X11TestClient::~X11TestClient() {
    if (_c) xcb_disconnect(_c);
}

void X11TestClient::sync() {
    if (!_c) return;
    free(xcb_get_input_focus_reply(_c, xcb_get_input_focus(_c), nullptr));
}

uint32_t X11TestClient::patternPixel(int x, int y) {
    const uint32_t b = static_cast<uint32_t>(x) & 0xFF;
    const uint32_t g = static_cast<uint32_t>(y) & 0xFF;
    const uint32_t r =
        ((static_cast<uint32_t>(x) >> 8) & 0xF) | (((static_cast<uint32_t>(y) >> 8) & 0xF) << 4);
    return (r << 16) | (g << 8) | b;
}

uint32_t X11TestClient::showPixels(int x, int y, int w, int h,
                                   const std::vector<uint32_t>& pixels) {
    if (!_c) return 0;
    uint32_t win = xcb_generate_id(_c);
    const uint32_t values[] = {1};  // override-redirect: placed exactly, no manager
    xcb_create_window(_c, XCB_COPY_FROM_PARENT, win, _root, static_cast<int16_t>(x),
                      static_cast<int16_t>(y), static_cast<uint16_t>(w), static_cast<uint16_t>(h),
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, _visual, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(_c, win);
    // Requests stay well under the maximum request length: a band of rows at a time.
    const int band = std::max(1, 200000 / (w * 4));
    for (int r = 0; r < h; r += band) {
        const int rows = std::min(band, h - r);
        xcb_put_image(_c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, _gc, static_cast<uint16_t>(w),
                      static_cast<uint16_t>(rows), 0, static_cast<int16_t>(r), 0, _depth,
                      static_cast<uint32_t>(rows * w * 4),
                      reinterpret_cast<const uint8_t*>(pixels.data() + size_t(r) * w));
    }
    sync();
    return win;
}

uint32_t X11TestClient::showPattern(int x, int y, int w, int h) {
    std::vector<uint32_t> px(size_t(w) * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) px[size_t(r) * w + c] = patternPixel(x + c, y + r);
    return showPixels(x, y, w, h, px);
}

uint32_t X11TestClient::showColor(int x, int y, int w, int h, uint32_t rgb) {
    return showPixels(x, y, w, h, std::vector<uint32_t>(size_t(w) * h, rgb & 0xFFFFFF));
}

void X11TestClient::destroyWindow(uint32_t window) {
    if (!_c) return;
    xcb_destroy_window(_c, window);
    sync();
}

void X11TestClient::setRootCursor(int glyph) {
    if (!_c) return;
    // One cursor per glyph, kept: showing a glyph again shows the same cursor (and the
    // server gives it its old serial), as a program that keeps its cursors does.
    uint32_t& cursor = _glyphCursors[glyph];
    if (!cursor) {
        cursor = xcb_generate_id(_c);
        xcb_create_glyph_cursor(_c, cursor, _cursorFont, _cursorFont, static_cast<uint16_t>(glyph),
                                static_cast<uint16_t>(glyph + 1), 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF);
    }
    xcb_change_window_attributes(_c, _root, XCB_CW_CURSOR, &cursor);
    sync();
}

void X11TestClient::setInvisibleRootCursor() {
    if (!_c) return;
    uint32_t pix = xcb_generate_id(_c);
    xcb_create_pixmap(_c, 1, pix, _root, 1, 1);
    uint32_t gc = xcb_generate_id(_c);
    const uint32_t zero = 0;
    xcb_create_gc(_c, gc, pix, XCB_GC_FOREGROUND, &zero);
    xcb_rectangle_t r{0, 0, 1, 1};
    xcb_poly_fill_rectangle(_c, pix, gc, 1, &r);
    uint32_t cursor = xcb_generate_id(_c);
    xcb_create_cursor(_c, cursor, pix, pix, 0, 0, 0, 0, 0, 0, 0, 0);
    xcb_change_window_attributes(_c, _root, XCB_CW_CURSOR, &cursor);
    xcb_free_cursor(_c, cursor);
    xcb_free_gc(_c, gc);
    xcb_free_pixmap(_c, pix);
    sync();
}

void X11TestClient::movePointer(int x, int y) {
    if (!_c) return;
    xcb_test_fake_input(_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, _root, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    sync();
}

void X11TestClient::fill(uint32_t window, int x, int y, int w, int h, uint32_t rgb) {
    if (!_c) return;
    xcb_change_gc(_c, _gc, XCB_GC_FOREGROUND, &rgb);
    const xcb_rectangle_t r{static_cast<int16_t>(x), static_cast<int16_t>(y),
                            static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
    xcb_poly_fill_rectangle(_c, window, _gc, 1, &r);
}

}  // namespace zvtest
