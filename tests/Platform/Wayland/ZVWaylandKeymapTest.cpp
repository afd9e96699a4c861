// The Wayland keymap source against a real compositor: weston on the binary's own Xvfb
// (its X11 backend gives its seat a keyboard with the X server's layout), and the system's
// names where no compositor answers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>

#include "Keys/SRKeyboardLayout.h"
#include "Keys/ZVKeyCodeTable.h"
#include "Keys/ZVKeyboardDefaults.h"
#include "Platform/Wayland/ZVWaylandKeymapMonitor.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using namespace std::chrono_literals;

// The last keymap handed over, as a snapshot.
std::shared_ptr<const SRKeyboardLayout> gHanded;
void keep(xkb_keymap* keymap, uint32_t group) {
    gHanded = SRKeyboardLayout::adoptKeymap(keymap, group, "handed over");
}
char32_t typed(int macKeyCode) {
    return gHanded ? gHanded->characterForKeyCode(macKeyCode, false, false, false).value_or(0) : 0;
}

TEST(WaylandKeymap, TheCompositorsKeymapAndRepeatDelayThenTheSystemsNames) {
    ZV_REQUIRE_XVFB();
    ASSERT_EQ(zvtest::runProgram({"setxkbmap", "-display", getenv("DISPLAY"), "de"}), 0);
    zvtest::TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    zvtest::writeText(runtime.file("weston.ini"), "[keyboard]\nrepeat-delay=333\n");
    zvtest::EnvScope xdg("XDG_RUNTIME_DIR", runtime.path().c_str());
    zvtest::EnvScope wayland("WAYLAND_DISPLAY", "zv-wayland");
    int weston =
        zvtest::startProgram({"weston", "--backend=x11-backend.so", "--use-pixman",
                              "--socket=zv-wayland", "--config=" + runtime.file("weston.ini")},
                             "", runtime.file("weston.log"), runtime.file("weston.log"));
    ASSERT_TRUE(
        zvtest::eventually([&] { return ZVWaylandKeymapMonitor::repeatDelay().has_value(); }, 20))
        << zvtest::readText(runtime.file("weston.log"));
    EXPECT_EQ(ZVWaylandKeymapMonitor::repeatDelay(), 333ms);
    ASSERT_TRUE(ZVWaylandKeymapMonitor::start(&keep));
    EXPECT_EQ(typed(kVK_ANSI_Y), U'z');  // German: Y and Z swap places

    // The compositor goes: the system's names stand in, the environment over the file.
    zvtest::endChild(weston);
    EXPECT_EQ(ZVWaylandKeymapMonitor::repeatDelay(), std::nullopt);
    {
        zvtest::EnvScope layout("XKB_DEFAULT_LAYOUT", "fr");
        ASSERT_TRUE(ZVWaylandKeymapMonitor::refresh());
        EXPECT_EQ(typed(kVK_ANSI_Q), U'a');  // French: A and Q swap places
    }
    // Without a compositor, a session on Wayland still gets a host input or one line why.
    std::string notice;
    if (!ZVCreatePlatformHostInput(&notice)) {
        EXPECT_EQ(notice.rfind("keys and clicks are not recorded: ", 0), 0u) << notice;
    }
}

TEST(WaylandKeymap, TheKeyboardSettingFile) {
    ZVXkbNames n = ZVParseKeyboardDefaults(
        "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT='de,us' # two\n"
        "export XKBVARIANT=nodeadkeys\r\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\nXKBLAYOUT\n");
    EXPECT_EQ(std::tuple(n.rules, n.model, n.layout, n.variant, n.options),
              std::tuple("", "pc105", "de,us", "nodeadkeys", ""));
}
}  // namespace
