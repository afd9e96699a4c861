// `zorvan export` end to end: a package recorded by `zorvan record` on the test's Xvfb is
// exported into a movie beside it that ffprobe reads (or as a preset from `zorvan preset`
// says), and a failed export (a full disk, a damaged preset or sound track) ends at once
// with one line and a clean exit.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "Export/ZVExportTestSupport.h"
#include "Media/ZVEncodingPreset.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using zvtest::readText;
using zvtest::Zorvan;

class ExportCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        Zorvan rec(dir, {"record", "--duration", "1.5", dir.file("take.fomixx")});
        ASSERT_EQ(rec.wait(60), 0) << rec.err();
        // A microphone track that started half a second after the screen.
        auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
        auto wav = package->createPathForPackageResource(ZVFomixXResourceAudio);
        ASSERT_TRUE(wav);
        zvtest::writeWav(*wav, 44100, [](int i) { return int16_t(i % 100 < 50 ? 8000 : -8000); });
        const double screen = package->startOffsetTime(ZVFomixXResourceVideo).value_or(0);
        package->setStartOffsetTime(screen + 0.5, ZVFomixXResourceAudio);
    }
    zvtest::TempDir dir;
};
}  // namespace

TEST_F(ExportCommandTest, TheMovieGoesBesideThePackageOrFollowsAnEditedPreset) {
    // On a terminal (script(1) gives it one) the export shows its progress, then the movie.
    const std::string command =
        "script -qec \"'" + zvtest::zorvan() + "' export --scale 50 --audio-codec pcm '" +
        dir.file("take.fomixx") + "'\" /dev/null >'" + dir.file("tty.txt") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << readText(dir.file("tty.txt"));
    const std::string tty = readText(dir.file("tty.txt"));
    EXPECT_NE(tty.find(" frames"), std::string::npos) << tty;
    auto streams = zvtest::probeMovie(dir.file("take.mov"));
    ASSERT_FALSE(streams.empty()) << tty;
    // The last status line gives the movie's size and how long it plays, as ffprobe reads it.
    const std::string last = tty.substr(tty.rfind("\r" + dir.file("take.mov") + ": ") + 1);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(last, m, std::regex(": ([0-9.]+) MB, ([0-9]+):([0-9.]+) long")))
        << last;
    EXPECT_NEAR(std::stod(m[1]), double(std::filesystem::file_size(dir.file("take.mov"))) / 1e6,
                0.05);
    EXPECT_NEAR(std::stoi(m[2]) * 60 + std::stod(m[3]), streams[0].duration, 0.02);
    EXPECT_NE(tty.find(dir.file("take.mov") + "\r\n"), std::string::npos) << tty;
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codec, "h264");
    EXPECT_EQ(streams[0].width, 960);
    EXPECT_EQ(streams[0].height, 540);
    // The test display stands still: its repeated frames are folded into the first.
    EXPECT_GE(streams[0].frames, 1);
    EXPECT_NEAR(streams[0].duration, 1.5, 0.1);
    EXPECT_EQ(streams[1].codec, "pcm_s16le");
    EXPECT_NEAR(streams[1].start, 0.5, 0.001);
    EXPECT_NEAR(streams[1].duration, 1.0, 0.001);
    EXPECT_FALSE(std::filesystem::exists(dir.file("take.fomixx/movie.mov")));

    // A preset made by `preset new`, then changed by `preset edit` to 640x360 ProRes.
    const std::string preset = dir.file("p.plist");
    ASSERT_EQ(Zorvan(dir, {"preset", "new", preset}).wait(), 0);
    ASSERT_EQ(
        Zorvan(dir, {"preset", "edit", preset}, "2\n640x360\n10\n1\nprores\nok\nsave\n").wait(), 0);
    Zorvan edited(dir,
                  {"export", "--preset", preset, dir.file("take.fomixx"), "-o", dir.file("p.mov")});
    ASSERT_EQ(edited.wait(120), 0) << edited.err();
    streams = zvtest::probeMovie(dir.file("p.mov"));
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(streams[0].codec, "prores");
    EXPECT_EQ(streams[0].width, 640);
    EXPECT_EQ(streams[0].height, 360);
}

// Each refused or failed export ends at once (a hang meets `timeout`) with one line, exit
// status 1, and no movie anywhere, nor the hidden file it was being written to.
TEST_F(ExportCommandTest, AFailedExportEndsAtOnceWithOneLineAndNoMovie) {
    auto damaged = ZVEncodingPreset::initWithName("damaged");
    damaged->setVideoSettings(ZVSettingsHandle{'z', 'v', 0xff, 1});
    ASSERT_TRUE(damaged->dictRepresentation().writeFile(dir.file("damaged.plist"), false));
    const std::string wav = *ZVFomixXManager::initWithFile(dir.file("take.fomixx"))
                                 ->pathForResource(ZVFomixXResourceAudio);
    struct Case {
        std::string shell, args, line, out = "out.mov";
    } cases[] = {
        // A file-size limit on the process makes every write past it fail as a full disk does
        // (a constant rate: the still display's every frame is written).
        {"ulimit -f 64;", "--video-codec png --fps 60", "Disk is possibly full"},
        {"", "--preset '" + dir.file("damaged.plist") + "'",
         "the preset's video settings cannot be used for this recording"},
        // The movie is begun before the sound tracks are made.
        {"echo damaged >'" + wav + "';", "", wav + ": not a WAV file (no RIFF/WAVE header)"},
        {"", "",
         dir.file("out.avi") + ": unknown kind of movie; the name must end in .mov, .mp4, "
                               ".webm or .gif",
         "out.avi"},
    };
    for (const Case& c : cases) {
        const std::string command = c.shell + " exec timeout 30 '" + zvtest::zorvan() +
                                    "' export " + c.args + " '" + dir.file("take.fomixx") +
                                    "' -o '" + dir.file(c.out) + "' 2>'" + dir.file("err.txt") +
                                    "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.line;
        EXPECT_EQ(WEXITSTATUS(status), 1) << c.line;
        EXPECT_EQ(readText(dir.file("err.txt")), "zorvan export: " + c.line + "\n");
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string().rfind("." + c.out + ".", 0), 0u) << c.line;
        EXPECT_FALSE(std::filesystem::exists(dir.file(c.out))) << c.line;
    }
}
