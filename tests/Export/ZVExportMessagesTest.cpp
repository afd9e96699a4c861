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
        {"chapters in a GIF",
         [&](ZVMovie& m) {
             m.createMovieAtPath(dir.file("a.gif"), ZVMovieContainer::GIF);
             m.addMovieText({{}, {{0.5, "Click"}}});
         },
         dir.file("a.gif") + ": the movie cannot hold the key track and chapters (error", ""},
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

TEST(ZoomPlanMessages, PlansThatDoNotFitTheRecordingAndRecordingsWithoutInputAreRefused) {
    zvtest::TempDir dir;
    ZVRecordedInput input(ZVSize{1280, 720});
    ZVFrameInfo record{};
    for (double t : {0.0, 10.0}) {
        record.timestamp = t;
        input.addRecord(record, 0);  // a recording of 10 s
    }
    const std::string file = dir.file("p.plist"), at = file + ": ";
    std::string error;
    auto readError = [&](const std::string& text) {
        zvtest::writeText(file, text);
        EXPECT_FALSE(ZVZoomPlanFile::read(file, input, {}, &error));
        return error;
    };
    auto planError = [&](const std::string& segments) {
        return readError("<plist><dict><key>Segments</key><array>" + segments +
                         "</array></dict></plist>");
    };
    auto segment = [](const char* start, const char* end, const char* rest = "") {
        return std::string("<dict><key>Start</key><real>") + start + "</real><key>End</key><real>" +
               end + "</real>" + rest + "</dict>";
    };
    const struct Case {
        std::string error, line;
    } cases[] = {
        {planError("<dict>"), at + "not a property list"},
        {readError("<plist><dict/></plist>"), at + "no \"Segments\" list of zoom segments"},
        {planError("<true/>"), at + "segment 1: \"Start\" is missing or not a number"},
        {planError(segment("12", "13")),
         at + "segment 1: start 12 s lies outside the recording (0 to 10 s)"},
        {planError(segment("3", "2")), at + "segment 1: ends at 2 s, before it starts at 3 s"},
        {planError(segment("1", "3") + segment("2", "3")),
         at + "segment 2: starts at 2 s, before segment 1 ends at 3 s"},
        {planError(segment("1", "3", "<key>Level</key><real>5</real>")),
         at + "segment 1: level 5 lies outside 1.25 to 4"},
        {planError(segment("1", "3", "<key>Centre</key><string>middle</string>")),
         at + "segment 1: \"Centre\" is neither a point {x, y} nor \"follow\""},
        {planError(segment("1", "3", "<key>Centre</key><string>{1281, 0}</string>")),
         at + "segment 1: centre {1281, 0} lies outside the picture {1280, 720}"},
        {(std::filesystem::resize_file(file, 17 << 20),
          ZVZoomPlanFile::read(file, input, {}, &error), error),
         at + "too large for a zoom plan"},
        {(ZVReadRecordedInput(dir.file("none"), &error), error),
         dir.file("none: no such recording")},
        {(ZVReadRecordedInput(file, &error), error),
         at + "the recording has no screen track that can be read (zorvan repair mends one "
              "that was not closed)"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.error, c.line);
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
