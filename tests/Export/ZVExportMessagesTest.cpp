// The export's messages: each failure of the movie writer made to happen through its
// behaviour, with the log line and the alert it leaves.
#include <gtest/gtest.h>

#include <atomic>

#include "Export/ZVMovie.h"
#include "Media/ZVCodecSettings.h"
#include "Pipeline/ZVNotificationNames.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
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

class ExportMessagesTest : public ::testing::Test {
  protected:
    void SetUp() override { ZVRegisterFFmpegMediaToolkit(); }
    std::shared_ptr<ZVEncodingPreset> preset = ZVEncodingPreset::initWithName("test");
    zvtest::TempDir dir;
};
}  // namespace

TEST_F(ExportMessagesTest, MovieWriterFailuresGiveTheirLogLinesAndAlerts) {
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
