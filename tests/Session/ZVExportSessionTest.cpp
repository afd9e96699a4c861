// The export session on packages made for the purpose: a screen that turns red in the
// instant a tone starts, a system-audio tone stretched by its measured rate, overlays
// recorded with the frames; read back from the movie with ffprobe and ffmpeg. Where each
// track starts, given its offset, is the movie writer's (tests/Export/ZVMovieTest).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "Export/ZVExportTestSupport.h"
#include "Media/ZVCodecSettings.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Session/ZVExportSession.h"
#include "Session/ZVReadRecordedInput.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixTestFiles.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVMovieFrame.h"
#include "support/ZVCursorSamples.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr int kFrames = 120;    // two seconds at 60 frames per second
constexpr double kRedAt = 1.0;  // screen time of the first red frame
constexpr int kW = 160, kH = 120;
// Overlays: the pointer (from the bottom-left) with a 8x8 green cursor hanging from it,
// a left-button mark whose top-right corner is there, and the key strip (rows 50 to 90).
constexpr ZVPoint kPointer{100, 110};

std::shared_ptr<ZVMovieFrame> solidFrame(int index, bool overlays, int w = kW, int h = kH) {
    ZVFrameInfo info{};
    info.dimensions = ZVSize{float(w), float(h)};
    info.timestamp = index / 60.0;
    info.mousePointerIndex = overlays ? 1 : kZVNoCursorIndex;
    info.mousePointerLocation = kPointer;
    info.frameFlags = overlays ? kZVFrameLeftButton : 0;
    info.keyCode = overlays && index == 20 ? 122 /* F1 */ : -1;
    auto frame = ZVMovieFrame::movieFrameWithInfo(info);
    const uint32_t word = info.timestamp >= kRedAt && !overlays ? 0xFFFF0000u : 0xFF808080u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(frame->baseAddress() + size_t(y) * frame->bytesPerRow() + x * 4, &word, 4);
    return frame;
}

// A 16-bit tone of `frames` frames from frame `from` on, silence before it.
void writeTone(const std::string& path, int frames, int from) {
    zvtest::writeWav(path, frames, [&](int i) {
        return int16_t(i < from ? 0 : 16000 * std::sin(2 * M_PI * 1000 * i / 44100.0));
    });
}

// A package of kFrames frames made by `frame` and the 8x8 green cursor.
std::shared_ptr<ZVFomixXManager> makeScreen(
    const zvtest::TempDir& dir, const std::function<std::shared_ptr<ZVMovieFrame>(int)>& frame) {
    auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
    package->createFomixX();
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(frame(i));
    zvtest::recordFrames(*package->createPathForPackageResource(ZVFomixXResourceVideo), frames);
    ZVCursorListFile::write(*package->createPathForPackageResource(ZVFomixXResourceCursors),
                            {zvtest::makeCursor(8, 8, {0, 0}, 1, 0xFF00FF00)});
    return package;
}

// A package whose screen starts at `videoOffset` and whose microphone, started at
// `audioOffset`, plays a tone from the moment the screen turns red. With `systemOffset`,
// a system-audio track started then, whose device ran 1000 ppm fast, holds a tone from its
// 441000th frame; with `overlays`, the frames record the pointer, cursor, button and a key
// (and stay grey).
std::string makePackage(const zvtest::TempDir& dir, double videoOffset, double audioOffset,
                        std::optional<double> systemOffset = {}, bool overlays = false) {
    auto package = makeScreen(dir, [&](int i) { return solidFrame(i, overlays); });
    writeTone(*package->createPathForPackageResource(ZVFomixXResourceAudio), 3 * 44100,
              int(std::lround((kRedAt + videoOffset - audioOffset) * 44100)));
    package->setStartOffsetTime(videoOffset, ZVFomixXResourceVideo);
    package->setStartOffsetTime(audioOffset, ZVFomixXResourceAudio);
    if (systemOffset) {
        writeTone(*package->createPathForPackageResource(ZVFomixXResourceSystemAudio), 451000,
                  441000);
        package->setStartOffsetTime(*systemOffset, ZVFomixXResourceSystemAudio);
        package->setPropertie("MeasuredSampleRate", ZVValue(44100 * 1.001),
                              ZVFomixXResourceSystemAudio);
    }
    return package->path();
}

