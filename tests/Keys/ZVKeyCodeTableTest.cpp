#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <set>

#include "Keys/ZVKeyCodeTable.h"

TEST(ZVKeyCodeTable, EveryMappedKeyRoundTripsThroughEvdevAndX11) {
    std::set<int> macSeen, evdevSeen;
    for (const auto& e : ZVKeyCodeTable::entries()) {
        SCOPED_TRACE(e.macKeyCode);
        EXPECT_TRUE(macSeen.insert(e.macKeyCode).second) << "Mac key listed twice";
        EXPECT_TRUE(evdevSeen.insert(e.evdevKeyCode).second) << "evdev key listed twice";
        EXPECT_EQ(ZVKeyCodeTable::evdevKeyCodeForMacKeyCode(e.macKeyCode), e.evdevKeyCode);
        EXPECT_EQ(ZVKeyCodeTable::macKeyCodeForEvdevKeyCode(e.evdevKeyCode), e.macKeyCode);
        int x11 = ZVKeyCodeTable::x11KeyCodeForMacKeyCode(e.macKeyCode);
        if (e.evdevKeyCode + 8 <= 255) {
            EXPECT_EQ(x11, e.evdevKeyCode + 8);
            EXPECT_EQ(ZVKeyCodeTable::macKeyCodeForX11KeyCode(x11), e.macKeyCode);
        } else {
            EXPECT_EQ(x11, -1) << "X11 key codes stop at 255";
        }
    }
    // Every Macintosh key a keyboard of any of the three standards (ANSI, ISO, JIS) has.
    EXPECT_GE(ZVKeyCodeTable::entries().size(), 120u);
}

TEST(ZVKeyCodeTable, CodesOutsideTheTablesGiveMinusOne) {
    for (int code : {-1, -32768, 0x34, 0x7F, 128, 1000}) {
        EXPECT_EQ(ZVKeyCodeTable::evdevKeyCodeForMacKeyCode(code), -1) << code;
        EXPECT_EQ(ZVKeyCodeTable::x11KeyCodeForMacKeyCode(code), -1) << code;
    }
    for (int code : {-1, 0, KEY_RESERVED, KEY_MAX + 1, 100000})
        EXPECT_EQ(ZVKeyCodeTable::macKeyCodeForEvdevKeyCode(code), -1) << code;
    for (int code : {-1, 0, 7, 8, 256, 1 << 20})
        EXPECT_EQ(ZVKeyCodeTable::macKeyCodeForX11KeyCode(code), -1) << code;
}
