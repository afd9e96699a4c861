// The picture commands (snapshot, grab-window) as a user runs them, on a secondary monitor
// that does not fill the root: LEFT 1920x1080 at desktop (0, 0), RIGHT 1280x720 at root
// +1920+100; and every error line of the command line, in one table.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "Platform/X11/ZVX11Connection.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OffsetMonitors);

namespace {
using zvtest::runZorvanLine;

// A test whose whole 3840x1080 root shows the pattern (a window over it), so every pixel
// read can be checked.
class ZVSnapOffsetMonitors : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        ASSERT_TRUE(client.ok());
        window = client.showPattern(0, 0, 3840, 1080);
    }
    void TearDown() override { client.destroyWindow(window); }

    zvtest::X11TestClient client;
    uint32_t window = 0;
};

}  // namespace

TEST_F(ZVSnapOffsetMonitors, SnapshotCommandWritesTheRectangle) {
    zvtest::TempDir dir;
    // Root 50x30+2000+750 is desktop (2000, 300, 50, 30) on RIGHT.
    ASSERT_EQ(runZorvanLine("snapshot --rect 50x30+2000+750 -o " + dir.file("a.png")).status, 0);
    auto img = ZVImage::readPNG(dir.file("a.png"));
    ASSERT_TRUE(img);
    ASSERT_EQ(img->width(), 50);
    ASSERT_EQ(img->height(), 30);
    for (int y = 0; y < 30; y += 5)
        for (int x = 0; x < 50; x += 7) {
            const uint32_t want = zvtest::X11TestClient::patternPixel(2000 + x, 750 + y);
            ASSERT_EQ(img->rgbaAt(x, y),
                      (std::array<uint8_t, 4>{uint8_t(want >> 16), uint8_t(want >> 8),
                                              uint8_t(want), 255}));
        }
    // Without --rect: the bounding box of both monitors.
    ASSERT_EQ(runZorvanLine("snapshot --cursor -o " + dir.file("all.png")).status, 0);
    auto all = ZVImage::readPNG(dir.file("all.png"));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->width(), 3200);
    EXPECT_EQ(all->height(), 1080);
}

TEST_F(ZVSnapOffsetMonitors, GrabWindowCommand) {
    zvtest::TempDir dir;
    uint32_t w = client.showColor(100, 100, 16, 12, 0x0000FF);
    ASSERT_EQ(runZorvanLine("grab-window " + std::to_string(w) + " -o " + dir.file("w.png")).status,
              0);
    auto img = ZVImage::readPNG(dir.file("w.png"));
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width(), 16);
    EXPECT_EQ(img->rgbaAt(3, 3), (std::array<uint8_t, 4>{0, 0, 255, 255}));
    client.destroyWindow(w);
    auto gone = runZorvanLine("grab-window " + std::to_string(w) + " -o " + dir.file("x.png"));
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("does not exist or is not shown"), std::string::npos) << gone.err;
}

TEST(ZorvanSnapshotCommand, ClearErrors) {
    struct Case {
        const char* args;
        const char* error;
    } cases[] = {
        {"snapshot --rect 10x10 -o /tmp/x.png",
         "'10x10' has no position: give WxH+X+Y, such as 10x10+0+0"},
        {"snapshot --rect 0x10+1+1 -o /tmp/x.png", "'0x10+1+1' is empty"},
        {"snapshot --rect 99999x99999 -o /tmp/x.png",
         "'99999x99999' is larger than the screens (3200x1080 in all)"},
        {"snapshot --rect 10x10+99999+0 -o /tmp/x.png", "'10x10+99999+0' lies on no screen"},
        {"snapshot --rect 10y10 -o /tmp/x.png", "'10y10' is not a rectangle WxH+X+Y"},
        {"snapshot", "no output file given"},
        {"snapshot --bogus -o /tmp/x.png", "unexpected argument '--bogus'"},
        {"snapshot --rect 10x10+0+0 -o /nonexistent/dir/x.png",
         "cannot write /nonexistent/dir/x.png: /nonexistent/dir: No such file or directory"},
        {"snapshot --rect 10x10+0+0 -o /tmp", "cannot write /tmp: it is a directory"},
        {"grab-window -o /tmp/x.png", "no window id given"},
        {"grab-window 12abc -o /tmp/x.png", "is not a window id"},
        {"grab-window 0x200000", "no output file given"},
    };
    for (const Case& c : cases) {
        auto r = runZorvanLine(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    }
    // The X11 backend refuses a Wayland session before anything is read.
    zvtest::TempDir dir;
    {
        zvtest::EnvScope wayland("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_EQ(runZorvanLine("snapshot --backend x11 -o " + dir.file("w.png")).err,
                  "zorvan snapshot: the X11 backend cannot read the screen of a Wayland session "
                  "(Xwayland shows only its own windows); leave out --backend x11 to record it "
                  "through the desktop portal\n");
    }
    zvtest::EnvScope session("XDG_SESSION_TYPE", "wayland");
    EXPECT_EQ(runZorvanLine("snapshot -o " + dir.file("x.png")).status, 1);
    setenv("XDG_SESSION_TYPE", "x11", 1);
    EXPECT_EQ(runZorvanLine("snapshot -o " + dir.file("y.png")).status, 0);
}
