#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "Zorvan.h"
#include "support/ZVTestSupport.h"

// Log lines reach the sink in every *MessagesTest, and an alert from a worker reaches the
// handler in ZVStageTest; here, where an alert goes when no handler is set.
TEST(ZVFoundation, AlertsWithoutAHandlerGoToStandardError) {
    zvtest::StderrCapture err;
    ZVRunAlertPanel("Title", "Message");
    EXPECT_EQ(err.text(), "Title: Message\n");
}

TEST(ZVFoundation, GeometryPrintsAsHostsExpect) {
    EXPECT_EQ(ZVStringFromSize({640, 480}), "{640, 480}");
    EXPECT_EQ(ZVStringFromSize({0.5f, 2}), "{0.5, 2}");
    EXPECT_EQ(ZVStringFromRect(ZVMakeRect(1, 2, 3, 4)), "{{1, 2}, {3, 4}}");
    EXPECT_EQ(ZVIntersectionRect(ZVMakeRect(0, 0, 10, 10), ZVMakeRect(5, 5, 10, 10)),
              ZVMakeRect(5, 5, 5, 5));
    EXPECT_TRUE(ZVIntersectionRect(ZVMakeRect(0, 0, 1, 1), ZVMakeRect(2, 2, 1, 1)).isEmpty());
}

TEST(ZVFoundation, AbsoluteTimeIsSince2001AndNeverGoesBack) {
    double now = ZVAbsoluteTimeGetCurrent();
    double expected = static_cast<double>(std::time(nullptr)) - kZVAbsoluteTimeIntervalSince1970;
    EXPECT_NEAR(now, expected, 2.0);
    double last = now;
    for (int i = 0; i < 1000; ++i) {
        double t = ZVAbsoluteTimeGetCurrent();
        ASSERT_GE(t, last);
        last = t;
    }
}

TEST(ZVFoundation, ResourcesAreFoundThroughTheOverride) {
    zvtest::TempDir dir;
    zvtest::EnvScope resources("ZORVAN_RESOURCES", dir.path().c_str());
    FILE* f = std::fopen(dir.file("mark.png").c_str(), "w");
    std::fclose(f);
    EXPECT_EQ(ZVBundle::resourcePath("mark.png"), dir.file("mark.png"));
    EXPECT_EQ(ZVBundle::resourcePath("absent.png"), "");
}