// A package of `count` solid frames of w x h pixels crossed by a dark square (h / 4 pixels
// wide), without sound.
std::string movingSquare(const zvtest::TempDir& dir, int w, int h, int count) {
    auto package = ZVFomixXManager::initWithFile(dir.file("square.fomixx"));
    package->createFomixX();
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < count; ++i) {
        auto frame = solidFrame(i, false, w, h);
        uint8_t* base = frame->baseAddress();
        for (int y = 0; y < h / 4; ++y)
            std::memset(base + y * frame->bytesPerRow() + i * 2 % (w - h / 4) * 4, 0x20, size_t(h));
        frames.push_back(frame);
    }
    zvtest::recordFrames(*package->createPathForPackageResource(ZVFomixXResourceVideo), frames);
    return package->path();
}

// H.264 at 60 frames per second and AAC.
std::shared_ptr<ZVEncodingPreset> testPreset() {
    auto preset = ZVEncodingPreset::initWithName("test");
    ZVCodecSettings video(ZVCodecSettingsKind::video);
    video.setFrameRate(ZVDoubleToFixed(60));
    preset->setVideoSettings(video.save());
    preset->setSoundSettings(ZVCodecSettings(ZVCodecSettingsKind::sound).save());
    return preset;
}

// An export of `package` with `preset` (into `output` when given), started.
std::shared_ptr<ZVExportSession> startExport(const std::string& package,
                                             const ZVEncodingPreset& preset = *testPreset(),
                                             const std::string& output = {}) {
    std::string error;
    auto session = ZVExportSession::create(package, preset, &error);
    if (session && !output.empty()) session->setOutputPath(output);
    EXPECT_EQ(session ? session->start() : error, "");  // no error making or starting it
    return session;
}

// The largest difference from the grey background of a channel of the pixels in the
// rows [y0, y1) and columns [x0, x1) of an rgb24 picture kW wide.
int changeFromGrey(const std::string& rgb, int x0, int y0, int x1, int y1) {
    int most = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                most = std::max(most, std::abs(uint8_t(rgb[size_t(y * kW + x) * 3 + c]) - 128));
    return most;
}
}  // namespace

TEST(ExportSessionTest, TheRedFrameAndTheToneOnsetMeetInTheMovie) {
    zvtest::TempDir dir;
    auto session = startExport(makePackage(dir, 0.1, 0.6, 0.35));
    ASSERT_TRUE(session);
    ASSERT_EQ(session->waitUntilFinished(120), "");
    EXPECT_EQ(session->progress().framesDone, kFrames);
    const std::string movie = session->moviePath();
    EXPECT_EQ(movie, dir.file("take.mov"));
    auto streams = zvtest::probeMovie(movie);
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0].codec, "h264");
    EXPECT_EQ(streams[0].width, kW);
    EXPECT_EQ(streams[0].height, kH);
    EXPECT_EQ(streams[0].frames, kFrames);
    EXPECT_NEAR(streams[0].duration, kFrames / 60.0, 0.02);
    EXPECT_EQ(streams[1].codec, "aac");
    EXPECT_EQ(streams[1].sampleRate, 44100);
    const double red = zvtest::firstRedFrame(movie), onset = zvtest::toneOnset(movie);
    EXPECT_NEAR(red, kRedAt, 0.001);
    EXPECT_NEAR(onset, red, 0.017);
    // Each sound stream at its own offset, less the encoder's priming (one packet). The
    // system audio's device gave its 441000th frame 441000 / 44144.1 s after its first,
    // 10 ms before the nominal rate would put it.
    EXPECT_NEAR(streams[1].start, 0.5 - 0.024, 0.002);
    EXPECT_EQ(streams[2].codec, "aac");
    EXPECT_NEAR(streams[2].start, 0.25 - 0.024, 0.002);
    EXPECT_NEAR(zvtest::toneOnset(movie, 1), 0.25 + 441000 / 44144.1, 0.003);
    // Ready to play while it loads: the index first, the tracks in runs of half a second.
    EXPECT_TRUE(zvtest::indexBeforeMedia(movie));
    EXPECT_LE(zvtest::longestRun(movie), 0.5);
}

