// `zorvan record`, `export`, `snapshot` and `devices --screens` on a headless sway desktop
// through the desktop portal and PipeWire, as a Wayland user runs them: the frames hold the
// background's known pattern, one frame per refresh whether the screen moves or not, the
// permission is asked once, and a refusal, a lost compositor or a missing PipeWire each end
// with one line and nothing captured lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "../../Export/ZVExportTestSupport.h"
#include "Video/ZVImage.h"
#include "support/ZVWaylandFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_WAYLAND_ENVIRONMENT();

namespace {
using zvtest::runZorvanLine;
using zvtest::WaylandEnvironment;
using zvtest::Zorvan;

double infoNumber(const std::string& info, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(info, m, std::regex(key + " *[:=]? *([0-9.]+)"))) return -1;
    return std::stod(m[1]);
}

// Pixels of `png` (top-left at output pixel `origin`) that differ from the background's
// pattern, sampled on a grid that leaves out the animation's window and the cursor in it.
int wrongPixels(const std::string& png, int originX = 0, int originY = 0) {
    auto image = ZVImage::readPNG(png);
    if (!image) return -1;
    const auto& a = WaylandEnvironment::kAnimation;
    int wrong = 0;
    for (int y = 3; y < image->height(); y += 17)
        for (int x = 5; x < image->width(); x += 23) {
            const int ox = x + originX, oy = y + originY;
            if (ox >= a[0] - 40 && oy >= a[1] - 40) continue;
            const auto want = WaylandEnvironment::pattern(ox, oy);
            const uint8_t* p = image->row(y) + x * 4;  // RGBA
            for (int c = 0; c < 3; ++c)
                if (std::abs(int(p[c]) - int(want[c])) > 2) {
                    if (wrong++ < 3)
                        ADD_FAILURE() << "pixel " << ox << "," << oy << " channel " << c << ": "
                                      << int(p[c]) << " not " << int(want[c]);
                    break;
                }
        }
    return wrong;
}

class WaylandRecordTest : public ::testing::Test {
  protected:
    void SetUp() override { ZV_REQUIRE_WAYLAND(); }
    WaylandEnvironment* desktop = WaylandEnvironment::current();
    zvtest::TempDir dir;
};

TEST_F(WaylandRecordTest, FramesShowThePatternOncePerRefreshAndThePermissionIsAskedOnce) {
    const struct {
        bool animate;
        const char* rect;
        int x, y;  // the rectangle's origin
    } rows[] = {{false, nullptr, 0, 0}, {false, "320x200+170+90", 170, 90}, {true, nullptr, 0, 0}};
    // The second still recording follows one that took the portal's last picture of an
    // unchanged screen: it has its picture from its first frame all the same.
    const int shown = desktop->dialogCount();
    int n = 0;
    for (const auto& row : rows) {
        ASSERT_TRUE(desktop->setAnimating(row.animate));
        const std::string package = dir.file("take" + std::to_string(n++) + ".fomixx");
        std::vector<std::string> args = {"record", "--duration", "3", package};
        if (row.rect) args.insert(args.begin() + 1, {"--rect", row.rect});
        Zorvan rec(dir, args);
        ASSERT_EQ(rec.wait(), 0) << rec.err();
        std::string info;
        ASSERT_EQ(zvtest::runZorvan(dir, {"info", package}, &info), 0);
        // One frame per 60 Hz refresh, moving or still: frames repeat while nothing changes.
        const double duration = infoNumber(info, "duration"), frames = infoNumber(info, "frames");
        EXPECT_GE(frames, 55 * duration) << info;
        const double offset = infoNumber(info, "StartOffsetTime");
        EXPECT_GE(offset, 0) << info;
        EXPECT_LT(offset, 0.5) << info;
        for (long frame : {1L, long(frames)}) {
            const std::string png = dir.file("frame.png");
            ASSERT_EQ(
                zvtest::runZorvan(
                    dir, {"frame", package + "/video.fomix", std::to_string(frame), "-o", png},
                    nullptr),
                0);
            auto image = ZVImage::readPNG(png);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->width(), row.rect ? 320 : WaylandEnvironment::kWidth);
            EXPECT_EQ(wrongPixels(png, row.x, row.y), 0)
                << "frame " << frame << " of " << (row.rect ? row.rect : "the whole output");
        }
    }
    // The first recording asked; the permission it kept answered the others.
    EXPECT_LE(desktop->dialogCount(), shown + 1);

    auto ex = runZorvanLine("export " + dir.file("take2.fomixx") + " -o " + dir.file("m.mov"));
    ASSERT_EQ(ex.status, 0) << ex.err;
    auto streams = zvtest::probeMovie(dir.file("m.mov"));
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].type, "video");
    EXPECT_EQ(streams[0].width, WaylandEnvironment::kWidth);
    EXPECT_GE(streams[0].frames, 30);
}

TEST_F(WaylandRecordTest, SnapshotAndScreensGoThroughThePortal) {
    auto snap = runZorvanLine("snapshot -o " + dir.file("s.png"));
    ASSERT_EQ(snap.status, 0) << snap.err;
    EXPECT_EQ(wrongPixels(dir.file("s.png")), 0);
    auto screens = runZorvanLine("devices --screens");
    EXPECT_EQ(screens.status, 0) << screens.err;
    EXPECT_NE(screens.out.find("sources: monitor\n  cursor: hidden, embedded"), std::string::npos)
        << screens.out;
    // The wlroots portal shares monitors only.
    auto window = runZorvanLine("grab-window -o " + dir.file("w.png"));
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.err,
              "zorvan grab-window: the desktop portal cannot share a window here "
              "(it offers monitor)\n");
}

// In this order, as each breaks the desktop a little more.
TEST_F(WaylandRecordTest, ARefusalALostCompositorAndNoPipeWireEachEndWithOneLine) {
    desktop->setRefusing(true);
    auto refused = runZorvanLine("record --ask --duration 1 " + dir.file("no.fomixx"));
    desktop->setRefusing(false);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "zorvan record: screen sharing was refused (the dialog was cancelled or closed)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("no.fomixx")));

    const std::string package = dir.file("lost.fomixx");
    Zorvan rec(dir, {"record", package});
    ASSERT_TRUE(
        zvtest::eventually([&] { return std::filesystem::exists(package + "/video.fomix"); }, 20));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    desktop->killCompositor();
    EXPECT_EQ(rec.wait(30), 1);
    EXPECT_NE(rec.err().find("zorvan record: "), std::string::npos) << rec.err();
    std::string info;
    ASSERT_EQ(zvtest::runZorvan(dir, {"info", package}, &info), 0) << info;
    EXPECT_GT(infoNumber(info, "frames"), 30) << info;

    desktop->killPipeWire();
    auto none = runZorvanLine("record --duration 1 " + dir.file("none.fomixx"));
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err.rfind("zorvan record: PipeWire is not running", 0), 0u) << none.err;
    EXPECT_EQ(std::count(none.err.begin(), none.err.end(), '\n'), 1) << none.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.fomixx")));
}
}  // namespace
