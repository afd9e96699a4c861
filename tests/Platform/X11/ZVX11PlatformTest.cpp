// The X11 layer against a real Xvfb with two monitors side by side.
#include <gtest/gtest.h>

#include <tuple>

#include "Video/ZVDisplayServer.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::TwoMonitors);

namespace {

std::shared_ptr<ZVDisplayServer> server() {
    return ZVPlatformDefaults().displayServer;
}

uint32_t displayID(const std::string& name) {
    for (auto& d : server()->displays())
        if (d.name == name) return d.displayID;
    return 0;
}

}  // namespace

TEST(ZVX11Screens, PrimaryFirstWithDesktopFrames) {
    ZV_REQUIRE_XVFB();
    ASSERT_EQ(server()->unavailableReason(), "");
    auto list = server()->displays();
    ASSERT_EQ(list.size(), 2u);
    // Name, frame, primary, online, active, asleep, product name (Xvfb has no EDID).
    auto row = [](const ZVDisplayDescription& d) {
        return std::tuple(d.name, ZVStringFromRect(d.frame), d.primary, d.online, d.active,
                          d.asleep, d.productName);
    };
    EXPECT_EQ(row(list[0]), std::tuple(std::string("LEFT"), "{{0, 0}, {1920, 1080}}", true, true,
                                       true, false, std::nullopt));
    EXPECT_EQ(row(list[1]), std::tuple(std::string("RIGHT"), "{{1920, 0}, {1920, 1080}}", false,
                                       true, true, false, std::nullopt));
    EXPECT_NE(list[0].displayID, list[1].displayID);  // RIGHT's is read by the tests below
    EXPECT_EQ(server()->cachedDisplays().size(), 2u);
}

// Which pixels a read gives, the right way up and opaque, is checked through the snapshot
// command on an offset monitor (ZVSnapshotCommandTest) and pixel for pixel through a
// recording (ZVRecordCommandTest); here, where a read stops.
TEST(ZVX11Screens, ReadStopsAtTheRootAndAtTheLimits) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    uint32_t win = client.showColor(3830, 1070, 10, 10, 0x123456);
    // 20x20 reaching 10 pixels past the root's right and bottom edges.
    const int stride = 20 * 4;
    std::vector<uint8_t> buf(size_t(stride) * 20, 0xAB);
    ASSERT_TRUE(server()->readDisplayRect(displayID("RIGHT"), ZVMakeRect(1910, 1070, 20, 20),
                                          buf.data(), stride, 20, stride));
    // Rectangle lines 0..9 (top) lie on the root: buffer rows 19..10; columns 0..9.
    const std::vector<uint8_t> colour{0x56, 0x34, 0x12, 0xFF}, unwritten(4, 0xAB);
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 20; ++c) {
            const uint8_t* p = &buf[size_t(r) * stride + 4 * c];
            const bool onRoot = r >= 10 && c < 10;
            ASSERT_EQ(std::vector<uint8_t>(p, p + 4), onRoot ? colour : unwritten) << r << "," << c;
        }
    // maxRows and maxBytesPerRow bound what is written.
    std::vector<uint8_t> small(64 * 4, 0xAB);
    ASSERT_TRUE(server()->readDisplayRect(displayID("RIGHT"), ZVMakeRect(1910, 1070, 10, 10),
                                          small.data(), 64, 3, 8));
    for (size_t i = 0; i < small.size(); ++i) {
        bool written = i < 3 * 64 && (i % 64) < 8;
        ASSERT_EQ(small[i] == 0xAB, !written) << i;
    }
    EXPECT_FALSE(
        server()->readDisplayRect(12345, ZVMakeRect(0, 0, 4, 4), buf.data(), stride, 20, stride));
    client.destroyWindow(win);
}

TEST(ZVX11Cursor, TwoCursorsDifferAndHiddenReadsHidden) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    client.movePointer(500, 500);
    client.setRootCursor(zvtest::kCursorWatch);
    auto watch = server()->currentCursor();
    uint32_t watchSeed = server()->cursorSeed();
    client.setRootCursor(zvtest::kCursorXterm);
    auto xterm = server()->currentCursor();
    uint32_t xtermSeed = server()->cursorSeed();
    ASSERT_TRUE(watch && xterm);
    EXPECT_NE(watchSeed, xtermSeed);
    EXPECT_EQ(watch->serial, watchSeed);
    EXPECT_NE(watch->pixels, xterm->pixels);
    EXPECT_FALSE(watch->isHidden());
    EXPECT_TRUE(server()->isCursorVisible());
    EXPECT_EQ(watch->pixels.size(), size_t(watch->width) * watch->height * 4);
    EXPECT_LT(watch->hotX, watch->width);
    EXPECT_LT(watch->hotY, watch->height);

    client.setInvisibleRootCursor();
    auto hidden = server()->currentCursor();
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(server()->isCursorVisible());
    client.setRootCursor(zvtest::kCursorLeftPtr);
}

TEST(ZVX11Cursor, PointerPositionInDesktopSpace) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    client.movePointer(100, 80);
    EXPECT_EQ(server()->mouseLocation(), (ZVPoint{100, 1000}));
    client.movePointer(2500, 1079);
    EXPECT_EQ(server()->mouseLocation(), (ZVPoint{2500, 1}));
}
