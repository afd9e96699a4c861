// Every exact word and glyph of key naming, in one table: a spelling here is the product's,
// not a slip to correct. Taken under the German layout: fixed names never follow a layout.
#include <gtest/gtest.h>

#include "Keys/SRKeyNaming.h"
#include "SRKeyTestSupport.h"

TEST(SRKeyNamingMessages, ExactNamesAndWords) {
    SRResetKeyNamingForTest();
    SRKeyLayoutScope german("de");
    const short functionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                  103, 111, 105, 107, 113, 106, 64, 79,  80};
    for (int i = 0; i < 19; ++i) EXPECT_EQ(nameOf(functionKeys[i]), "F" + std::to_string(i + 1));
    // Delete, forward delete, clear, left, right, up, down, end, home, escape, page down,
    // page up, return, enter, tab, help: one glyph each.
    std::string glyphs;
    for (short code : {51, 117, 71, 123, 124, 126, 125, 119, 115, 53, 121, 116, 36, 76, 48, 114})
        glyphs += nameOf(code);
    EXPECT_EQ(glyphs,
              "\u232B\u2326\u2327\u2190\u2192\u2191\u2193\u2198\u2196\u238B\u21DF\u21DE"
              "\u21A9\u2305\u21E5?");
    const std::pair<std::string, const char*> table[] = {
        {nameOf(49), "Space"},
        {nameOf(82), "Pad 0"},
        {SRStringForCocoaModifierFlags(0x1E0000), "\u2303\u2325\u21E7\u2318"},
        {SRReadableStringForCocoaModifierFlagsAndKeyCode(0x1E0000, 49),
         "Command + Option + Control + Shift + Space"},
        {SRStringForCocoaModifierFlagsAndKeyCode(0, -1), "(null)"},
    };
    for (const auto& [actual, expected] : table) EXPECT_EQ(actual, expected);
}
