// `zorvan record` end to end on a real Xvfb: a recording of an animated screen whose last
// half second holds a known picture must give that picture back pixel for pixel through
// `zorvan frame`, `zorvan info` must count its frames, and SIGINT or SIGTERM at any moment must end
// with a readable package.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

#include "Video/ZVImage.h"
#include "support/ZVTestSupport.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zvtest::runZorvan;
using zvtest::trimmed;
using zvtest::Zorvan;

long framesOf(const std::string& info) {
    std::smatch m;
    if (!std::regex_search(info, m, std::regex("\nframes: ([0-9]+)"))) return -1;
    return std::stol(m[1]);
}

class RecordCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        ASSERT_TRUE(client.ok());
        client.setInvisibleRootCursor();  // the picture alone, nothing drawn over it
    }
    zvtest::X11TestClient client;
    zvtest::TempDir dir;
};

TEST_F(RecordCommandTest, TheLastFrameIsTheHeldPictureAndInfoCountsTheFrames) {
    Zorvan rec(dir, {"record", "--duration", "3", dir.file("take.fomixx")});
    // Animate: coloured windows that move and change for 2.3 seconds...
    auto start = Clock::now();
    std::vector<uint32_t> windows;
    for (int i = 0; Clock::now() - start < 2300ms; ++i) {
        windows.push_back(client.showColor((i * 37) % 1700, (i * 53) % 900, 220, 180,
                                           0x102030u * uint32_t(i % 7 + 1)));
        if (windows.size() > 4) {
            client.destroyWindow(windows.front());
            windows.erase(windows.begin());
        }
        std::this_thread::sleep_for(30ms);
    }
    // ...then hold a picture in which every pixel differs from every other.
    client.showPattern(0, 0, 1920, 1080);
    ASSERT_EQ(rec.wait(), 0) << rec.err();
    std::string package = trimmed(rec.out());
    EXPECT_EQ(package, dir.file("take.fomixx"));

    std::string info;
    ASSERT_EQ(runZorvan(dir, {"info", package}, &info), 0);
    long frames = framesOf(info);
    EXPECT_GT(frames, 30) << info;  // three seconds of a 60 Hz link, on a busy machine
    EXPECT_NE(info.find("StartOffsetTime"), std::string::npos) << info;
    EXPECT_NE(info.find("cursors.dat"), std::string::npos) << info;

    std::string png = dir.file("last.png");
    ASSERT_EQ(runZorvan(dir, {"frame", package + "/video.fomix", std::to_string(frames), "-o", png},
                        nullptr),
              0);
    auto image = ZVImage::readPNG(png);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width(), 1920);
    ASSERT_EQ(image->height(), 1080);
    long wrong = 0;
    for (int y = 0; y < 1080; ++y) {
        const uint8_t* row = image->row(y);
        for (int x = 0; x < 1920; ++x) {
            uint32_t want = zvtest::X11TestClient::patternPixel(x, y);
            uint32_t got =
                uint32_t(row[x * 4]) << 16 | uint32_t(row[x * 4 + 1]) << 8 | row[x * 4 + 2];
            if (got != want && wrong++ < 5) ADD_FAILURE() << "pixel " << x << "," << y;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(RecordCommandTest, ASignalAtAnyMomentEndsWithAReadablePackage) {
    // Early (the tool still starting), mid-recording by Ctrl-C, by SIGTERM, and by SIGHUP
    // (its terminal closed).
    const std::pair<int, std::chrono::milliseconds> cases[] = {
        {SIGINT, 100ms}, {SIGINT, 700ms}, {SIGTERM, 1000ms}, {SIGHUP, 700ms}};
    int n = 0;
    for (auto [sig, after] : cases) {
        std::string path = dir.file("sig" + std::to_string(n++) + ".fomixx");
        Zorvan rec(dir, {"record", "--rect", "320x200+10+10", path});
        std::this_thread::sleep_for(after);
        rec.signal(sig);
        ASSERT_EQ(rec.wait(30), 0)
            << "signal " << sig << " after " << after.count() << " ms: " << rec.err();
        EXPECT_EQ(trimmed(rec.out()), path);
        std::string info;
        EXPECT_EQ(runZorvan(dir, {"info", path}, &info), 0) << info;
        long frames = framesOf(info);
        EXPECT_GE(frames, 0) << info;
        if (after >= 700ms) {
            EXPECT_GT(frames, 0) << info;
            EXPECT_NE(info.find("size: {320, 200}"), std::string::npos) << info;
        }
    }
}
}  // namespace
