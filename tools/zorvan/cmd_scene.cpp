// zorvan scene: a small animated desktop on the X display, for demonstrations and for
// measuring the recorder under typical activity: coloured windows that move, a pointer
// that wanders across them (each window has its own cursor), clicks, and text typed
// through XTest into a panel that shows it. Two quieter variants: typing alone, and a
// dialog that is opened, filled in and closed, as in a tutorial.
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ZVCommand.h"

namespace {
const char* const kName = "scene";
std::atomic<int> gStop{0};
void onSignal(int) {
    gStop.store(1);
}

// Glyphs of the X cursor font.
constexpr uint16_t kGlyphs[] = {68 /*left_ptr*/, 150 /*watch*/, 152 /*xterm*/, 60 /*hand2*/,
                                34 /*crosshair*/};
constexpr char kMessage[] = "recording the screen with zorvan ";

struct Scene {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    std::vector<xcb_window_t> windows;
    std::vector<xcb_cursor_t> cursors;
    xcb_window_t panel = 0;
    xcb_gcontext_t textGC = 0;
    std::vector<uint8_t> keycodeOf = std::vector<uint8_t>(128, 0);  // ASCII -> key code
    std::string typed;
    // The dialog variant's windows: a button that opens the dialog, the dialog, its text
    // field and its OK button; where the pointer glides from.
    xcb_window_t opener = 0, dialog = 0, field = 0, ok = 0;
    int fromX = 0, fromY = 0;

    xcb_window_t makeWindow(int x, int y, int w, int h, uint32_t rgb, xcb_cursor_t cursor) {
        xcb_window_t win = xcb_generate_id(c);
        uint32_t values[] = {rgb, 1, cursor};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, int16_t(x), int16_t(y),
                          uint16_t(w), uint16_t(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_CURSOR, values);
        xcb_map_window(c, win);
        return win;
    }

    bool open() {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) return false;
        screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_font_t cursorFont = xcb_generate_id(c);
        xcb_open_font(c, cursorFont, 6, "cursor");
        for (uint16_t glyph : kGlyphs) {
            xcb_cursor_t cur = xcb_generate_id(c);
            xcb_create_glyph_cursor(c, cur, cursorFont, cursorFont, glyph, uint16_t(glyph + 1), 0,
                                    0, 0, 0xFFFF, 0xFFFF, 0xFFFF);
            cursors.push_back(cur);
        }
        uint32_t background = 0x2B3A4A;
        xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXEL, &background);
        xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
        const uint32_t colours[] = {0xD9534F, 0x5CB85C, 0xF0AD4E, 0x5BC0DE};
        for (size_t i = 0; i < 4; ++i) {
            windows.push_back(makeWindow(100 + 150 * int(i), 100 + 80 * int(i), 420 - 40 * int(i),
                                         300 - 30 * int(i), colours[i], cursors[1 + i]));
        }
        int w = std::min<int>(screen->width_in_pixels - 80, 1000);
        panel = makeWindow(40, screen->height_in_pixels - 120, w, 60, 0xFFFFFF, cursors[2]);
        xcb_font_t font = xcb_generate_id(c);
        xcb_open_font(c, font, 5, "fixed");
        textGC = xcb_generate_id(c);
        uint32_t gcValues[] = {0x000000, 0xFFFFFF, font};
        xcb_create_gc(c, textGC, panel, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT,
                      gcValues);