// The same recording as MP4 and as WebM (VP9 and Opus): the sound (3 s from 0.5 s on)
// outlasts the screen and its tone meets the red frame.
TEST(ExportSessionTest, MP4AndWebMHoldTheRecording) {
    zvtest::TempDir dir;
    const std::string package = makePackage(dir, 0.1, 0.6);
    for (auto [name, video, sound] : {std::array<std::string, 3>{"out.mp4", "h264", "aac"},
                                      std::array<std::string, 3>{"out.webm", "vp9", "opus"}}) {
        const std::string movie = dir.file(name);
        auto session = startExport(package, *testPreset(), movie);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->waitUntilFinished(120), "") << name;
        const auto streams = zvtest::probeMovie(movie);
        ASSERT_EQ(streams.size(), 2u) << name;
        EXPECT_EQ(streams[0].codec, video);
        EXPECT_EQ(streams[0].width, kW);
        EXPECT_EQ(streams[0].height, kH);
        EXPECT_EQ(streams[1].codec, sound);
        EXPECT_NEAR(zvtest::movieDuration(movie), 3.5, 0.05) << name;
        EXPECT_NEAR(zvtest::firstRedFrame(movie), kRedAt, 0.001) << name;
        EXPECT_NEAR(zvtest::toneOnset(movie), kRedAt, 0.03) << name;
    }
}

// libx265 leaves some of its own allocations unfreed, whatever the caller does; the leak
// checker of the sanitizer builds should not count them against us.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

// The stream's level follows the picture size and the movie's frame rate (the preset's, else
// the recording's), not the ticks per second of its time scale. HEVC's levels count in
// thirtieths (4.1 is 123).
TEST(ExportSessionTest, TheLevelFitsTheSizeAndRate) {
    struct Case {
        int w, h;
        double presetRate;
        int mostLevel;
        uint32_t codec;
    } cases[] = {{1920, 1080, 0, 42, kZVVideoCodecType_H264},
                 {3840, 2160, 60, 52, kZVVideoCodecType_H264},
                 {1920, 1080, 60, 123, kZVVideoCodecType_HEVC}};
    for (const Case& c : cases) {
        zvtest::TempDir dir;
        auto preset = ZVEncodingPreset::initWithName("level");
        ZVCodecSettings video(ZVCodecSettingsKind::video);
        video.setCodecType(c.codec);
        video.setFrameRate(ZVDoubleToFixed(c.presetRate));
        video.setCodecOption("preset", "ultrafast");
        preset->setVideoSettings(video.save());
        auto session = startExport(movingSquare(dir, c.w, c.h, 4), *preset);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->waitUntilFinished(120), "");
        const auto streams = zvtest::probeMovie(session->moviePath());
        ASSERT_FALSE(streams.empty());
        EXPECT_EQ(streams[0].codec, c.codec == kZVVideoCodecType_HEVC ? "hevc" : "h264");
        EXPECT_TRUE(streams[0].level > 0 && streams[0].level <= c.mostLevel) << streams[0].level;
    }
}

