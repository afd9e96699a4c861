// Every exact word and glyph of key naming, in one table: a spelling here is the product's,
// not a slip to correct. Taken under the German layout: fixed names never follow a layout.
#include <gtest/gtest.h>

#include "Keys/SRKeyNaming.h"
#include "SRKeyTestSupport.h"

TEST(SRKeyNamingMessages, ExactNamesAndWords) {
    SRResetKeyNamingForTest();
    SRKeyLayoutScope german("de");
    auto name = [](short code) { return SRStringForKeyCode(code).value_or("<nil>"); };
    const short functionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                  103, 111, 105, 107, 113, 106, 64, 79,  80};
    for (int i = 0; i < 19; ++i) EXPECT_EQ(name(functionKeys[i]), "F" + std::to_string(i + 1));
    const std::pair<std::string, const char*> table[] = {
        {name(49), "Space"},
        {name(51), "\u232B"},
        {name(117), "\u2326"},
        {name(71), "\u2327"},
        {name(123), "\u2190"},
        {name(124), "\u2192"},
        {name(126), "\u2191"},
        {name(125), "\u2193"},
        {name(119), "\u2198"},
        {name(115), "\u2196"},
        {name(53), "\u238B"},
        {name(121), "\u21DF"},
        {name(116), "\u21DE"},
        {name(36), "\u21A9"},
        {name(76), "\u2305"},
        {name(48), "\u21E5"},
        {name(114), "?"},
        {name(82), "Pad 0"},
        {SRStringForCocoaModifierFlags(0x1E0000), "\u2303\u2325\u21E7\u2318"},
        {SRReadableStringForCocoaModifierFlagsAndKeyCode(0x1E0000, 49),
         "Command + Option + Control + Shift + Space"},
        {SRStringForCocoaModifierFlagsAndKeyCode(0, -1), "(null)"},
    };
    for (const auto& [actual, expected] : table) EXPECT_EQ(actual, expected);
}
