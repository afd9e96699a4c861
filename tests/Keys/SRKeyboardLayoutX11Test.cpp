// Key names following a real X server's keyboard: its keymap, a setxkbmap while it runs,
// and a group switch.
#include <gtest/gtest.h>
#include <xcb/xcb.h>
// xcb/xkb.h names a field "explicit", which C++ reserves.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <string>

#include "Keys/SRKeyCodeTransformer.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "SRKeyTestSupport.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
// The layout follows the display server's keymap, as for a stage made over the platform's
// services.
[[maybe_unused]] const bool kOffered =
    (SRKeyboardLayout::offerKeymapSource(ZVPlatformDefaults().keymapSource), true);

int setxkbmap(const std::string& layout) {
    return zvtest::runProgram({"setxkbmap", "-display", getenv("DISPLAY"), layout});
}

// The watcher delivers on its own thread; wait for what follows it.
bool waitForName(short code, const std::string& expected) {
    return zvtest::eventually([&] { return nameOf(code) == expected; }, 10);
}

void lockGroup(uint8_t group) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    xcb_request_check(
        c, xcb_xkb_latch_lock_state_checked(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0));
    xcb_disconnect(c);
}

TEST(SRKeyboardLayoutX11, FollowsTheServersKeymapAndGroup) {
    ASSERT_EQ(setxkbmap("us"), 0);
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(SRKeyboardLayout::current()->description(), "X server");
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");
    auto transformer = SRKeyCodeTransformer::transformer();
    EXPECT_EQ(transformer->keyCodeForName("Z"), kVK_ANSI_Z);

    // A new keymap while the process runs.
    ASSERT_EQ(setxkbmap("de"), 0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Z"));
    EXPECT_EQ(nameOf(kVK_ANSI_Grave), "^");
    // The reverse table is rebuilt when the change is announced, just after the swap.
    EXPECT_TRUE(
        zvtest::eventually([&] { return transformer->keyCodeForName("Z") == kVK_ANSI_Y; }, 10));

    // A group switch within one keymap.
    ASSERT_EQ(setxkbmap("us,de"), 0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Y"));
    lockGroup(1);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Z"));
    EXPECT_EQ(SRKeyboardLayout::current()->group(), 1u);
    lockGroup(0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Y"));
}

TEST(SRKeyboardLayoutX11, ASelectionOutranksTheServer) {
    ASSERT_EQ(setxkbmap("us"), 0);
    SRKeyboardLayout::followSystem();
    ASSERT_TRUE(SRKeyboardLayout::select("de"));
    // The server's next keymap arrives but does not replace the selection...
    const uint64_t seen = SRKeyboardLayout::systemKeymapsSeen();
    ASSERT_EQ(setxkbmap("fr"), 0);
    zvtest::eventually([&] { return SRKeyboardLayout::systemKeymapsSeen() > seen; }, 10);
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Z");
    // ... until the system is followed again.
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(nameOf(kVK_ANSI_A), "Q");  // French AZERTY
}

}  // namespace