        // Key codes that type each ASCII character without modifiers.
        const xcb_setup_t* setup = xcb_get_setup(c);
        auto cookie = xcb_get_keyboard_mapping(
            c, setup->min_keycode, uint8_t(setup->max_keycode - setup->min_keycode + 1));
        if (auto* map = xcb_get_keyboard_mapping_reply(c, cookie, nullptr)) {
            const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
            int per = map->keysyms_per_keycode;
            for (int k = setup->min_keycode; k <= setup->max_keycode; ++k) {
                xcb_keysym_t sym = syms[(k - setup->min_keycode) * per];
                if (sym < 128 && !keycodeOf[sym]) keycodeOf[sym] = uint8_t(k);
            }
            std::free(map);
        }
        xcb_flush(c);
        return true;
    }

    void drawText() {
        xcb_clear_area(c, 0, panel, 0, 0, 0, 0);
        std::string line = "> " + typed;
        if (line.size() > 120) line = line.substr(line.size() - 120);
        xcb_image_text_8(c, uint8_t(line.size()), panel, textGC, 12, 36, line.c_str());
    }

    void key(char ch) {
        uint8_t code = keycodeOf[uint8_t(ch)];
        if (!code) return;
        xcb_test_fake_input(c, XCB_KEY_PRESS, code, 0, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, code, 0, XCB_NONE, 0, 0, 0);
        typed += ch;
        drawText();
    }

    // Reading and typing: the windows and the pointer keep still, and a burst of six keys
    // every three seconds is all that changes.
    void typingStep(int n) {
        if (n == 0) step(0, 1);
        if (n % 90 < 18 && n % 3 == 0) key(kMessage[(n / 3) % (sizeof kMessage - 1)]);
        xcb_flush(c);
    }

    void click() {
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, 0, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, 0, XCB_NONE, 0, 0, 0);
    }

    // The pointer's way from where it was to (x, y), eased in and out over `span` steps,
    // with the small tremble of a hand on a mouse. `step` may fall between two steps.
    void glide(double step, int span, int x, int y) {
        if (step == 0) {
            auto reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
            if (reply) fromX = reply->root_x, fromY = reply->root_y;
            std::free(reply);
        }
        if (step < 0 || step > span) return;
        const double s = double(step) / span, e = s * s * (3 - 2 * s);
        const int tremble = step < span ? (int(step) * 7919) % 5 - 2 : 0;
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, 0, screen->root,
                            int16_t(fromX + (x - fromX) * e + tremble),
                            int16_t(fromY + (y - fromY) * e - tremble), 0);
    }

    // A dialog opened, filled in and closed every twelve seconds (30 steps a second): the
    // pointer glides to a button and clicks it, clicks into the dialog's field, types a
    // word, glides to OK and clicks it; then all keeps still for a while. With `between`,
    // only the pointer moves, half-way to the next step.
    void dialogStep(int n, bool between) {
        const int sw = screen->width_in_pixels, sh = screen->height_in_pixels;
        const int dw = 420, dh = 200, dx = (sw - dw) / 2, dy = (sh - dh) / 2;
        if (n == 0 && !between) {
            opener = makeWindow(60, 60, 140, 40, 0x5BC0DE, cursors[3]);
            dialog = makeWindow(dx, dy, dw, dh, 0xF4F4F4, cursors[0]);
            field = makeWindow(dx + 30, dy + 60, dw - 60, 36, 0xFFFFFF, cursors[2]);
            ok = makeWindow(dx + dw - 130, dy + dh - 56, 100, 36, 0x337AB7, cursors[3]);
            for (xcb_window_t w : {dialog, field, ok}) xcb_unmap_window(c, w);
        }
        const int k = n % 360;
        const double g = k + (between ? 0.5 : 0.0);
        glide(g - 30, 30, 130, 80);
        glide(g - 90, 30, dx + 60, dy + 78);
        glide(g - 200, 30, dx + dw - 80, dy + dh - 38);
        glide(g - 270, 60, sw / 2, sh / 2 + 200);
        if (between) {
            xcb_flush(c);
            return;
        }
        if (k == 66) {
            click();
            for (xcb_window_t w : {dialog, field, ok}) xcb_map_window(c, w);
            typed.clear();
        }
        if (k == 126) click();
        constexpr char kWord[] = "zorvan demo";
        if (k >= 135 && k < 135 + 5 * int(sizeof kWord - 1) && (k - 135) % 5 == 0) {
            key(kWord[(k - 135) / 5]);
            xcb_image_text_8(c, uint8_t(typed.size()), field, textGC, 8, 23, typed.c_str());
        }
        if (k == 236) {
            click();
            for (xcb_window_t w : {dialog, field, ok}) xcb_unmap_window(c, w);
        }
        xcb_flush(c);
    }

    // The pointer's place at `t` on its wander over the windows.
    void wander(double t) {
        const int sw = screen->width_in_pixels, sh = screen->height_in_pixels;
        const int px = int((0.5 + 0.45 * std::sin(0.7 * t)) * sw);
        const int py = int((0.5 + 0.45 * std::sin(1.1 * t + 1)) * sh);
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, 0, screen->root, int16_t(px), int16_t(py), 0);
    }

    void step(double t, int n) {
        // Windows drift on slow Lissajous paths; the pointer wanders over them.
        int sw = screen->width_in_pixels, sh = screen->height_in_pixels;
        for (size_t i = 0; i < windows.size(); ++i) {
            double p = t * (0.3 + 0.1 * double(i)) + double(i);
            int32_t xy[] = {int32_t((0.5 + 0.35 * std::sin(p)) * (sw - 420)),
                            int32_t((0.4 + 0.3 * std::cos(1.3 * p)) * (sh - 400))};
            xcb_configure_window(c, windows[i], XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, xy);
        }
        wander(t);
        if (n % 20 == 0) key(kMessage[(n / 20) % (sizeof kMessage - 1)]);
        if (n % 90 == 45) click();
        if (n % 120 == 0) {
            uint32_t cursor = cursors[size_t(n / 120) % cursors.size()];
            xcb_change_window_attributes(c, screen->root, XCB_CW_CURSOR, &cursor);
        }
        if (n % 5 == 0) drawText();
        xcb_flush(c);
    }
};

