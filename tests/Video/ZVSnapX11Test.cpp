// ZVSnap and the zorvan commands with a secondary monitor that does not fill the root:
// LEFT 1920x1080 at desktop (0, 0), RIGHT 1280x720 at root +1920+100, desktop (1920, 260).
// The root beside RIGHT has pixels, but they lie on no monitor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Platform/X11/ZVX11Connection.h"
#include "ZVSnapTestSupport.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OffsetMonitors);

using zvtest::matchesLayout;
using zvtest::snapRead;

namespace {

bool onLayout(int x, int y) {
    const bool left = x >= 0 && x < 1920 && y >= 0 && y < 1080;
    const bool right = x >= 1920 && x < 3200 && y >= 260 && y < 980;
    return left || right;
}

using ZVSnapOffsetMonitors = zvtest::PatternScreenTest;

// Runs the zorvan tool of this build (after `env`, variable assignments for the shell);
// its exit status, standard error in `err`.
int zorvan(const std::string& args, std::string* err = nullptr, const std::string& env = "") {
    const char* bin = std::getenv("ZORVAN_BIN");
    zvtest::TempDir dir;
    std::string cmd =
        env + " " + std::string(bin ? bin : ".") + "/zorvan " + args + " 2>" + dir.file("err");
    int status = std::system(cmd.c_str());
    if (err) {
        std::ifstream f(dir.file("err"));
        std::stringstream s;
        s << f.rdbuf();
        *err = s.str();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(ZVSnapOffsetMonitors, SecondaryFrameStartsAboveTheDesktopOrigin) {
    auto screens = ZVScreen::screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->frame(), ZVMakeRect(0, 0, 1920, 1080));
    EXPECT_EQ(screens[1]->frame(), ZVMakeRect(1920, 260, 1280, 720));
}

TEST_F(ZVSnapOffsetMonitors, PiecesOnNoMonitorStayUntouched) {
    struct Case {
        const char* what;
        ZVRect rect;
        bool covered;
    } cases[] = {
        {"on the secondary monitor, converted to its own space", ZVMakeRect(2000, 300, 50, 30),
         true},
        {"touching the secondary monitor's top edge", ZVMakeRect(3000, 950, 40, 30), true},
        {"past the secondary monitor's right edge", ZVMakeRect(3100, 900, 200, 100), false},
        {"across both, above the secondary monitor", ZVMakeRect(1900, 950, 100, 100), false},
        {"below the secondary monitor", ZVMakeRect(2500, 200, 10, 100), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto b = snapRead(c.rect);
        ASSERT_TRUE(b);
        EXPECT_TRUE(matchesLayout(*b, c.rect, 1080, onLayout));
        EXPECT_EQ(ZVSnap::rectLiesOnActiveDisplays(c.rect), c.covered);
    }
}

TEST_F(ZVSnapOffsetMonitors, SnapshotCommandWritesTheRectangle) {
    zvtest::TempDir dir;
    // Root 50x30+2000+750 is desktop (2000, 300, 50, 30) on RIGHT.
    ASSERT_EQ(zorvan("snapshot --rect 50x30+2000+750 -o " + dir.file("a.png")), 0);
    auto img = ZVImage::readPNG(dir.file("a.png"));
    ASSERT_TRUE(img);
    ASSERT_EQ(img->width(), 50);
    ASSERT_EQ(img->height(), 30);
    for (int y = 0; y < 30; y += 5)
        for (int x = 0; x < 50; x += 7) {
            uint32_t want = zvtest::X11TestClient::patternPixel(2000 + x, 750 + y);
            auto px = img->rgbaAt(x, y);
            ASSERT_EQ(px[0], (want >> 16) & 0xFF);
            ASSERT_EQ(px[1], (want >> 8) & 0xFF);
            ASSERT_EQ(px[2], want & 0xFF);
        }
    // Without --rect: the bounding box of both monitors.
    ASSERT_EQ(zorvan("snapshot --cursor -o " + dir.file("all.png")), 0);
    auto all = ZVImage::readPNG(dir.file("all.png"));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->width(), 3200);
    EXPECT_EQ(all->height(), 1080);
}

TEST_F(ZVSnapOffsetMonitors, GrabWindowCommand) {
    zvtest::TempDir dir;
    uint32_t w = client.showColor(100, 100, 16, 12, 0x0000FF);
    ASSERT_EQ(zorvan("grab-window " + std::to_string(w) + " -o " + dir.file("w.png")), 0);
    auto img = ZVImage::readPNG(dir.file("w.png"));
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 16);
    EXPECT_EQ(img->rgbaAt(3, 3), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    client.destroyWindow(w);
    std::string err;
    EXPECT_EQ(zorvan("grab-window " + std::to_string(w) + " -o " + dir.file("x.png"), &err), 1);
    EXPECT_NE(err.find("does not exist or is not shown"), std::string::npos) << err;
}

TEST(ZorvanSnapshotCommand, ClearErrors) {
    struct Case {
        const char* args;
        const char* error;
    } cases[] = {
        {"snapshot --rect 10x10 -o /tmp/x.png", "is not a rectangle WxH+X+Y"},
        {"snapshot --rect 0x10+1+1 -o /tmp/x.png", "is not a rectangle WxH+X+Y"},
        {"snapshot", "no output file given"},
        {"snapshot --bogus -o /tmp/x.png", "unexpected argument '--bogus'"},
        {"snapshot --rect 10x10+0+0 -o /nonexistent/dir/x.png", "cannot write"},
        {"grab-window -o /tmp/x.png", "no window id given"},
        {"grab-window 12abc -o /tmp/x.png", "is not a window id"},
        {"grab-window 0x200000", "no output file given"},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(zorvan(c.args, &err), 1) << c.args;
        EXPECT_NE(err.find(c.error), std::string::npos) << c.args << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line: " << err;
    }
    // A Wayland session is refused before anything is read.
    zvtest::TempDir dir;
    std::string err;
    EXPECT_EQ(zorvan("snapshot -o " + dir.file("w.png"), &err, "WAYLAND_DISPLAY=wayland-0"), 1);
    EXPECT_NE(err.find(kZVX11WaylandRefusal), std::string::npos) << err;
    EXPECT_EQ(zorvan("snapshot -o " + dir.file("x.png"), &err, "XDG_SESSION_TYPE=wayland"), 1);
    EXPECT_EQ(zorvan("snapshot -o " + dir.file("y.png"), &err, "XDG_SESSION_TYPE=x11"), 0);
}
