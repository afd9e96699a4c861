#include <gtest/gtest.h>

#include <ctime>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

// Log lines reach the sink in every *MessagesTest, and an alert from a worker reaches the
// handler in ZVStageTest; here, where an alert goes when no handler is set.
TEST(ZVFoundation, AlertsWithoutAHandlerGoToStandardError) {
    zvtest::StderrCapture err;
    ZVRunAlertPanel("Title", "Message");
    EXPECT_EQ(err.text(), "Title: Message\n");
}

TEST(ZVFoundation, AbsoluteTimeIsSince2001) {
    EXPECT_NEAR(ZVAbsoluteTimeGetCurrent(),
                static_cast<double>(std::time(nullptr)) - kZVAbsoluteTimeIntervalSince1970, 2.0);
}
