// The movie writer over the real mov muxer: sound packets become samples at their track's
// offset, read back with ffprobe.
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
