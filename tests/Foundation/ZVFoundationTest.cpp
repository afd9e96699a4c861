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

// The library looks for the driver where the installer put it: both go by this rule.
TEST(ZVFoundation, UserDirectoriesFollowTheirVariablesElseHome) {
    zvtest::EnvScope home("HOME", "/home/u"), data("XDG_DATA_HOME", ""),
        state("XDG_STATE_HOME", nullptr), config("XDG_CONFIG_HOME", "/c");
    EXPECT_EQ(ZVUserDirectory(ZVUserDirectoryKind::data), "/home/u/.local/share");
    EXPECT_EQ(ZVUserDirectory(ZVUserDirectoryKind::config), "/c");
    zvtest::EnvScope noHome("HOME", nullptr);
    EXPECT_EQ(ZVUserDirectory(ZVUserDirectoryKind::state), "/tmp/.local/state");
}
