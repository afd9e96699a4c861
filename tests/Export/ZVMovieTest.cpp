// The movie writer over the real mov muxer: sound packets become samples at their track's
// offset (as it is when the writer starts), read back with ffprobe.
#include <gtest/gtest.h>

#include <fstream>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedSoundPacket.h"
#include "ZVExportTestSupport.h"
#include "support/ZVStageHarness.h"

using zvtest::MovieWriterTest;
using zvtest::pcmDescription;
using zvtest::runWriter;

TEST_F(MovieWriterTest, SoundPacketsBecomeSamplesPlacedAtTheirOffset) {
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
        movie->setVideoTrackOffset(c.videoOffset);
        movie->setAudioTrackOffset(c.audioOffset);
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

// A sound track written a minute ahead of another (10 MB: more than waits in memory) waits
// beside the movie and still goes out in runs of half a second.
TEST_F(MovieWriterTest, ATrackFarAheadWaitsAndStillGoesOutInterleaved) {
    const std::string path = dir.file("ahead.mov");
    auto movie = ZVMovie::initWithPreset(*preset);
    ASSERT_EQ(movie->createMovieAtPath(path), 0);
    ASSERT_EQ(movie->createAudioTrackWithAudioDescriptionHandle(pcmDescription()), 0);
    ASSERT_EQ(movie->createSystemAudioTrackWithAudioDescriptionHandle(pcmDescription()), 0);
    zvtest::ScriptedSource ahead, behind;
    auto packet = ZVEncodedSoundPacket::initInterleavedStereoBufferOfSize(4096);
    for (int i = 0; i < 2600; ++i) ahead.push(packet), behind.push(packet);
    movie->setAudioDataSource(&ahead);
    movie->setSystemAudioDataSource(&behind);
    ASSERT_TRUE(runWriter(
        *movie, ZVMovieDidStopWritingAudioNotification, [&] { movie->startAudioTrackWriting(); },
        [&] { movie->finalizeAudio(); }));
    ASSERT_TRUE(runWriter(
        *movie, ZVMovieDidStopWritingSystemAudioNotification,
        [&] { movie->startSystemAudioTrackWriting(); }, [&] { movie->finalizeSystemAudio(); }));
    movie->closeMovie();
    EXPECT_EQ(movie->closeStatus(), 0);
    auto streams = zvtest::probeMovie(path);
    ASSERT_EQ(streams.size(), 2u);
    for (const auto& s : streams) EXPECT_NEAR(s.duration, 2600 * 1024 / 44100.0, 0.001);
    EXPECT_LE(zvtest::longestRun(path), 0.5);
}
