// `zorvan export` end to end: a package recorded by `zorvan record` on the test's Xvfb is
// exported into a movie beside it that ffprobe reads (or as a preset from `zorvan preset`
// says), and a failed export (a full disk, a damaged preset or sound track) ends at once
// with one line and a clean exit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "Export/ZVExportTestSupport.h"
#include "Media/ZVEncodingPreset.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixTestFiles.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVCursorSamples.h"
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
    // A preset asking for a zoom level out of range, and a plan whose segment asks for one.
    ZVValue tooClose = damaged->dictRepresentation();
    tooClose.set("ZoomLevel", 9.0);
    ASSERT_TRUE(tooClose.writeFile(dir.file("close.plist"), false));
    ZVValue segment = ZVValue::dict();
    segment.set("Start", 0.1);
    segment.set("End", 0.5);
    segment.set("Level", 9.0);
    ZVValue plan = ZVValue::dict();
    plan.set("Segments", ZVValue::Array{segment});
    ASSERT_TRUE(plan.writeFile(dir.file("plan.plist"), false));
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
        {"", "--preset '" + dir.file("close.plist") + "'",
         dir.file("close.plist") + ": \"ZoomLevel\" must be a number from 1.25 to 4"},
        {"", "--zoom '" + dir.file("plan.plist") + "'",
         dir.file("plan.plist") + ": segment 1: level 9 lies outside 1.25 to 4"},
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

// Four seconds at 60 frames a second of a pointer moving over a still grey screen, with
// sound: a click at 0.5 s, "H" and "I" typed at 1.0 and 1.1 s, Control-S at 1.5 s. The key
// track follows the strip (it fades out 1.5 s after the last key), the chapters the click
// and the shortcut; every frame differs, so the key frames come at most 2 s apart.
TEST(ExportCommandTextTest, KeysAndClicksBecomeAKeyTrackAndChapters) {
    zvtest::TempDir dir;
    auto package = ZVFomixXManager::initWithFile(dir.file("typed.fomixx"));
    package->createFomixX();
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    const std::map<int, ZVKeyStroke> keys = {{60, {0, 4}}, {66, {0, 34}}, {90, {0x40000, 1}}};
    for (int i = 0; i < 240; ++i) {
        ZVFrameInfo info{};
        info.dimensions = ZVSize{160, 120};
        info.timestamp = i / 60.0;
        info.mousePointerIndex = 1;
        info.mousePointerLocation = {20.0f + float(i % 100), 60};
        info.frameFlags = (i >= 30 && i < 36 ? kZVFrameLeftButton : 0) |
                          (keys.count(i) ? kZVFrameHasKeyStrokes : 0);
        info.keyCode = -1;
        auto frame = ZVMovieFrame::movieFrameWithInfo(info);
        std::memset(frame->baseAddress(), 0x80, frame->bufferSize());
        if (keys.count(i)) {
            const auto* entry = reinterpret_cast<const uint8_t*>(&keys.at(i));
            frame->setKeyStrokes({entry, entry + sizeof(ZVKeyStroke)});
        }
        frames.push_back(frame);
    }
    zvtest::recordFrames(*package->createPathForPackageResource(ZVFomixXResourceVideo), frames);
    ZVCursorListFile::write(*package->createPathForPackageResource(ZVFomixXResourceCursors),
                            {zvtest::makeCursor(8, 8, {0, 0}, 1, 0xFF00FF00)});
    zvtest::writeWav(*package->createPathForPackageResource(ZVFomixXResourceAudio), 4 * 44100,
                     [](int i) { return int16_t(i % 100 < 50 ? 8000 : -8000); });
    // The strip's fade reaches zero after the frame at 3.0 s, which still shows it.
    const std::vector<zvtest::Cue> chapters = {{0, 0.5, "Start"},
                                               {0.5, 1.5, "Click"},
                                               {1.5, 4, "Ctrl+S"}},
                                   texts = {{1.0, 1.1, "H"},
                                            {1.1, 1.5, "HI"},
                                            {1.5, 3.0 + 1 / 60.0, "HI ⌃S"}};
    const auto expect = [](const std::vector<zvtest::Cue>& got,
                           const std::vector<zvtest::Cue>& want, const std::string& what) {
        ASSERT_EQ(got.size(), want.size()) << what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].text, want[i].text) << what;
            EXPECT_NEAR(got[i].start, want[i].start, 1 / 60.0) << what << " " << i;
            EXPECT_NEAR(got[i].end, want[i].end, 1 / 60.0) << what << " " << i;
        }
    };
    struct Row {
        std::string out, flag;
        bool keyTrack, chapters;
    } const rows[] = {{"a.mov", "", true, true},
                      {"b.mp4", "", true, true},
                      {"c.webm", "", true, true},
                      {"d.mov", "--no-key-track", false, true},
                      {"e.mov", "--no-chapters", true, false},
                      {"f.mov", "--no-keys", false, false}};
    for (const Row& row : rows) {
        std::vector<std::string> args = {"export", package->path(), "-o", dir.file(row.out)};
        if (!row.flag.empty()) args.push_back(row.flag);
        Zorvan ex(dir, args);
        ASSERT_EQ(ex.wait(120), 0) << ex.err();
        const std::string movie = dir.file(row.out);
        expect(zvtest::probeChapters(movie), row.chapters ? chapters : std::vector<zvtest::Cue>{},
               row.out + " chapters");
        // Without a key track ffmpeg finds no subtitle stream and dumps nothing.
        expect(zvtest::subtitles(movie), row.keyTrack ? texts : std::vector<zvtest::Cue>{},
               row.out + " key track");
        // The text track, all known at the start, is interleaved with the sound and video.
        if (row.out == "a.mov") {
            EXPECT_TRUE(zvtest::indexBeforeMedia(movie));
            EXPECT_LE(zvtest::longestRun(movie), 0.5);
        }
        std::vector<double> key = zvtest::keyFrameTimes(movie);
        key.push_back(4.0);
        for (size_t i = 1; i < key.size(); ++i)
            EXPECT_LE(key[i] - key[i - 1], 2 + 1 / 60.0 + 0.001) << row.out << " at " << key[i];
    }
}
