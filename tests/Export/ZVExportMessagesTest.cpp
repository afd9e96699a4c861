// The export's messages: each failure of the movie writer made to happen through its
// behaviour, with the log line and the alert it leaves, and the export's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "Media/ZVCodecSettings.h"
#include "Session/ZVExportSession.h"
#include "Storage/ZVFomixTestFiles.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVMovieFrame.h"
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

// Movies the export cannot make are refused by start, before anything is written.
TEST(ExportSessionMessages, ARefusedMovieNamesItsFileAndWhy) {
    zvtest::TempDir dir;
    auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
    package->createFomixX();
    auto frame = ZVMovieFrame::movieFrameWithSize(ZVSize{64, 48});
    std::memset(frame->baseAddress(), 0x80, size_t(frame->bytesPerRow()) * 48);
    zvtest::recordFrames(*package->createPathForPackageResource(ZVFomixXResourceVideo), {frame});
    struct Case {
        std::string output;
        bool withVideo;
        std::string line;
    } cases[] = {
        {dir.file("out.avi"), true,
         dir.file("out.avi") + ": unknown kind of movie; the name must end in .mov, .mp4, .webm "
                               "or .gif"},
        {dir.file("out.gif"), false,
         dir.file("out.gif") + ": a GIF holds pictures, and the preset leaves the video out"},
        {dir.file("out.mp4"), true,
         dir.file("out.mp4") + ": an MP4 movie cannot hold 'apcn' video; choose another codec or "
                               "a .mov name"},
    };
    for (const Case& c : cases) {
        auto preset = ZVEncodingPreset::initWithName("refused");
        preset->setIncludesVideoTrack(c.withVideo);
        ZVCodecSettings prores(ZVCodecSettingsKind::video);
        prores.setCodecType(kZVVideoCodecType_ProRes422);
        preset->setVideoSettings(prores.save());
        std::string error;
        auto session = ZVExportSession::create(package->path(), *preset, &error);
        ASSERT_TRUE(session) << error;
        session->setOutputPath(c.output);
        EXPECT_EQ(session->start(), c.line);
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(entry.path().filename(), "take.fomixx");
    }
}
