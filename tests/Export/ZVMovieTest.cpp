// The movie writer over the real mov muxer: sound packets become samples at their track's
// offset (read back with ffprobe), and its failures give the log lines and alerts a user
// and a host see.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "Export/ZVMovie.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedSoundPacket.h"
#include "Pipeline/ZVNotificationNames.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "ZVExportTestSupport.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

namespace {
std::unique_ptr<ZVSoundDescription> pcmDescription() {
    auto d = std::make_unique<ZVSoundDescription>();
    d->format.sampleRate = 44100;
    d->format.formatID = kZVAudioFormat_LinearPCM;
    d->format.formatFlags = kZVAudioFormatFlagIsSignedInteger | kZVAudioFormatFlagIsPacked;
    d->format.bytesPerPacket = d->format.bytesPerFrame = 4;
    d->format.framesPerPacket = 1;
    d->format.channelsPerFrame = 2;
    d->format.bitsPerChannel = 16;
    return d;
}

// Runs `start`, finalizes through `finalize` and waits for the writer's `didStop`.
bool runWriter(ZVMovie& movie, std::string_view didStop, const std::function<void()>& start,
               const std::function<void()>& finalize) {
    std::atomic<bool> stopped{false};
    int token;
    ZVNotificationCenter::defaultCenter().addObserver(
        &token, didStop, &movie, [&](const ZVNotification&) { stopped = true; });
    start();
    finalize();
    const bool done = zvtest::runMainUntil([&] { return stopped.load(); }, 20);
    ZVNotificationCenter::defaultCenter().removeObserver(&token);
    return done;
}

class MovieTest : public ::testing::Test {
  protected:
    void SetUp() override { ZVRegisterFFmpegMediaToolkit(); }
    std::shared_ptr<ZVEncodingPreset> preset = ZVEncodingPreset::initWithName("test");
    zvtest::TempDir dir;
};
}  // namespace

TEST_F(MovieTest, SoundPacketsBecomeSamplesPlacedAtTheirOffset) {
    struct Case {
        double audioOffset, videoOffset;
        bool described;  // three packets with descriptions, else one run of 4096 bytes
        double start, duration;
    } cases[] = {
        {0.5, 0.0, false, 0.5, 1024 / 44100.0},
        // Sound recorded before the screen starts with it, and keeps every sample.
        {0.2, 0.5, true, 0.0, 600 / 44100.0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("sound.mov");
        std::ofstream(path) << "an older file in the way";
        auto movie = ZVMovie::initWithPreset(*preset);
        ASSERT_EQ(movie->createMovieAtPath(path), 0);
        ASSERT_EQ(movie->createAudioTrackWithAudioDescriptionHandle(pcmDescription()), 0);
        movie->setAudioTrackOffset(c.audioOffset);
        movie->setVideoTrackOffset(c.videoOffset);
        auto packet = ZVEncodedSoundPacket::initInterleavedStereoBufferOfSize(4096);
        if (c.described) {
            packet->setNeedsPacketDescriptionsForNumPackets(3);
            int64_t offset = 0;
            for (uint32_t i = 0; i < 3; ++i) {
                packet->packetDescription()[i] = {offset, 100 * (i + 1), 400 * (i + 1)};
                offset += 400 * (i + 1);
            }
        }
        zvtest::ScriptedSource source;
        source.push(packet);
        movie->setAudioDataSource(&source);
        ASSERT_TRUE(runWriter(
            *movie, ZVMovieDidStopWritingAudioNotification,
            [&] { movie->startAudioTrackWriting(); }, [&] { movie->finalizeAudio(); }));
        movie->closeMovie();
        EXPECT_EQ(movie->closeStatus(), 0);
        auto streams = zvtest::probeMovie(path);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].codec, "pcm_s16le");
        EXPECT_NEAR(streams[0].start, c.start, 0.001);
        EXPECT_NEAR(streams[0].duration, c.duration, 0.001);
    }
}

TEST_F(MovieTest, FailuresGiveTheirLogLinesAndAlerts) {
    struct Case {
        const char* what;
        std::function<void(ZVMovie&)> act;
        std::string log;
        std::string alert;  // the alert's message, empty for none
    } cases[] = {
        {"a movie in a missing folder",
         [&](ZVMovie& m) { m.createMovieAtPath(dir.file("missing/movie.mov")); },
         "CreateMovieStorage() failed with error", ""},
        {"a track before the movie",
         [](ZVMovie& m) {
             m.createVideoTrackWithInitialSize(ZVSize{64, 48});
         },
         "NewMovieTrack() failed with error", ""},
        {"a system-audio track the movie cannot hold",
         [&](ZVMovie& m) {
             m.createMovieAtPath(dir.file("bad.mov"));
             auto d = pcmDescription();
             d->format.formatID = ZVFourCC("zzzz");
             m.createSystemAudioTrackWithAudioDescriptionHandle(std::move(d));
         },
         "syssnd: NewTrackMedia() failed with error", ""},
        // Finalized before it starts, the writer stops at its first empty read: no frame.
        {"a video track without frames",
         [&](ZVMovie& m) {
             m.createMovieAtPath(dir.file("empty.mov"));
             m.createVideoTrackWithInitialSize(ZVSize{64, 48});
             EXPECT_TRUE(runWriter(
                 m, ZVMovieDidStopWritingVideoNotification, [&] { m.finalizeVideo(); },
                 [&] { m.startVideoTrackWriting(); }));
             m.closeMovie();
         },
         "InsertMediaIntoTrack() failed with error -2014",
         "It appears that this record could not be encoded with the selected codec. Please, "
         "try to encode again with another one."},
    };
    for (const Case& c : cases) {
        zvtest::LogCapture log;
        zvtest::AlertCapture alerts;
        auto movie = ZVMovie::initWithPreset(*preset);
        c.act(*movie);
        EXPECT_TRUE(log.contains(c.log)) << c.what;
        auto shown = alerts.alerts();
        if (c.alert.empty()) {
            EXPECT_TRUE(shown.empty()) << c.what;
        } else {
            ASSERT_EQ(shown.size(), 1u) << c.what;
            EXPECT_EQ(shown[0].first, "Failed to add track media into the movie");
            EXPECT_EQ(shown[0].second, c.alert);
        }
    }
}