// A GIF is for short clips: ten seconds of a square moving across 320 x 200 pixels come
// out at 15 frames a second in under 100 kB (about 36 kB).
TEST(ExportSessionTest, AGIFOfTenSecondsStaysSmall) {
    zvtest::TempDir dir;
    auto session = startExport(movingSquare(dir, 320, 200, 600),
                               *ZVEncodingPreset::initWithName("gif"), dir.file("a.gif"));
    ASSERT_TRUE(session);
    ASSERT_EQ(session->waitUntilFinished(120), "");
    const auto streams = zvtest::probeMovie(dir.file("a.gif"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].codec, "gif");
    EXPECT_EQ(streams[0].width, 320);
    EXPECT_NEAR(streams[0].frames, 150, 1);
    EXPECT_NEAR(zvtest::movieDuration(dir.file("a.gif")), 10, 0.1);
    EXPECT_LT(std::filesystem::file_size(dir.file("a.gif")), 100'000u);
}

TEST(ExportSessionTest, TheOverlaysAreInThePictureUnlessThePresetSwitchesThemOff) {
    zvtest::TempDir dir;
    const std::string package = makePackage(dir, 0, 0, {}, true);
    auto preset = testPreset();
    struct Case {
        bool cursor, clicks, keys, inFrames = false;
        double cursorScale = 1, hideIdle = 0;  // the pointer never moves
    } cases[] = {{true, true, true},
                 {false, true, true},
                 {true, false, false},
                 {true, true, true, false, 2},
                 {true, true, true, false, 1, 0.25},
                 {true, true, true, true}};
    for (const Case& c : cases) {
        // A package whose frames hold the cursor already (the last row: it says so from
        // then on) gets no second one.
        if (c.inFrames)
            ZVFomixXManager::initWithFile(package)->setPropertie(
                std::string(ZVScreenTrack::kCursorInFramesKey), ZVValue(true),
                ZVFomixXResourceVideo);
        preset->setIncludesCursorTrack(c.cursor);
        preset->setShowsMouseClicks(c.clicks);
        preset->setShowsKeysPressed(c.keys);
        preset->setCursorScale(c.cursorScale);
        preset->setHideIdleCursor(c.hideIdle);
        auto session = startExport(package, *preset);
        ASSERT_TRUE(session);
        ASSERT_EQ(session->waitUntilFinished(120), "");
        const std::string rgb = zvtest::frameAt(session->moviePath(), 0.5);
        ASSERT_EQ(rgb.size(), size_t(kW * kH * 3));
        const int top = kH - int(kPointer.y), x = int(kPointer.x);
        const auto near = [](int code, int want) { return std::abs(code - want) < 40; };
        // The cursor's green at its centre; the mark beside it (drawn with the cursor); the
        // strip's dark band.
        const auto green = [&](int dx) {
            const auto* p =
                reinterpret_cast<const uint8_t*>(&rgb[size_t((top + dx) * kW + x + dx) * 3]);
            return near(p[0], 0) && near(p[1], 255) && near(p[2], 0);
        };
        // Hidden after a quarter of a second at rest; twice as large, it reaches 12 px on.
        EXPECT_EQ(green(4), c.cursor && !c.inFrames && c.hideIdle == 0);
        EXPECT_EQ(green(12), c.cursorScale == 2);
        EXPECT_EQ(changeFromGrey(rgb, x - 32, top, x, 50) > 60, c.cursor && c.clicks);
        EXPECT_EQ(changeFromGrey(rgb, kW - 20, 55, kW, 85) > 40, c.keys);
        EXPECT_LT(changeFromGrey(rgb, 0, 95, kW, kH), 20);  // below the strip: untouched
        std::filesystem::remove(session->moviePath());
    }
}

// The camera over a black-and-white grid of 8-pixel cells, exported losslessly (PNG):
// with an empty plan the movie is the one made without a camera, byte for byte; at full
// zoom it shows the middle of the picture at twice its size as ffmpeg's crop and bicubic
// scale of that movie shows it, and stays still while the view does; on the way in the
// cells only grow, frame by frame, to twice their size and no further; a pan moves them
// by whole pixels.
TEST(ExportSessionTest, TheCameraShowsThePlansViewScaledUpSmoothly) {
    zvtest::TempDir dir;
    auto package = makeScreen(dir, [](int i) {
        auto frame = solidFrame(i, false);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const uint32_t word = (x / 8 + y / 8) % 2 ? 0xFFFFFFFFu : 0xFF000000u;
                std::memcpy(frame->baseAddress() + size_t(y) * frame->bytesPerRow() + x * 4, &word,
                            4);
            }
        return frame;
    });
    auto preset = testPreset();
    ZVCodecSettings png(ZVCodecSettingsKind::video);
    png.setCodecType(kZVVideoCodecType_PNG);
    png.setFrameRate(ZVDoubleToFixed(60));
    preset->setVideoSettings(png.save());
    preset->setIncludesAudioTrack(false);
    std::string why;
    const ZVRecordedInput input = *ZVReadRecordedInput(package->path(), &why);
    const auto movie = [&](const std::string& name, std::vector<ZVZoomSegment> segments) {
        std::string error;
        auto session = ZVExportSession::create(package->path(), *preset, &error);
        session->setOutputPath(dir.file(name));
        if (name != "off.mov")
            session->setZoomPlan(std::make_shared<ZVZoomPlan>(std::move(segments), input));
        EXPECT_EQ(session->start(), "");
        EXPECT_EQ(session->waitUntilFinished(120), "");
        return dir.file(name);
    };
    const std::string off = movie("off.mov", {});
    EXPECT_EQ(zvtest::readBytes(movie("empty.mov", {})), zvtest::readBytes(off));
    // Full zoom from 1.0 s on, moving in from 0.5 s.
    const std::string zoomed = movie("zoomed.mov", {{1.0, 1.9, 2, ZVPoint{80, 60}}});

    const std::string reference = dir.file("reference.rgb");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -ss 1.5 -i '" + off +
                           "' -frames:v 1 -vf crop=80:60:40:30,scale=160:120:flags=bicubic "
                           "-f rawvideo -pix_fmt rgb24 '" +
                           reference + "'")
                              .c_str()),
              0);
    const std::string expected = zvtest::readText(reference), shown = zvtest::frameAt(zoomed, 1.5);
    ASSERT_EQ(shown.size(), expected.size());
    long sum = 0;
    for (size_t i = 0; i < shown.size(); ++i)
        sum += std::abs(int(uint8_t(shown[i])) - int(uint8_t(expected[i])));
    EXPECT_LT(double(sum) / double(shown.size()), 3.0);
    EXPECT_EQ(zvtest::frameAt(zoomed, 1.2), shown);

    // Edges between cells along the middle row.
    const auto edges = [](const std::string& rgb) {
        int n = 0;
        for (int x = 1; x < kW; ++x)
            n += (uint8_t(rgb[size_t((kH / 2) * kW + x) * 3]) > 127) !=
                 (uint8_t(rgb[size_t((kH / 2) * kW + x - 1) * 3]) > 127);
        return n;
    };
    int before = edges(zvtest::frameAt(zoomed, 0.45));
    EXPECT_EQ(before, kW / 8 - 1);
    for (int frame = 30; frame <= 62; ++frame) {
        const int now = edges(zvtest::frameAt(zoomed, (frame + 0.5) / 60));
        EXPECT_LE(now, before) << "frame " << frame;
        EXPECT_GE(now, kW / 16 - 1) << "frame " << frame;
        before = now;
    }
    EXPECT_LE(before, kW / 16);

    // Between two views of one level the camera pans by whole pixels: each frame is the
    // one before moved sideways, pixel for pixel, never a picture resampled between them.
    const std::string panned =
        movie("panned.mov", {{1.0, 1.3, 2, ZVPoint{60, 60}}, {1.6, 2.0, 2, ZVPoint{100, 60}}});
    for (int frame = 68; frame < 96; frame += 3) {
        const std::string a = zvtest::frameAt(panned, (frame + 0.5) / 60);
        const std::string b = zvtest::frameAt(panned, (frame + 1.5) / 60);
        bool moved = false;
        for (size_t dx = 0; dx <= 8 && !moved; ++dx) {
            moved = true;
            for (size_t y = 0, n = (kW - dx) * 3; y < kH && moved; ++y)
                moved = a.compare((y * kW + dx) * 3, n, b, y * kW * 3, n) == 0;
        }
        EXPECT_TRUE(moved) << "frame " << frame;
    }
}

