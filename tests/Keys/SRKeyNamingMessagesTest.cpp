// Every exact word, glyph and name of key naming, in one table: a spelling here is the
// product's, not a slip to correct.
#include <gtest/gtest.h>

#include "Keys/SRKeyNaming.h"
#include "Keys/SRKeyboardLayout.h"
#include "SRKeyTestSupport.h"

namespace {

struct Expected {
    const char* what;
    std::string actual;
    const char* expected;
};

TEST(SRKeyNamingMessages, ExactNamesAndWords) {
    SRResetKeyNamingForTest();
    auto name = [](short code) { return SRStringForKeyCode(code).value_or("<nil>"); };
    const Expected table[] = {
        {"F1", name(122), "F1"},
        {"F2", name(120), "F2"},
        {"F3", name(99), "F3"},
        {"F4", name(118), "F4"},
        {"F5", name(96), "F5"},
        {"F6", name(97), "F6"},
        {"F7", name(98), "F7"},
        {"F8", name(100), "F8"},
        {"F9", name(101), "F9"},
        {"F10", name(109), "F10"},
        {"F11", name(103), "F11"},
        {"F12", name(111), "F12"},
        {"F13", name(105), "F13"},
        {"F14", name(107), "F14"},
        {"F15", name(113), "F15"},
        {"F16", name(106), "F16"},
        {"F17", name(64), "F17"},
        {"F18", name(79), "F18"},
        {"F19", name(80), "F19"},
        {"space", name(49), "Space"},
        {"erase left", name(51), "\u232B"},
        {"erase right", name(117), "\u2326"},
        {"clear", name(71), "\u2327"},
        {"left", name(123), "\u2190"},
        {"right", name(124), "\u2192"},
        {"up", name(126), "\u2191"},
        {"down", name(125), "\u2193"},
        {"end", name(119), "\u2198"},
        {"home", name(115), "\u2196"},
        {"escape", name(53), "\u238B"},
        {"page down", name(121), "\u21DF"},
        {"page up", name(116), "\u21DE"},
        {"return", name(36), "\u21A9"},
        {"enter", name(76), "\u2305"},
        {"tab", name(48), "\u21E5"},
        {"help", name(114), "?"},
        {"keypad", name(82), "Pad 0"},
        {"control glyph", SRStringForCocoaModifierFlags(0x40000), "\u2303"},
        {"option glyph", SRStringForCocoaModifierFlags(0x80000), "\u2325"},
        {"shift glyph", SRStringForCocoaModifierFlags(0x20000), "\u21E7"},
        {"command glyph", SRStringForCocoaModifierFlags(0x100000), "\u2318"},
        {"command word", SRReadableStringForCocoaModifierFlagsAndKeyCode(0x100000, 0),
         "Command + A"},
        {"option word", SRReadableStringForCocoaModifierFlagsAndKeyCode(0x80000, 0), "Option + A"},
        {"control word", SRReadableStringForCocoaModifierFlagsAndKeyCode(0x40000, 0),
         "Control + A"},
        {"shift word", SRReadableStringForCocoaModifierFlagsAndKeyCode(0x20000, 0), "Shift + A"},
        {"missing key", SRStringForCocoaModifierFlagsAndKeyCode(0, -1), "(null)"},
        {"layout notification", std::string(SRKeyboardLayoutDidChangeNotification),
         "SRKeyboardLayoutDidChangeNotification"},
    };
    for (const Expected& e : table) EXPECT_EQ(e.actual, e.expected) << e.what;
}

}  // namespace
