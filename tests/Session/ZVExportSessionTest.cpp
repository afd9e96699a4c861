// The export session on packages made for the purpose: a screen that turns red in the
// instant a tone starts, read back from the movie with ffprobe and ffmpeg. Where each
// track starts, given its offset, is the movie writer's (tests/Export/ZVMovieTest).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "Export/ZVExportTestSupport.h"
#include "Media/ZVCodecSettings.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Session/ZVExportSession.h"
#include "Storage/ZVFomixTestFiles.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVMovieFrame.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr int kFrames = 120;    // two seconds at 60 frames per second
constexpr double kRedAt = 1.0;  // screen time of the first red frame

std::shared_ptr<ZVMovieFrame> solidFrame(int index) {
    ZVFrameInfo info{};
    info.dimensions = ZVSize{64, 48};
    info.timestamp = index / 60.0;
    info.mousePointerIndex = 0x7FFFFFFF;
    auto frame = ZVMovieFrame::movieFrameWithInfo(info);
    const uint32_t word = info.timestamp >= kRedAt ? 0xFFFF0000u : 0xFF808080u;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            std::memcpy(frame->baseAddress() + size_t(y) * frame->bytesPerRow() + x * 4, &word, 4);
    return frame;
}

// A package whose screen starts at `videoOffset` and whose microphone, started at
// `audioOffset`, plays a tone from the moment the screen turns red.
std::string makePackage(const zvtest::TempDir& dir, double videoOffset, double audioOffset) {
    auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
    package->createFomixX();
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(solidFrame(i));
    zvtest::recordFrames(*package->createPathForPackageResource(ZVFomixXResourceVideo), frames);
    const int toneFrom = int(std::lround((kRedAt + videoOffset - audioOffset) * 44100));
    zvtest::writeWav(
        *package->createPathForPackageResource(ZVFomixXResourceAudio), 3 * 44100, [&](int i) {
            return int16_t(i < toneFrom ? 0 : 16000 * std::sin(2 * M_PI * 1000 * i / 44100.0));
        });
    package->setStartOffsetTime(videoOffset, ZVFomixXResourceVideo);
    package->setStartOffsetTime(audioOffset, ZVFomixXResourceAudio);
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

// An export of a new package (see makePackage) with the test preset, started.
std::shared_ptr<ZVExportSession> startExport(const zvtest::TempDir& dir, double videoOffset,
                                             double audioOffset) {
    ZVRegisterFFmpegMediaToolkit();
    std::string error;
    auto session =
        ZVExportSession::create(makePackage(dir, videoOffset, audioOffset), *testPreset(), &error);
    EXPECT_EQ(session ? session->start() : error, "");  // no error making or starting it
    return session;
}
}  // namespace

TEST(ExportSessionTest, TheRedFrameAndTheToneOnsetMeetInTheMovie) {
    zvtest::TempDir dir;
    auto session = startExport(dir, 0.1, 0.6);
    ASSERT_TRUE(session);
    ASSERT_EQ(session->waitUntilFinished(120), "");
    EXPECT_EQ(session->progress().framesDone, kFrames);
    const std::string movie = session->moviePath();
    EXPECT_EQ(movie, dir.file("take.mov"));
    auto streams = zvtest::probeMovie(movie);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codec, "h264");
    EXPECT_EQ(streams[0].width, 64);
    EXPECT_EQ(streams[0].height, 48);
    EXPECT_EQ(streams[0].frames, kFrames);
    EXPECT_NEAR(streams[0].duration, kFrames / 60.0, 0.02);
    EXPECT_EQ(streams[1].codec, "aac");
    EXPECT_EQ(streams[1].sampleRate, 44100);
    const double red = zvtest::firstRedFrame(movie), onset = zvtest::toneOnset(movie);
    EXPECT_NEAR(red, kRedAt, 0.001);
    EXPECT_NEAR(onset, red, 0.017);
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
    zvtest::TempDir dir;
    auto session = startExport(dir, 0.0, 0.0);
    ASSERT_TRUE(session);
    session->cancel();
    EXPECT_EQ(session->waitUntilFinished(30), "the export was cancelled");
    EXPECT_FALSE(std::filesystem::exists(dir.file("take.mov")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("take.fomixx/movie.mov")));
}
