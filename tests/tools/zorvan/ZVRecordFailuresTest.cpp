// What a user meets when a recording goes wrong, through the zorvan tool: starts that
// cannot work (a directory for a name, a full or read-only disk) are refused with their
// reason and leave nothing; an X server that dies ends the recording there with its
// reason; a recording killed outright keeps its tracks' offsets and is mended by
// `zorvan repair` (picture, cursors and sound) and exported in step.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "Audio/ZVTonePlayer.h"
#include "Export/ZVExportTestSupport.h"
#include "Storage/ZVFomixFileReader.h"
#include "ZorvanInternal.h"
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
    auto isDirectory = [](const std::string& path, const std::string& suggested) {
        return "cannot write " + path +
               ": it is a directory, not a recording package (name one such as " + suggested + ")";
    };
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
        {{"--rect", "99999x99999", out},
         "--rect '99999x99999' is larger than the screens (1920x1080 in all)"},
        // A directory that is no package never becomes a name ("dir.", ".-1.", "/-1.").
        {{"--duration", "1", dir.path()}, isDirectory(dir.path(), dir.file("take.fomixx"))},
        {{"--duration", "1", "/"}, isDirectory("/", "/take.fomixx")},
        {{"--duration", "1", "."}, isDirectory(".", "./take.fomixx")},
        {{"--duration", "1", "../"}, isDirectory("../", "../take.fomixx")},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"record"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Zorvan rec(dir, args);
        EXPECT_EQ(rec.wait(), 1) << c.says;
        EXPECT_EQ(rec.err(), "zorvan record: " + c.says + "\n");
        EXPECT_EQ(rec.out(), "");
    }
    // Nothing but the runs' own output files: no package, nor a part of one.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().extension(), ".txt") << entry.path();
}

// Two small file systems of the test's own, one full and one read-only, unmounted when it
// goes; ok() is false where mounting is not allowed.
class TinyDisks {
  public:
    explicit TinyDisks(const TempDir& dir) : full(dir.file("full")), readOnly(dir.file("ro")) {
        std::filesystem::create_directory(full);
        std::filesystem::create_directory(readOnly);
        _ok = runProgram({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full}) == 0 &&
              runProgram({"mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", readOnly}) == 0;
        // Filled to the last block.
        if (_ok) runProgram({"dd", "if=/dev/zero", "of=" + full + "/filler", "bs=4k"});
    }
    ~TinyDisks() {
        runProgram({"umount", full});
        runProgram({"umount", readOnly});
    }
    bool ok() const { return _ok; }
    const std::string full, readOnly;

  private:
    bool _ok = false;
};

TEST(RecordFailures, APackageNameGetsItsExtensionAndAFailedCreateSaysWhyAndLeavesNothing) {
    ZV_REQUIRE_XVFB();
    TempDir dir;
    Zorvan named(dir, {"record", "--duration", "0.5", dir.file("plain")});
    EXPECT_EQ(named.wait(), 0) << named.err();
    EXPECT_EQ(trimmed(named.out()), dir.file("plain.fomixx"));

    TinyDisks disks(dir);
    if (!disks.ok()) GTEST_SKIP() << "no tmpfs can be mounted here";
    const struct {
        std::string package, says, leaves;
    } cases[] = {
        {disks.full + "/x.fomixx",
         "cannot create the package " + disks.full + "/x.fomixx: No space left on device",
         "filler"},
        {disks.readOnly + "/x.fomixx",
         "cannot write " + disks.readOnly + "/x.fomixx: Read-only file system", ""},
    };
    for (const auto& c : cases) {
        Zorvan rec(dir, {"record", "--duration", "1", c.package});
        EXPECT_EQ(rec.wait(), 1) << c.says;
        EXPECT_EQ(rec.err(), "zorvan record: " + c.says + "\n");
        std::string left;
        for (const auto& e :
             std::filesystem::directory_iterator(std::filesystem::path(c.package).parent_path()))
            left += e.path().filename().string();
        EXPECT_EQ(left, c.leaves) << c.says;
    }
    // A picture written to the full disk says so, and leaves no torn file.
    const std::string png = disks.full + "/x.png";
    Zorvan frame(dir, {"frame", dir.file("plain.fomixx/video.fomix"), "1", "-o", png});
    EXPECT_EQ(frame.wait(), 1);
    EXPECT_EQ(frame.err(), "zorvan frame: cannot write " + png + ": No space left on device\n");
    EXPECT_FALSE(std::filesystem::exists(png));
}