TEST(ExportSessionTest, ARecordingWithoutAScreenTrackIsRefused) {
    zvtest::TempDir dir;
    auto package = ZVFomixXManager::initWithFile(dir.file("empty.fomixx"));
    package->createFomixX();
    std::string error;
    EXPECT_FALSE(ZVExportSession::create(package->path(), *testPreset(), &error));
    EXPECT_EQ(error, package->path() + ": the recording has no screen track");
}

TEST(ExportSessionTest, ACancelEndsPromptlyWithoutAMovie) {
    // While the records are read (for the key track and the cursor) before the stages
    // start, and once they run.
    for (bool reading : {true, false}) {
        zvtest::TempDir dir;
        auto session = startExport(makePackage(dir, 0.0, 0.0));
        ASSERT_TRUE(session);
        if (!reading) ZVRunLoop::main().runUntil([&] { return !session->progress().reading; }, 30);
        EXPECT_EQ(session->progress().reading, reading);
        session->cancel();
        EXPECT_EQ(session->waitUntilFinished(30), "the export was cancelled");
        // Nothing at all: not the movie, nor the hidden file it was written to.
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename(), "take.fomixx");
    }
}

// Without a frame rate, frames that repeat the picture before them and get the same drawing
// are folded into it: the movie shows at every recorded instant what an export of every
// frame shows, and lasts as long. A fading strip or a moving cursor is drawn anew each frame.
TEST(ExportSessionTest, RepeatedFramesAreFoldedIntoThePictureBeforeThem) {
    struct Row {
        const char* what;
        bool key, moving;
        long fewest, most;  // video samples in the movie
    } const rows[] = {{"still", false, false, 3, 3},
                      {"a fading key strip", true, false, 15, 30},
                      {"a moving cursor", false, true, kFrames, kFrames}};
    auto variable = testPreset();
    variable->setVideoSettings(ZVCodecSettings(ZVCodecSettingsKind::video).save());
    for (const Row& row : rows) {
        zvtest::TempDir dir;
        // The picture changes at frames 0, 40 (red) and 41 only.
        auto package = makeScreen(dir, [&](int i) {
            auto frame = solidFrame(i == 40 ? 60 : 0, false);
            ZVFrameInfo info = frame->info();
            info.timestamp = i / 60.0;
            info.mousePointerIndex = row.moving ? 1 : kZVNoCursorIndex;
            info.mousePointerLocation = {20.0f + float(i), 60};
            info.keyCode = row.key && i == 10 ? 122 /* F1 */ : -1;
            frame->setInfo(info);
            return frame;
        });
        std::string movies[2];
        for (int every = 0; every < 2 && (every == 0 || (!row.key && !row.moving)); ++every) {
            auto session = startExport(package->path(), every ? *testPreset() : *variable);
            ASSERT_EQ(session->waitUntilFinished(120), "") << row.what;
            EXPECT_EQ(session->progress().framesDone, kFrames) << row.what;
            movies[every] = session->moviePath();
        }
        const zvtest::MovieStream video = zvtest::probeMovie(movies[0]).at(0);
        EXPECT_TRUE(video.frames >= row.fewest && video.frames <= row.most) << row.what;
        EXPECT_NEAR(video.duration, kFrames / 60.0, 1 / 60.0) << row.what;
        for (int i : {0, 39, 40, 41, 80, 119}) {
            if (movies[1].empty()) break;
            const std::string a = zvtest::frameAt(movies[0], i / 60.0 + 0.004),
                              b = zvtest::frameAt(movies[1], i / 60.0 + 0.004);
            ASSERT_EQ(a.size(), b.size()) << i;
            int most = 0;
            for (size_t k = 0; k < a.size(); ++k)
                most = std::max(most, std::abs(uint8_t(a[k]) - uint8_t(b[k])));
            EXPECT_LT(most, 12) << "frame " << i;
        }
        // The smoothed cursor of a steady move is drawn on the pointer, not behind it: its 8
        // columns begin at 80.
        if (row.moving) {
            const std::string rgb = zvtest::frameAt(movies[0], 1.0);
            const auto green = [&](int x) {
                const auto* p = reinterpret_cast<const uint8_t*>(&rgb[size_t(63 * kW + x) * 3]);
                return p[1] > 200 && p[0] < 60;
            };
            EXPECT_TRUE(green(81) && green(86));
            EXPECT_FALSE(green(78));
        }
    }
}
