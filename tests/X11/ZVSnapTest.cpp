// ZVSnap, the screen list and the cursor functions on two monitors side by side
// (LEFT 1920x1080 at desktop 0,0 and RIGHT 1920x1080 at desktop 1920,0).
#include <gtest/gtest.h>

#include <set>

#include "ZVSnapTestSupport.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"

using zvtest::matchesLayout;
using zvtest::snapRead;

namespace {

bool onEither(int x, int y) {
    return x >= 0 && x < 3840 && y >= 0 && y < 1080;
}

using ZVSnapTwoMonitors = zvtest::PatternScreenTest;

}  // namespace

TEST_F(ZVSnapTwoMonitors, ReadsPiecesBottomUpAtTheirOffsets) {
    struct Case {
        const char* what;
        ZVRect rect;
    } cases[] = {
        {"on the primary monitor", ZVMakeRect(100, 200, 64, 48)},
        {"on the secondary monitor", ZVMakeRect(2500, 1000, 33, 80)},
        {"across both monitors", ZVMakeRect(1850, 520, 140, 40)},
        {"partly off every monitor", ZVMakeRect(3800, -20, 100, 60)},
        {"wholly off every monitor", ZVMakeRect(-300, -300, 20, 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = snapRead(c.rect);
        ASSERT_TRUE(b);
        EXPECT_TRUE(matchesLayout(*b, c.rect, 1080, onEither));
    }
}

TEST_F(ZVSnapTwoMonitors, ClearingIsNeededOnlyOffTheActiveMonitors) {
    EXPECT_TRUE(ZVSnap::rectLiesOnActiveDisplays(ZVMakeRect(0, 0, 3840, 1080)));
    EXPECT_TRUE(ZVSnap::rectLiesOnActiveDisplays(ZVMakeRect(1850, 520, 140, 40)));
    EXPECT_FALSE(ZVSnap::rectLiesOnActiveDisplays(ZVMakeRect(3800, -20, 100, 60)));
    EXPECT_FALSE(ZVSnap::rectLiesOnActiveDisplays(ZVMakeRect(0, 1079, 10, 2)));
    auto snap = ZVSnap::initWithCaptureRect(ZVMakeRect(10, 10, 10, 10));
    snap->lockFocus();
    EXPECT_TRUE(snap->captureRectLiesOnActiveDisplays());
    snap->setCaptureRect(ZVMakeRect(-5, 10, 10, 10));
    EXPECT_EQ(snap->captureRect(), ZVMakeRect(-5, 10, 10, 10));
    EXPECT_FALSE(snap->captureRectLiesOnActiveDisplays());
    snap->unlockFocus();
}

TEST_F(ZVSnapTwoMonitors, StillPictureIsTopDownWithOrWithoutCursor) {
    client.setRootCursor(zvtest::kCursorWatch);
    // Root (2000, 500) is desktop (2000, 580); the rectangle's origin is (1950, 540).
    client.movePointer(2000, 500);
    const ZVRect rect = ZVMakeRect(1950, 540, 100, 80);
    auto plain = ZVSnap::snapFromRect(rect, false);
    auto drawn = ZVSnap::snapFromRect(rect, true);
    ASSERT_TRUE(plain && drawn);
    ASSERT_EQ(plain->width(), 100);
    ASSERT_EQ(plain->height(), 80);
    // Image row 0 is the rectangle's top line: root row 1080 - 620 = 460.
    for (int y = 0; y < 80; y += 7)
        for (int x = 0; x < 100; x += 3) {
            uint32_t want = zvtest::X11TestClient::patternPixel(1950 + x, 460 + y);
            auto px = plain->rgbaAt(x, y);
            ASSERT_EQ(px[0], (want >> 16) & 0xFF) << x << "," << y;
            ASSERT_EQ(px[1], (want >> 8) & 0xFF);
            ASSERT_EQ(px[2], want & 0xFF);
        }
    // The cursor changes pixels only inside its box, placed by its hot spot at the pointer.
    ZVCursorInfo info = ORVGetCurrentCursorDataSize();
    std::vector<uint8_t> bytes(size_t(info.size));
    ASSERT_EQ(ORVGetCurrentCursor(&info, bytes.data()), 0);
    const int left = 50 - int(info.hotSpot.x), top = 40 - int(info.hotSpot.y);
    int changed = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            if (plain->rgbaAt(x, y) == drawn->rgbaAt(x, y)) continue;
            ++changed;
            ASSERT_GE(x, left);
            ASSERT_GE(y, top);
            ASSERT_LT(x, left + int(info.bounds.size.width));
            ASSERT_LT(y, top + int(info.bounds.size.height));
        }
    EXPECT_GT(changed, 20);
    client.setRootCursor(zvtest::kCursorLeftPtr);
}

TEST_F(ZVSnapTwoMonitors, StillPictureOffTheMonitorsIsBlack) {
    auto img = ZVSnap::snapFromRect(ZVMakeRect(3830, 0, 20, 10), false);
    ASSERT_TRUE(img);
    auto on = img->rgbaAt(0, 9), off = img->rgbaAt(15, 9);
    uint32_t want = zvtest::X11TestClient::patternPixel(3830, 1079);
    EXPECT_EQ(on[2], want & 0xFF);
    EXPECT_EQ(off, (std::array<uint8_t, 4>{0, 0, 0, 255}));
}

TEST_F(ZVSnapTwoMonitors, WindowPictures) {
    uint32_t w = client.showColor(700, 300, 40, 30, 0x20C040);
    for (bool shadow : {false, true}) {
        auto img = ZVSnap::GrabWindow(int32_t(w), shadow);
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), 40);
        EXPECT_EQ(img->height(), 30);
        EXPECT_EQ(img->rgbaAt(39, 29), (std::array<uint8_t, 4>{0x20, 0xC0, 0x40, 255}));
    }
    client.destroyWindow(w);
    EXPECT_EQ(ZVSnap::GrabWindow(int32_t(w), false), nullptr);
    EXPECT_EQ(ZVSnap::GrabWindow(0x7ffffff0, true), nullptr);
}

