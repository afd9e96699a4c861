// The fixture's plain layout (one 1920x1080 monitor, the server's own "screen") and its
// input helpers, as other subsystems' tests use them.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>

#include "Zorvan.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {

// A connection of the test's own, to look at what XTest did.
struct Probe {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~Probe() { xcb_disconnect(c); }
    uint16_t buttonMask() {
        auto* r = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
        uint16_t m = r ? r->mask : 0;
        free(r);
        return m;
    }
    bool keyDown(uint8_t keycode) {
        auto* r = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
        bool down = r && (r->keys[keycode / 8] >> (keycode % 8)) & 1;
        free(r);
        return down;
    }
};

}  // namespace

TEST(ZVX11OneMonitor, TheServersOwnMonitor) {
    ZV_REQUIRE_XVFB();
    auto screens = ZVScreen::screens();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0]->description().name, "screen");
    EXPECT_EQ(screens[0]->frame(), ZVMakeRect(0, 0, 1920, 1080));
    EXPECT_TRUE(screens[0]->isOnline());  // through its output: connected, with a CRTC
    EXPECT_TRUE(screens[0]->isActive());
    EXPECT_EQ(screens[0]->description().refreshRate, 0.0);  // Xvfb's modes have no clock
    auto link = ZVDisplayLink::createWithActiveDisplays();
    ASSERT_TRUE(link);
    EXPECT_DOUBLE_EQ(link->nominalRefreshRate(), 60.0);
}

TEST(ZVX11OneMonitor, WholeScreenStillPicture) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    uint32_t w = client.showColor(0, 0, 1920, 1080, 0x336699);
    auto img = ZVSnap::snapFromRect(ZVMakeRect(0, 0, 1920, 1080), false);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->rgbaAt(0, 0), (std::array<uint8_t, 4>{0x33, 0x66, 0x99, 255}));
    EXPECT_EQ(img->rgbaAt(1919, 1079), (std::array<uint8_t, 4>{0x33, 0x66, 0x99, 255}));
    client.destroyWindow(w);
}

TEST(ZVX11OneMonitor, InputHelpersReachTheServer) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    Probe probe;
    client.movePointer(10, 20);
    client.button(1, true);
    EXPECT_EQ(probe.buttonMask() & XCB_BUTTON_MASK_1, XCB_BUTTON_MASK_1);
    client.button(1, false);
    EXPECT_EQ(probe.buttonMask() & XCB_BUTTON_MASK_1, 0);
    const uint8_t keyA = 38;  // evdev KEY_A + 8
    client.key(keyA, true);
    EXPECT_TRUE(probe.keyDown(keyA));
    client.key(keyA, false);
    EXPECT_FALSE(probe.keyDown(keyA));
    EXPECT_EQ(zvtest::runProgram({"xdotool", "mousemove", "300", "400"}), 0);
    EXPECT_EQ(ZVDisplayServer::shared()->mouseLocation(), (ZVPoint{300, 680}));
}
