// The export's messages: each failure of the movie writer made to happen through its
// behaviour, with the log line and the alert it leaves.
#include <gtest/gtest.h>

#include "Media/ZVCodecSettings.h"
#include "ZVExportTestSupport.h"

using zvtest::MovieWriterTest;
using zvtest::pcmDescription;
using zvtest::runWriter;

TEST_F(MovieWriterTest, MovieWriterFailuresGiveTheirLogLinesAndAlerts) {
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
