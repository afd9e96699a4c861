// `zorvan record` end to end on a real Xvfb: a recording of an animated screen whose last
// half second holds a known picture must give that picture back pixel for pixel through
// `zorvan frame`, `zorvan info` must count its frames, and SIGINT, SIGTERM or SIGHUP at any
// moment must end with a readable package, and a recorder stopped for a while (SIGSTOP)
// says so and counts the frames it missed. On a disk made slow by the kernel's throttle,
// frames left out are counted in the package and a second Ctrl-C ends at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
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

TEST_F(RecordCommandTest, AStoppedRecorderIsReportedAndItsMissedFramesCounted) {
    const std::string package = dir.file("stalled.fomixx");
    Zorvan rec(dir, {"record", "--rect", "320x200+10+10", "--duration", "4", package});
    zvtest::eventually([&] { return std::filesystem::exists(package + "/video.fomix"); });
    std::this_thread::sleep_for(1s);
    kill(rec.pid(), SIGSTOP);  // as a frozen machine would
    std::this_thread::sleep_for(1500ms);
    kill(rec.pid(), SIGCONT);
    ASSERT_EQ(rec.wait(30), 0) << rec.err();
    // The end line gives the stall and the frames missed at 60 Hz; the package keeps them.
    std::smatch m;
    const std::string err = rec.err();
    ASSERT_TRUE(std::regex_search(
        err, m,
        std::regex("the recorder stalled [0-9]+ times? for ([0-9.]+) s in all: ([0-9]+) "
                   "frames missed")))
        << err;
    EXPECT_NEAR(std::stod(m[1]), 1.5, 0.3);
    EXPECT_NEAR(std::stol(m[2]), 89, 20);
    std::string info;
    ASSERT_EQ(runZorvan(dir, {"info", package}, &info), 0) << info;
    EXPECT_NE(info.find("MissedFrames = " + std::string(m[2])), std::string::npos) << info;
}

// A disk far slower than the screen, made by the kernel's block-I/O throttle on the
// recording process (root and the blkio controller; skipped without them).
class ThrottledDisk {
  public:
    ThrottledDisk(const std::string& onFolder, uint64_t bytesPerSecond) {
        struct stat st {};
        if (geteuid() != 0 || stat(onFolder.c_str(), &st) != 0) return;
        std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
        const std::string sys = "/sys/dev/block/" + dev;
        if (!std::filesystem::exists(sys)) return;        // no block device (overlay, tmpfs)
        if (std::filesystem::exists(sys + "/partition"))  // the throttle is the whole disk's
            dev = trimmed(zvtest::readText(sys + "/../dev"));
        _device = dev;
        _group = "/sys/fs/cgroup/blkio/zorvan-test-" + std::to_string(getpid());
        std::error_code ignored;
        if (!std::filesystem::create_directory(_group, ignored) ||
            !put("blkio.throttle.write_bps_device", dev + " " + std::to_string(bytesPerSecond)))
            _group.clear();
    }
    ~ThrottledDisk() {
        if (!_group.empty()) rmdir(_group.c_str());
    }
    bool ok() const { return !_group.empty(); }
    bool add(pid_t pid) { return put("cgroup.procs", std::to_string(pid)); }
    bool lift() { return put("blkio.throttle.write_bps_device", _device + " 0"); }

  private:
    bool put(const std::string& file, const std::string& text) {
        FILE* f = std::fopen((_group + "/" + file).c_str(), "w");
        if (!f) return false;
        const bool written = std::fputs(text.c_str(), f) >= 0;
        return std::fclose(f) == 0 && written;
    }
    std::string _group;
    std::string _device;  // MAJOR:MINOR of the whole disk
};

// Recordings whose writes go to a disk that takes 512 KB a second.
class SlowDiskRecordTest : public RecordCommandTest {
  protected:
    void SetUp() override {
        RecordCommandTest::SetUp();
        if (!disk.ok()) GTEST_SKIP() << "no block-I/O throttle here (needs root and blkio)";
    }
    // `zorvan record` of the whole screen into `package`, on the slow disk.
    std::unique_ptr<Zorvan> record(const std::string& package) {
        auto rec = std::make_unique<Zorvan>(dir, std::vector<std::string>{"record", package});
        EXPECT_TRUE(disk.add(rec->pid()));
        return rec;
    }
    ThrottledDisk disk{dir.path(), 512 << 10};
};

TEST_F(SlowDiskRecordTest, ASecondCtrlCWhileTheDiskCatchesUpEndsAtOnceAndRepairMendsTheRest) {
    const std::string package = dir.file("slow.fomixx");
    auto rec = record(package);
    // Whole new screens, megabytes each, for the slow disk; the writer
    // syncs what it wrote every 8 MB, and that is where it meets the slow disk.
    for (int i = 0; i < 8; ++i) {
        if (i % 2)
            client.showColor(0, 0, 1920, 1080, 0x204060u * uint32_t(i));
        else
            client.showPattern(0, 0, 1920, 1080);
        std::this_thread::sleep_for(150ms);
    }
    rec->signal(SIGINT);
    EXPECT_EQ(rec->wait(1), -1) << "still writing what is queued: " << rec->err();
    const auto second = Clock::now();
    rec->signal(SIGINT);
    EXPECT_EQ(rec->wait(10), 1) << rec->err();
    // A wait for the disk cannot be interrupted: the exit comes once the megabytes in
    // flight are written (4 s here), not after all that was queued (minutes).
    EXPECT_LT(Clock::now() - second, 8s) << "a second Ctrl-C ends at once";
    EXPECT_NE(rec->err().find("stopped before everything was written; 'zorvan repair " + package),
              std::string::npos)
        << rec->err();
    std::string out;
    EXPECT_EQ(runZorvan(dir, {"repair", package}, &out), 0) << out;
    EXPECT_EQ(runZorvan(dir, {"info", package}, &out), 0) << out;
    EXPECT_GT(framesOf(out), 0) << out;
}

}  // namespace
