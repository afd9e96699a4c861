// Every message of the screen recorder, exactly as it is written, in one table: each row
// makes the failure happen and names the line it must leave.
#include <gtest/gtest.h>

#include <functional>

#include "Video/ZVScreenRecorder.h"
#include "Video/ZVVideoAllocation.h"
#include "ZVRecorderTestSupport.h"
#include "support/ZVTestSupport.h"

namespace {
using zvtest::FakeDisplayServer;

// A display server that shows no display at all, so no display link can be made.
class NoDisplayServer : public FakeDisplayServer {
  public:
    std::vector<ZVDisplayDescription> displays() override { return {}; }
};

std::shared_ptr<ZVScreenRecorder> activeRecorder() {
    auto r = ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 64, 48));
    if (r) r->setSuspended(false);
    return r;
}

struct MessageCase {
    const char* what;
    const char* log;         // a logged line, exactly; nullptr for none
    const char* alertTitle;  // an alert, exactly; nullptr for none
    const char* alertMessage;
    std::function<void(std::shared_ptr<FakeDisplayServer>&)> provoke;
};

TEST(RecorderMessages, EachFailureLeavesItsExactLine) {
    const MessageCase cases[] = {
        {"no display link", "Failed to create display link (Error: -6670)", nullptr, nullptr,
         [](std::shared_ptr<FakeDisplayServer>& server) {
             server = std::make_shared<NoDisplayServer>();
             ZVDisplayServer::setShared(server);
             EXPECT_EQ(ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 64, 48)), nullptr);
         }},
        {"no frame buffer", nullptr, "Failed to create frame buffer", "",
         [](std::shared_ptr<FakeDisplayServer>&) {
             auto r = ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 77, 33));  // a new size
             ASSERT_NE(r, nullptr);
             r->setSuspended(false);
             ZVVideoFailNextAllocations(100);
             EXPECT_EQ(r->displayLinkCallback(), -6660);
             ZVVideoFailNextAllocations(0);
             EXPECT_EQ(r->capturedFrames(), 0);
         }},
        {"no memory for the cursor", "ME-9: displayLinkCallback failed with malloc error", nullptr,
         nullptr,
         [](std::shared_ptr<FakeDisplayServer>& server) {
             zvtest::FrameLog log;
             auto r = activeRecorder();
             ASSERT_NE(r, nullptr);
             r->setDataDestination(&log);
             EXPECT_EQ(r->displayLinkCallback(), 0);  // the pool now has a buffer to reuse
             server->showCursor(7, 32, 32, 0xFF000000);
             ZVVideoFailNextAllocations(1);
             EXPECT_EQ(r->displayLinkCallback(), 0);
             ZVVideoFailNextAllocations(0);
             // The frame is still delivered and counted, with no cursor listed.
             EXPECT_EQ(log.count(), 2u);
             EXPECT_EQ(r->capturedFrames(), 2);
             EXPECT_TRUE(r->capturedCursors().empty());
         }},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto server = std::make_shared<FakeDisplayServer>();
        ZVDisplayServer::setShared(server);
        zvtest::LogCapture logs;
        zvtest::AlertCapture alerts;
        c.provoke(server);
        if (c.log) {
            EXPECT_TRUE(logs.contains(c.log)) << ::testing::PrintToString(logs.lines());
        }
        auto shown = alerts.alerts();
        if (c.alertTitle) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].first, c.alertTitle);
            EXPECT_EQ(shown[0].second, c.alertMessage);
        } else {
            EXPECT_TRUE(shown.empty());
        }
        ZVDisplayServer::setShared(nullptr);
    }
}

TEST(RecorderMessages, NotificationNamesAreTheirOwnValues) {
    EXPECT_EQ(ZVScreenRecorderWillStartNotification, "ZVScreenRecorderWillStartNotification");
    EXPECT_EQ(ZVScreenRecorderDidStartNotification, "ZVScreenRecorderDidStartNotification");
    EXPECT_EQ(ZVScreenRecorderCapturedFrameNotification,
              "ZVScreenRecorderCapturedFrameNotification");
    EXPECT_EQ(ZVScreenRecorderDidStopNotification, "ZVScreenRecorderDidStopNotification");
}
}  // namespace
