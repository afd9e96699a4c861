// ZVX11HostInput against a real Xvfb: real key presses and clicks made through XTest
// (xdotool) must come out as the frame flags, modifiers and key strokes that frames store.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

#include <sstream>

#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "Platform/X11/ZVX11HostInput.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using namespace std::chrono_literals;

// Runs xdotool with the words of `args` (XTest input, as another client would make it).
bool xdo(const std::string& args) {
    std::vector<std::string> argv{"xdotool"};
    std::istringstream words(args);
    for (std::string w; words >> w;) argv.push_back(w);
    return zvtest::runProgram(argv) == 0;
}

// One stroke of the stack as it is stored: its Cocoa flags, then its key code.
struct Stroke {
    uint32_t flags;
    int32_t keyCode;
    bool operator==(const Stroke&) const = default;
};

// The raw events of another client reach the listener a little after xdotool returns.
using zvtest::eventually;

class HostInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        xdo("keyup shift ctrl alt super a b");
        xdo("mouseup 1");
        input = ZVX11HostInput::create();
        ASSERT_NE(input, nullptr);
    }
    std::shared_ptr<ZVX11HostInput> input;
};

TEST_F(HostInputTest, TypedKeysLandOnTheStackWithTheirModifiersAndTheStackEmpties) {
    xdo("key a");
    xdo("key shift+b");
    xdo("key ctrl+alt+super+Return");
    std::vector<Stroke> strokes;
    eventually([&] {
        const std::vector<uint8_t> bytes = *input->getKeyStrokesStack();
        const size_t had = strokes.size();
        strokes.resize(had + bytes.size() / sizeof(Stroke));
        std::memcpy(strokes.data() + had, bytes.data(), bytes.size());
        return strokes.size() >= 3;
    });
    EXPECT_EQ(strokes, (std::vector<Stroke>{
                           {0, kVK_ANSI_A},
                           {kSRCocoaShiftKeyMask, kVK_ANSI_B},
                           {kSRCocoaControlKeyMask | kSRCocoaOptionKeyMask | kSRCocoaCommandKeyMask,
                            kVK_Return}}));
    // Handed over: the next call starts empty. Modifier presses alone type nothing: the
    // listener has taken the press in once a button held after it is seen.
    xdo("key shift mousedown 3");
    ASSERT_TRUE(eventually([&] { return *input->getMouseButtonsState() == kZVMouseRightButton; }));
    EXPECT_TRUE(input->getKeyStrokesStack()->empty());
    xdo("mouseup 3");
}

TEST_F(HostInputTest, HeldKeyAndModifiersAreReportedAndRepeatStartsAfterTheDelay) {
    xdo("keydown shift keydown ctrl keydown alt keydown super keydown a");
    EXPECT_TRUE(eventually([&] { return input->getKeyCode() == kVK_ANSI_A; }));
    EXPECT_EQ(input->getFlags(), kSRCocoaShiftKeyMask | kSRCocoaControlKeyMask |
                                     kSRCocoaOptionKeyMask | kSRCocoaCommandKeyMask);
    EXPECT_EQ(input->isKeyRepeating(), false);
    std::this_thread::sleep_for(input->repeatDelay() + 50ms);
    EXPECT_EQ(input->isKeyRepeating(), true);
    xdo("keyup a keyup shift keyup ctrl keyup alt keyup super");
    EXPECT_TRUE(eventually([&] { return input->getKeyCode() == -1; }));
    EXPECT_EQ(input->isKeyRepeating(), false);
    EXPECT_EQ(input->getFlags(), 0u);
}

TEST_F(HostInputTest, CapsLockMapsToAlphaShift) {
    xdo("key Caps_Lock");
    EXPECT_TRUE(eventually([&] { return input->getFlags() == kZVAlphaShiftKeyMask; }));
    xdo("key Caps_Lock");
    EXPECT_TRUE(eventually([&] { return input->getFlags() == 0u; }));
}

TEST_F(HostInputTest, AClickShorterThanAFrameIsStillSeenOnce) {
    xdo("mousemove 100 100 click 1");
    EXPECT_TRUE(eventually([&] { return *input->getMouseButtonsState() != 0; }));
    // Reported once: the button is up again, so the next answer is clear.
    EXPECT_EQ(input->getMouseButtonsState(), 0);
    xdo("mousedown 3");
    EXPECT_TRUE(eventually([&] { return *input->getMouseButtonsState() == kZVMouseRightButton; }));
    EXPECT_EQ(input->getMouseButtonsState(), kZVMouseRightButton);  // still held
    xdo("mouseup 3 mousedown 2");
    EXPECT_TRUE(eventually([&] { return *input->getMouseButtonsState() == kZVMouseOtherButton; }));
    xdo("mouseup 2");
}

TEST_F(HostInputTest, DoubleClickNeedsTwoLeftPressesCloseInTimeAndPlace) {
    xdo("mousemove 200 200 click --repeat 2 --delay 80 1");
    EXPECT_TRUE(
        eventually([&] { return (*input->getMouseButtonsState() & kZVMouseDoubleClick) != 0; }));
    EXPECT_EQ(input->getMouseButtonsState(), 0);

    // The listener has taken the clicks in once a key typed after them is seen.
    auto clickAndType = [&](const std::string& clicks) {
        xdo(clicks + " keydown b");
        EXPECT_TRUE(eventually([&] { return input->getKeyCode() == kVK_ANSI_B; }));
        xdo("keyup b");
        EXPECT_TRUE(eventually([&] { return input->getKeyCode() == -1; }));
    };
    std::this_thread::sleep_for(500ms);         // forget the last press
    clickAndType("click 1 sleep 0.5 click 1");  // too slow
    EXPECT_EQ(*input->getMouseButtonsState() & kZVMouseDoubleClick, 0);

    std::this_thread::sleep_for(500ms);
    clickAndType("mousemove 300 300 click 1 mousemove 310 300 click 1");  // too far
    EXPECT_EQ(*input->getMouseButtonsState() & kZVMouseDoubleClick, 0);
}

TEST(HostInputFlags, LocksAndButtonsAreNoModifiers) {
    // Mod2 (Num Lock), Mod3, Mod5 and the button bits have no Cocoa modifier.
    EXPECT_EQ(ZVX11HostInput::cocoaFlagsFromXMask(0x10 | 0x20 | 0x80 | 0x100), 0u);
}
}  // namespace

// The server's own single monitor (Xvfb without --setmonitor), as these tests run on it.
TEST(ZVX11OneMonitor, TheServersOwnMonitor) {
    ZV_REQUIRE_XVFB();
    auto screens = ZVScreen::screens();
    ASSERT_EQ(screens.size(), 1u);
    // Online and active through its output (connected, with a CRTC); Xvfb's modes have no
    // clock, so no refresh rate.
    const ZVScreen& s = *screens[0];
    EXPECT_EQ(std::tuple(s.description().name, ZVStringFromRect(s.frame()), s.isOnline(),
                         s.isActive(), s.description().refreshRate),
              std::tuple(std::string("screen"), "{{0, 0}, {1920, 1080}}", true, true, 0.0));
    auto link = ZVDisplayLink::createWithActiveDisplays(*ZVPlatformDefaults().displayServer);
    ASSERT_TRUE(link);
    EXPECT_DOUBLE_EQ(link->nominalRefreshRate(), 60.0);
}
