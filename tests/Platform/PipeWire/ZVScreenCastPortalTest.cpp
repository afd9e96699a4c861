// The portal handshake against xdg-desktop-portal-wlr on the fixture's sway: what the grant
// holds and the kept permission (the dialog is shown once, a foreign or forgotten token is
// dropped with a line). The portal's refusals are rows of the display server's messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include "Platform/PipeWire/ZVScreenCastPortal.h"
#include "Platform/PipeWire/ZVScreenCastTokenFile.h"
#include "support/ZVWaylandFixture.h"

ZV_WAYLAND_ENVIRONMENT();

namespace {
using zvtest::WaylandEnvironment;

struct Opened {
    std::optional<ZVScreenCastGrant> grant;
    std::string error;
    std::vector<std::string> notices;
};

Opened open(bool askAnew = false) {
    Opened o;
    ZVScreenCastRequest request;
    request.askAnew = askAnew;
    request.notice = [&](const std::string& line) { o.notices.push_back(line); };
    o.grant = ZVScreenCastPortal::open(request, &o.error);
    if (o.grant) close(o.grant->pipewireFd);
    return o;
}
}  // namespace

TEST(ScreenCastPortal, TheSecondGrantAsksNothingUntilAskedAnew) {
    ZV_REQUIRE_WAYLAND();
    auto* desktop = WaylandEnvironment::current();
    const int shown = desktop->dialogCount();
    Opened first = open(true);
    ASSERT_TRUE(first.grant) << first.error;
    EXPECT_EQ(desktop->dialogCount(), shown + 1);
    ASSERT_EQ(first.grant->streams.size(), 1u);
    EXPECT_GT(first.grant->streams[0].nodeId, 0u);
    EXPECT_EQ(first.grant->streams[0].size.width, WaylandEnvironment::kWidth);
    EXPECT_EQ(first.grant->streams[0].size.height, WaylandEnvironment::kHeight);
    // wlroots offers hidden and embedded only.
    EXPECT_EQ(first.grant->cursorMode, kZVCursorEmbedded);
    EXPECT_FALSE(first.grant->restoreToken.empty());
    EXPECT_EQ(ZVScreenCastTokenFile::load(kZVSourceMonitor)->token, first.grant->restoreToken);

    Opened second = open();
    ASSERT_TRUE(second.grant) << second.error;
    EXPECT_EQ(desktop->dialogCount(), shown + 1);
    EXPECT_TRUE(second.notices.empty());
    EXPECT_TRUE(open(true).grant);
    EXPECT_EQ(desktop->dialogCount(), shown + 2);
}

TEST(ScreenCastPortal, AKeptTokenThatMeansNothingHereIsDroppedWithALine) {
    ZV_REQUIRE_WAYLAND();
    auto* desktop = WaylandEnvironment::current();
    const struct {
        const char* kept;
        const char* line;
    } rows[] = {
        {"1 GNOME 3f1c0b2e-61a4-4c43-9d4b-2f4f1c9b7a10\n", "belongs to another desktop (GNOME)"},
        {"1 sway 3f1c0b2e-61a4-4c43-9d4b-2f4f1c9b7a10\n", "no longer known to the desktop portal"},
    };
    for (const auto& row : rows) {
        zvtest::writeText(ZVScreenCastTokenFile::path(), row.kept);
        const int shown = desktop->dialogCount();
        Opened o = open();
        ASSERT_TRUE(o.grant) << o.error;
        ASSERT_EQ(o.notices.size(), 1u) << row.kept;
        EXPECT_NE(o.notices[0].find(row.line), std::string::npos) << o.notices[0];
        EXPECT_EQ(desktop->dialogCount(), shown + 1);
        EXPECT_EQ(ZVScreenCastTokenFile::load(kZVSourceMonitor)->token, o.grant->restoreToken);
    }
}