TEST(ZVScreenTwoMonitors, ListNumbersAndStates) {
    ZV_REQUIRE_XVFB();
    auto screens = ZVScreen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->frame(), ZVMakeRect(0, 0, 1920, 1080));
    EXPECT_EQ(screens[1]->frame(), ZVMakeRect(1920, 0, 1920, 1080));
    for (auto& s : screens) {
        auto found = ZVScreen::screenByNumber(int64_t{s->number()});
        ASSERT_TRUE(found);
        EXPECT_NE(found.get(), s.get());  // another object, the same display
        EXPECT_EQ(found->frame(), s->frame());
        EXPECT_TRUE(s->isOnline());
        EXPECT_TRUE(s->isActive());
        EXPECT_FALSE(s->isAsleep());
        EXPECT_EQ(s->localizedName(), std::nullopt);  // Xvfb has no EDID
        EXPECT_EQ(screenNameForDisplay(s->number()), std::nullopt);
    }
    EXPECT_EQ(ZVScreen::screenByNumber(0), nullptr);
    EXPECT_EQ(ZVScreen::screenByNumber(-1), nullptr);
}

TEST(ZVCursorGrab, FillsTheRecordAndTracksChanges) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    auto server = ZVDisplayServer::shared();
    std::set<std::vector<uint8_t>> images;
    std::set<uint32_t> seeds;
    for (int glyph : {zvtest::kCursorWatch, zvtest::kCursorXterm}) {
        client.setRootCursor(glyph);
        ZVCursorInfo info = ORVGetCurrentCursorDataSize();
        ASSERT_GT(info.size, 0);
        EXPECT_EQ(info.bytesPerRow, 0);  // only the size is filled in
        std::vector<uint8_t> bytes(size_t(info.size));
        ASSERT_EQ(ORVGetCurrentCursor(&info, bytes.data()), 0);
        EXPECT_EQ(info.depth, 32);
        EXPECT_EQ(info.components, 4);
        EXPECT_EQ(info.bitsPerComponent, 8);
        EXPECT_EQ(info.bytesPerRow, int32_t(info.bounds.size.width) * 4);
        EXPECT_EQ(info.size, info.bytesPerRow * int32_t(info.bounds.size.height));
        images.insert(bytes);
        seeds.insert(server->cursorSeed());
        EXPECT_TRUE(server->isCursorVisible());
    }
    EXPECT_EQ(images.size(), 2u);
    EXPECT_EQ(seeds.size(), 2u);
    // Showing the first cursor again brings its seed back.
    client.setRootCursor(zvtest::kCursorWatch);
    EXPECT_TRUE(seeds.count(server->cursorSeed()));

    ZVCursorInfo small{};
    small.size = 4;
    uint8_t four[4] = {1, 2, 3, 4};
    EXPECT_EQ(ORVGetCurrentCursor(&small, four), kORVCursorRangeCheck);
    EXPECT_EQ(four[0], 1);

    client.setInvisibleRootCursor();
    EXPECT_FALSE(server->isCursorVisible());
    client.setRootCursor(zvtest::kCursorLeftPtr);
}

TEST(ZVCursorGrab, MouseLocationFollowsXTest) {
    ZV_REQUIRE_XVFB();
    zvtest::X11TestClient client;
    for (auto [x, y] : {std::pair{0, 0}, std::pair{1919, 540}, std::pair{3000, 1079}}) {
        client.movePointer(x, y);
        EXPECT_EQ(ZVDisplayServer::shared()->mouseLocation(), (ZVPoint{float(x), float(1080 - y)}));
    }
}
