// What a user meets when a recording goes wrong, through the zorvan tool: starts that
// cannot work are refused before any package exists; a recording killed outright is
// mended by `zorvan repair` (picture, cursors and sound); `info` says non-zero for what is
// no recording or is damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Zorvan.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

using namespace zvtest;

bool anyPackage(const TempDir& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().extension() == ".fomixx") return true;
    return false;
}

TEST(RecordFailures, BadStartsSayWhyAndLeaveNoPackage) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(ZVPulseFixture::instance());
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--duration", "inf"}, "zorvan record: --duration needs a number of seconds above 0\n"},
        {{"--rect", "100x100+5000+5000"},
         "zorvan record: --rect '100x100+5000+5000' lies on no screen\n"},
        {{"--rect", "32767x32767+0+0"},
         "zorvan record: --rect '32767x32767+0+0' is larger than a recording can hold\n"},
        {{"--mic", "No Such Microphone", "--duration", "1"},
         "zorvan record: cannot open 'No Such Microphone' for recording (see 'zorvan devices')\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::vector<std::string> args = {"record"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(dir.file("x.fomixx"));
        Zorvan rec(dir, args);
        EXPECT_EQ(rec.wait(), 1) << c.says;
        EXPECT_EQ(rec.err(), c.says);
        EXPECT_FALSE(anyPackage(dir)) << c.says;
    }
}

TEST(RecordFailures, AKilledRecordingIsMendedWithItsCursorsAndSound) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(ZVPulseFixture::instance());
    X11TestClient client;
    ASSERT_TRUE(client.ok());
    client.setRootCursor(150);  // a watch
    client.sync();
    TempDir dir;
    const std::string package = dir.file("killed.fomixx");
    Zorvan rec(dir, {"record", "--mic", "default", package});
    // The package appears once recording began; give it three seconds from there.
    for (int i = 0; i < 500 && !std::filesystem::exists(package + "/video.fomix"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    rec.signal(SIGKILL);
    rec.wait();

    std::string out;
    EXPECT_EQ(runZorvan(dir, {"info", package}, &out), 1);
    ASSERT_EQ(runZorvan(dir, {"repair", package}, &out), 0) << out;
    EXPECT_TRUE(std::filesystem::exists(package + "/video.fomix.damaged"));
    ASSERT_EQ(runZorvan(dir, {"info", package}, &out), 0) << out;

    const ZVFomixFileInfo video = ZVFomixIO::infoForFile(package + "/video.fomix");
    EXPECT_GT(video.frames, 30u);
    EXPECT_NEAR(double(video.duration), 3.0, 1.0);
    auto cursors = ZVCursorListFile::read(package + "/cursors.dat");
    ASSERT_TRUE(cursors);
    EXPECT_FALSE(cursors->empty());
    // sox reads the sound with its real length.
    std::FILE* soxi = popen(("soxi -D " + package + "/audio.wav 2>&1").c_str(), "r");
    ASSERT_NE(soxi, nullptr);
    char length[64] = {};
    const bool got = std::fgets(length, sizeof length, soxi) != nullptr;
    ASSERT_EQ(pclose(soxi), 0) << length;
    ASSERT_TRUE(got);
    // Every sample the file holds (16-bit stereo at 44100 Hz after the writer's 92 bytes);
    // a fresh sound server's first second may never have been delivered.
    const double held = double(std::filesystem::file_size(package + "/audio.wav") - 92) / 4 / 44100;
    EXPECT_NEAR(std::atof(length), held, 0.01);
    EXPECT_GT(held, 0.5);
}

TEST(RecordFailures, InfoFailsOnWhatIsNoRecording) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("plain"));
    std::ofstream(dir.file("plain/notes.txt")) << "hello";
    std::filesystem::create_directories(dir.file("bad.fomixx"));
    std::ofstream(dir.file("bad.fomixx/Info.plist")) << "junk";
    std::string out;
    EXPECT_EQ(runZorvan(dir, {"info", dir.file("plain")}, &out), 1);
    EXPECT_EQ(runZorvan(dir, {"info", dir.file("bad.fomixx")}, &out), 1);
}

}  // namespace
