// The evdev host input: input_event records fed through FIFOs in a folder it watches
// (keys, modifiers, the stack, buttons, the double click, devices that come and go).
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "Platform/Evdev/ZVEvdevTestDevice.h"
#include "ZorvanInternal.h"

namespace {
using namespace std::chrono_literals;
using zvtest::eventually;
using zvtest::FifoDevice;

struct Stroke {
    uint32_t flags;
    int32_t keyCode;
    bool operator==(const Stroke&) const = default;
};

std::vector<Stroke> strokesOf(const std::vector<uint8_t>& bytes) {
    std::vector<Stroke> strokes(bytes.size() / sizeof(Stroke));
    if (!strokes.empty())
        std::memcpy(strokes.data(), bytes.data(), strokes.size() * sizeof(Stroke));
    return strokes;
}

// An object watching a folder of its own, with one device in it.
struct Rig {
    Rig() {
        input = ZVEvdevHostInput::create(zvtest::fifoOptions(dir.path()));
        EXPECT_NE(input, nullptr);
        if (input) device = std::make_unique<FifoDevice>(dir.path(), "event0");
    }
    // The listener has taken in everything sent before once a key sent after it is held.
    void sync() {
        device->key(KEY_F12, 1);
        EXPECT_TRUE(eventually([&] { return input->getKeyCode() == kVK_F12; }));
        device->key(KEY_F12, 0);
        EXPECT_TRUE(eventually([&] { return input->getKeyCode() == -1; }));
        input->getKeyStrokesStack();
    }
    zvtest::TempDir dir;
    std::shared_ptr<ZVEvdevHostInput> input;
    std::unique_ptr<FifoDevice> device;
};

class EvdevInputTest : public ::testing::Test, public Rig {
  protected:
    void SetUp() override { ASSERT_NE(input, nullptr); }
};

TEST_F(EvdevInputTest, KeysLandOnTheStackWithTheModifiersOfTheirPress) {
    device->tap(KEY_A);
    device->key(KEY_LEFTSHIFT, 1);
    device->tap(KEY_B);
    device->key(KEY_LEFTSHIFT, 0);
    for (uint16_t m : {KEY_RIGHTCTRL, KEY_LEFTALT, KEY_LEFTMETA}) device->key(m, 1);
    device->key(KEY_ENTER, 1);
    device->key(KEY_ENTER, 2);  // the kernel's repeat types nothing more
    device->key(KEY_ENTER, 0);
    for (uint16_t m : {KEY_RIGHTCTRL, KEY_LEFTALT, KEY_LEFTMETA}) device->key(m, 0);
    device->tap(KEY_CAPSLOCK);
    device->tap(KEY_C);
    device->tap(KEY_CAPSLOCK);
    std::vector<Stroke> strokes;
    EXPECT_TRUE(eventually([&] {
        for (Stroke s : strokesOf(*input->getKeyStrokesStack())) strokes.push_back(s);
        return strokes.size() >= 4;
    }));
    EXPECT_EQ(
        strokes,
        (std::vector<Stroke>{
            {0, kVK_ANSI_A},
            {kSRCocoaShiftKeyMask, kVK_ANSI_B},
            {kSRCocoaControlKeyMask | kSRCocoaOptionKeyMask | kSRCocoaCommandKeyMask, kVK_Return},
            {kZVAlphaShiftKeyMask, kVK_ANSI_C}}));
    EXPECT_TRUE(input->getKeyStrokesStack()->empty());
}

TEST_F(EvdevInputTest, HeldKeyFlagsAndRepeatFollowTheEventsAndTheirTimes) {
    device->key(KEY_RIGHTALT, 1);
    device->send(EV_KEY, KEY_Q, 1, 2s);  // pressed two seconds ago: repeating by now
    EXPECT_TRUE(eventually([&] { return input->getKeyCode() == kVK_ANSI_Q; }));
    EXPECT_EQ(input->getFlags(), kSRCocoaOptionKeyMask);
    EXPECT_EQ(input->isKeyRepeating(), true);
    device->key(KEY_W, 1);  // just pressed: the last key held, not yet repeating
    EXPECT_TRUE(eventually([&] { return input->getKeyCode() == kVK_ANSI_W; }));
    EXPECT_EQ(input->isKeyRepeating(), false);
    for (uint16_t k : {KEY_W, KEY_Q, KEY_RIGHTALT}) device->key(k, 0);
    EXPECT_TRUE(eventually([&] { return input->getFlags() == 0u; }));
    EXPECT_EQ(input->getKeyCode(), -1);
}

TEST(EvdevInputButtons, ButtonsAndTheDoubleClick) {
    struct Row {
        const char* what;
        std::function<void(FifoDevice&)> events;
        std::vector<int64_t> reports;  // the answers of successive calls
    };
    const auto left = [](FifoDevice& d, std::chrono::microseconds age) {
        d.send(EV_KEY, BTN_LEFT, 1, age);
        d.send(EV_KEY, BTN_LEFT, 0, age);
    };
    const Row rows[] = {
        {"a held button stays",
         [](FifoDevice& d) { d.key(BTN_RIGHT, 1); },
         {kZVMouseRightButton, kZVMouseRightButton}},
        {"middle and side buttons are other buttons",
         [](FifoDevice& d) {
             d.tap(BTN_MIDDLE);
             d.tap(BTN_SIDE);
         },
         {kZVMouseOtherButton, 0}},
        {"two quick clicks in one place",
         [&](FifoDevice& d) {
             left(d, 300ms);
             left(d, 0us);
         },
         {kZVMouseLeftButton | kZVMouseDoubleClick, 0}},
        {"too far",
         [&](FifoDevice& d) {
             left(d, 300ms);
             d.send(EV_REL, REL_X, 3);
             d.send(EV_REL, REL_Y, -5);
             left(d, 0us);
         },
         {kZVMouseLeftButton, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;  // its own: the rows' event times are not in order between rows
        ASSERT_NE(rig.input, nullptr);
        row.events(*rig.device);
        rig.sync();
        std::vector<int64_t> reports;
        for (size_t i = 0; i < row.reports.size(); ++i)
            reports.push_back(*rig.input->getMouseButtonsState());
        EXPECT_EQ(reports, row.reports);
    }
}

TEST(EvdevInputDevices, DevicesPluggedInLaterAreReadAndUnpluggedOnesClosed) {
    zvtest::TempDir dir;
    zvtest::writeText(dir.file("event9"), "");  // no device: the kernel's probe refuses it
    auto input = ZVEvdevHostInput::create(zvtest::folderOptions(dir.path()));
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->deviceCount(), 0u);
    input.reset();
    std::remove(dir.file("event9").c_str());

    input = ZVEvdevHostInput::create(zvtest::fifoOptions(dir.path()));
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->deviceCount(), 0u);
    ASSERT_EQ(mkfifo(dir.file("mouse0").c_str(), 0600), 0);  // not an event device
    {
        FifoDevice keyboard(dir.path(), "event1");
        FifoDevice mouse(dir.path(), "event2");
        EXPECT_EQ(input->deviceCount(), 2u);
        keyboard.key(KEY_Z, 1);
        mouse.key(BTN_LEFT, 1);
        EXPECT_TRUE(eventually([&] {
            return input->getKeyCode() == kVK_ANSI_Z &&
                   input->getMouseButtonsState() == kZVMouseLeftButton;
        }));
        keyboard.unplug();  // with Z held: it goes up with its keyboard
        EXPECT_TRUE(eventually([&] { return input->deviceCount() == 1u; }));
        EXPECT_EQ(input->getKeyCode(), -1);
        mouse.key(BTN_LEFT, 0);
        EXPECT_TRUE(eventually([&] { return input->getMouseButtonsState() == 0; }));
    }
    EXPECT_TRUE(eventually([&] { return input->deviceCount() == 0u; }));
}

}  // namespace