TEST(RecordFailures, ALostXServerEndsTheRecordingThereWithItsReason) {
    PrivateXvfb x;
    ASSERT_FALSE(x.display().empty());
    TempDir dir;
    const std::string package = dir.file("lost.fomixx");
    std::unique_ptr<Zorvan> rec;
    {
        EnvScope display("DISPLAY", x.display().c_str());
        rec.reset(new Zorvan(dir, {"record", "--duration", "10", package}));
    }
    eventually([&] { return std::filesystem::exists(package + "/video.fomix"); }, 30);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    x.kill();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_EQ(rec->wait(), 1);
    // It ends with the server, not when its ten seconds are up.
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5));
    EXPECT_NE(rec->err().find("zorvan record: the screen can no longer be read: the connection "
                              "to the X display \"" +
                              x.display() + "\" broke (the X server went away or closed it)\n"),
              std::string::npos)
        << rec->err();
    // The header says what the file holds: its frames, lasting to the last one's time.
    ZVFomixFileReader reader;
    ASSERT_TRUE(reader.openFile(package + "/video.fomix") && reader.readHeader());
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(reader.canvasSize(w, h));
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(w, h, pixels);
    ZVFomixRecord record;
    uint32_t frames = 0;
    float last = 0;
    while (reader.readFrame(record, canvas, false) == ZVFomixStep::Frame) {
        ++frames;
        last = float(record.info.timestamp);
    }
    const ZVFomixFileInfo header = ZVFomixIO::infoForFile(package + "/video.fomix");
    EXPECT_EQ(header.frames, frames);
    EXPECT_FLOAT_EQ(header.duration, last);
    EXPECT_NEAR(last, 2.0, 1.0);
}

TEST(RecordFailures, AKilledRecordingKeepsItsOffsetsAndIsMendedInStep) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(ZVPulseFixture::instance());
    X11TestClient client;
    ASSERT_TRUE(client.ok());
    client.setRootCursor(kCursorWatch);
    ZVTonePlayer tone("mic_feed", 5000);  // keeps the feed awake; silent until the tone
    const uint32_t black = client.showColor(0, 0, 320, 240, 0x000000);
    TempDir dir;
    const std::string package = dir.file("killed.fomixx");
    Zorvan rec(dir, {"record", "--rect", "320x240+0+0", "--mic", "default", package});
    // The package appears once recording began; the screen turns red and a tone starts
    // together two seconds from there, and the recording is killed a second later.
    eventually([&] { return std::filesystem::exists(package + "/video.fomix"); });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double before = ZVAbsoluteTimeGetCurrent();
    const uint32_t red = client.showColor(0, 0, 320, 240, 0xFF0000);
    const double now = (before + ZVAbsoluteTimeGetCurrent()) / 2;
    tone.setTone(now, now + 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    rec.signal(SIGKILL);
    rec.wait();
    client.destroyWindow(red);
    client.destroyWindow(black);

    // Info.plist as the crash left it places every track: both offsets, and the rate
    // measured so far.
    auto left = ZVFomixXManager::initWithFile(package);
    EXPECT_TRUE(left->startOffsetTime(ZVFomixXResourceVideo));
    EXPECT_TRUE(left->startOffsetTime(ZVFomixXResourceAudio));
    auto audio = left->propertiesForResource(ZVFomixXResourceAudio);
    ASSERT_TRUE(audio && audio->get("MeasuredSampleRate"));
    EXPECT_NEAR(audio->get("MeasuredSampleRate")->doubleValue(), 44100, 44100 * 0.002);

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
    // Exported, the tone starts with the red picture.
    const std::string movie = dir.file("killed.mov");
    ASSERT_EQ(runZorvan(dir, {"export", package, "-o", movie}, &out), 0) << out;
    const double redAt = firstRedFrame(movie);
    ASSERT_GT(redAt, 0);
    EXPECT_NEAR(toneOnset(movie), redAt, 0.035);
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
