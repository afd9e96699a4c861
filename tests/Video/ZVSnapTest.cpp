// ZVSnap's own rules on the fake display server: the order of pieces, the skipped inactive
// display, the alert for a display that cannot be read. The reads on Xvfb are the snapshot
// command's end-to-end test.
#include <gtest/gtest.h>

#include <cstring>

#include "ZorvanInternal.h"
#include "support/ZVFakeDisplayServer.h"
#include "support/ZVTestSupport.h"

namespace {

// Two displays side by side; each read fills its piece with the display's own id byte.
ZVDisplayDescription display(uint32_t id, ZVRect frame, bool primary, bool active) {
    ZVDisplayDescription d;
    d.displayID = id;
    d.frame = frame;
    d.primary = primary;
    d.online = true;
    d.active = active;
    if (!primary) d.productName = "Panel";
    return d;
}

class ZVSnapScripted : public ::testing::Test {
  protected:
    void SetUp() override {
        server->fillWithDisplayID();
        twoDisplays(true);
        services = zvtest::withDisplay(server);
    }
    void twoDisplays(bool rightActive) {
        server->setDisplays({display(7, ZVMakeRect(0, 0, 100, 50), true, true),
                             display(9, ZVMakeRect(100, 10, 60, 30), false, rightActive)});
    }
    std::shared_ptr<zvtest::FakeDisplayServer> server =
        std::make_shared<zvtest::FakeDisplayServer>();
    ZVPlatformServices services;
};

uint8_t byteAt(const ZVPixelBuffer& b, int c, int r) {
    return b.baseAddress()[size_t(r) * b.bytesPerRow() + 4 * size_t(c)];
}

// What one tick's read of `rect` leaves in a buffer filled with 0xAB; `onActive` is whether
// the rectangle lies wholly on active displays.
std::shared_ptr<ZVPixelBuffer> readAsATick(const ZVPlatformServices& services, ZVRect rect,
                                           bool onActive) {
    auto buf = ZVPixelBuffer::initWithSize(rect.size);
    std::memset(buf->baseAddress(), 0xAB, size_t(buf->bufferSize()));
    auto snap = ZVSnap::initWithCaptureRect(rect, services);
    snap->lockFocus();
    snap->readRectToBuffer(*buf);
    EXPECT_EQ(snap->captureRectLiesOnActiveDisplays(), onActive);
    snap->unlockFocus();
    return buf;
}

}  // namespace

TEST_F(ZVSnapScripted, PiecesGoToDisplaySpaceAndTheirOffsets) {
    // Desktop (90, 20, 20, 25): LEFT x 90..100 y 20..45, RIGHT x 100..110 y 20..40.
    auto buf = readAsATick(services, ZVMakeRect(90, 20, 20, 25), false);
    auto reads = server->reads();
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].first, 7u);
    EXPECT_EQ(reads[0].second, ZVMakeRect(90, 5, 10, 25));  // 50 - 20 - 25 = 5
    EXPECT_EQ(reads[1].first, 9u);
    EXPECT_EQ(reads[1].second, ZVMakeRect(0, 0, 10, 20));  // 30 - (20 - 10) - 20 = 0
    EXPECT_EQ(byteAt(*buf, 0, 0), 7);
    EXPECT_EQ(byteAt(*buf, 9, 24), 7);
    EXPECT_EQ(byteAt(*buf, 10, 0), 9);
    EXPECT_EQ(byteAt(*buf, 19, 19), 9);
    EXPECT_EQ(byteAt(*buf, 19, 20), 0xAB);  // above RIGHT: on no display
    // The still picture is upright: that strip is at its top, black.
    auto img = ZVSnap::snapFromRect(ZVMakeRect(90, 20, 20, 25), false, services);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->rgbaAt(19, 0), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(img->rgbaAt(19, 24), (std::array<uint8_t, 4>{9, 9, 9, 255}));
}

TEST_F(ZVSnapScripted, InactiveDisplayIsNotRead) {
    twoDisplays(false);
    auto buf = readAsATick(services, ZVMakeRect(95, 15, 20, 10), false);
    ASSERT_EQ(server->reads().size(), 1u);
    EXPECT_EQ(byteAt(*buf, 4, 0), 7);
    EXPECT_EQ(byteAt(*buf, 5, 0), 0xAB);
    auto right = ZVScreen::screenByNumber(9, services);
    ASSERT_TRUE(right);
    EXPECT_TRUE(right->isOnline());
    EXPECT_FALSE(right->isActive());
    EXPECT_EQ(right->localizedName(), std::optional<std::string>("Panel"));
    EXPECT_TRUE(ZVSnap::rectLiesOnActiveDisplays(ZVMakeRect(10, 10, 20, 20), services));
    // A display that went away is offline for the screen object that still names it.
    server->setDisplays({display(7, ZVMakeRect(0, 0, 100, 50), true, true)});
    EXPECT_FALSE(right->isOnline());
    EXPECT_EQ(screenNameForDisplay(7, services), std::nullopt);
}

TEST_F(ZVSnapScripted, UnreadableDisplaysAlertAndTheStillPictureGoesOn) {
    server->setUnavailable("the display went away");
    zvtest::AlertCapture alerts;
    zvtest::LogCapture log;
    auto img = ZVSnap::snapFromRect(ZVMakeRect(90, 20, 20, 25), false, services);
    ASSERT_TRUE(img);  // the picture is still made, black where nothing was read
    EXPECT_EQ(img->rgbaAt(0, 0), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    auto a = alerts.alerts();
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].first, "the display went away");
    EXPECT_EQ(a[0].second,
              "Orvell was unable to read pixel data from screen #7 due to OpenGL "
              "initialization error");
    EXPECT_NE(a[1].second.find("#9 "), std::string::npos);
    // The tick's read logs instead of raising an alert.
    readAsATick(services, ZVMakeRect(90, 20, 20, 25), false);
    EXPECT_EQ(alerts.alerts().size(), 2u);
    EXPECT_TRUE(log.contains("the display went away"));
}

TEST_F(ZVSnapScripted, NoCursorImageMeansNoCursorRecord) {
    ZVCursorInfo info = ORVGetCurrentCursorDataSize(*server);
    EXPECT_EQ(info.size, 0);
    uint8_t byte = 0;
    EXPECT_EQ(ORVGetCurrentCursor(*server, &info, &byte), kORVCursorFailure);
    EXPECT_EQ(ORVGetCurrentCursor(*server, nullptr, &byte), kORVCursorFailure);
    EXPECT_TRUE(ZVSnap::snapFromRect(ZVMakeRect(0, 0, 8, 8), true, services));
    EXPECT_EQ(ZVSnap::snapFromRect(ZVMakeRect(0, 0, 0, 8), false, services), nullptr);
    EXPECT_EQ(ZVSnap::GrabWindow(5, false, services), nullptr);
}