int run(const std::vector<std::string>& args) {
    double duration = 0;
    bool typing = false, dialog = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--duration" && i + 1 < args.size()) {
            duration = std::atof(args[++i].c_str());
        } else if (args[i] == "--typing") {
            typing = true;
        } else if (args[i] == "--dialog") {
            dialog = true;
        } else {
            return ZVCommandFail(kName,
                                 "unknown argument " + args[i] + " (see 'zorvan scene --help')");
        }
    }
    Scene scene;
    if (!scene.open()) return ZVCommandFail(kName, "cannot connect to the X display");
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    auto start = std::chrono::steady_clock::now();
    auto next = start;
    // The scene changes 30 times a second; the pointer moves 60 times, as a mouse reports
    // far more often than a screen is redrawn (a recorder at 60 frames a second then sees
    // it move in every frame, as with a real hand).
    for (int tick = 0; !gStop.load(); ++tick) {
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (duration > 0 && t >= duration) break;
        const int n = tick / 2;
        const bool between = tick % 2 == 1;
        if (dialog) {
            scene.dialogStep(n, between);
        } else if (typing) {
            if (!between) scene.typingStep(n);
        } else if (between) {
            scene.wander(t);
            xcb_flush(scene.c);
        } else {
            scene.step(t, n);
        }
        if (xcb_connection_has_error(scene.c))
            return ZVCommandFail(kName, "the X display went away");
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    xcb_disconnect(scene.c);
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "play a small animated desktop scene on the X display",
     "usage: zorvan scene [--duration S] [--typing | --dialog]\n"
     "\n"
     "Plays a small animated desktop on $DISPLAY until S seconds have passed (or Ctrl-C):\n"
     "coloured windows drift across the screen, the pointer wanders over them (each window\n"
     "has its own cursor, and the root cursor changes every few seconds), the left button\n"
     "clicks now and then, and text is typed through XTest into a panel that shows it.\n"
     "With --typing, everything keeps still but for a burst of six keys every three\n"
     "seconds, as when reading and typing. With --dialog, a dialog is opened, a word typed\n"
     "into its field and the dialog closed every twelve seconds, as in a tutorial.\n"
     "Meant for trying 'zorvan record' on a private X server and for benchmarks.\n",
     run});
}  // namespace
