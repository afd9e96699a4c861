// What a user meets when a recording goes wrong, through the zorvan tool: starts that
// cannot work are refused before any package exists; a recording killed outright is
// mended by `zorvan repair` (picture, cursors and sound).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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

TEST(RecordFailures, BadStartsSayWhyAndLeaveNoPackage) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(ZVPulseFixture::instance());
    TempDir dir;
    const std::string out = dir.file("x.fomixx"), nowhere = "/nonexistent/place/take.fomixx";
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "no output path given (see 'zorvan record --help')"},
        {{"--duration", "inf", out}, "--duration needs a number of seconds above 0"},
        {{"--rect", "12x", out}, "--rect '12x' is not a rectangle WxH+X+Y"},
        {{"--rect", "100x100+5000+5000", out}, "--rect '100x100+5000+5000' lies on no screen"},
        {{"--rect", "32767x32767+0+0", out},
         "--rect '32767x32767+0+0' is larger than a recording can hold"},
        {{"--duration", "1", nowhere},
         "cannot write " + nowhere + ": /nonexistent/place is no directory"},
        {{"--mic", "No Such Microphone", "--duration", "1", out},
         "cannot open 'No Such Microphone' for recording (see 'zorvan devices')"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"record"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Zorvan rec(dir, args);
        EXPECT_EQ(rec.wait(), 1) << c.says;
        EXPECT_EQ(rec.err(), "zorvan record: " + c.says + "\n");
        EXPECT_EQ(rec.out(), "");
        EXPECT_FALSE(std::filesystem::exists(out)) << c.says;
    }
}

TEST(RecordFailures, AKilledRecordingIsMendedWithItsCursorsAndSound) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(ZVPulseFixture::instance());
    X11TestClient client;
    ASSERT_TRUE(client.ok());
    client.setRootCursor(kCursorWatch);
    TempDir dir;
    const std::string package = dir.file("killed.fomixx");
    Zorvan rec(dir, {"record", "--mic", "default", package});
    // The package appears once recording began; give it three seconds from there.
    eventually([&] { return std::filesystem::exists(package + "/video.fomix"); });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    rec.signal(SIGKILL);
    rec.wait();

    std::string out;
    EXPECT_EQ(runZorvan(dir, {"info", package}, &out), 1);
    ASSERT_EQ(runZorvan(dir, {"repair", package}, &out), 0) << out;
    EXPECT_TRUE(std::filesystem::exists(package + "/video.fomix.damaged"));
    ASSERT_EQ(runZorvan(dir, {"info", package}, &out), 0) << out;
    EXPECT_NE(out.find("2 channels, 16-bit integer, 44100 Hz"), std::string::npos) << out;

    const ZVFomixFileInfo video = ZVFomixIO::infoForFile(package + "/video.fomix");
    EXPECT_GT(video.frames, 30u);
    // A microphone that has not captured yet holds the start back for up to 2 s.
    EXPECT_GT(double(video.duration), 0.8);
    EXPECT_LT(double(video.duration), 4.0);
    auto cursors = ZVCursorListFile::read(package + "/cursors.dat");
    ASSERT_TRUE(cursors);
    EXPECT_FALSE(cursors->empty());
    // sox reads the sound with its real length.
    int status = -1;
    const std::string length = ZVPulseFixture::run({"soxi", "-D", package + "/audio.wav"}, &status);
    ASSERT_EQ(status, 0) << length;
    // Every sample the file holds (16-bit stereo at 44100 Hz after the writer's 92 bytes);
    // a fresh sound server's first second may never have been delivered.
    const double held = double(std::filesystem::file_size(package + "/audio.wav") - 92) / 4 / 44100;
    EXPECT_NEAR(std::atof(length.c_str()), held, 0.01);
    EXPECT_GT(held, 0.5);
}

TEST(RecordFailures, AnUnpluggedMicrophoneEndsItsTrackAndTheScreenGoesOn) {
    ZV_REQUIRE_XVFB();
    ZVPulseFixture* pulse = ZVPulseFixture::instance();
    ASSERT_TRUE(pulse);
    // A microphone of its own, so that unplugging it leaves the fixture's alone.
    int status = -1;
    const std::string module =
        pulse->pactl({"load-module", "module-remap-source", "master=mic_feed.monitor",
                      "source_name=umic", "source_properties=device.description=USB_Mic"},
                     &status);
    ASSERT_EQ(status, 0) << module;
    TempDir dir;
    const std::string package = dir.file("unplugged.fomixx");
    Zorvan rec(dir, {"record", "--mic", "USB_Mic", "--duration", "3", package});
    eventually([&] { return std::filesystem::exists(package + "/video.fomix"); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    pulse->pactl({"unload-module", module.substr(0, module.find('\n'))}, &status);
    ASSERT_EQ(status, 0);

    EXPECT_EQ(rec.wait(), 1);
    const std::string err = rec.err();
    EXPECT_NE(err.find("recording of \"USB_Mic\" ended: the device was disconnected"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("recording goes on without it"), std::string::npos) << err;
    // The screen was recorded to the end, and the package reads.
    EXPECT_NEAR(double(ZVFomixIO::infoForFile(package + "/video.fomix").duration), 3.0, 0.5);
    std::string out;
    EXPECT_EQ(runZorvan(dir, {"info", package}, &out), 0) << out;
}

}  // namespace
