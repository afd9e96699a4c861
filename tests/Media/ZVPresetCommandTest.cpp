// zorvan preset as a user runs it: a preset made with `new` and changed with `edit` drives
// a compression session.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "ZVMediaTestSupport.h"
#include "support/ZVTestSupport.h"
#include "support/ZVZorvanProcess.h"

using namespace zvtest;

namespace {

// Runs zorvan with `input` on its standard input; its exit status.
int zorvanWithInput(const TempDir& dir, const std::string& args, const std::string& input) {
    std::string in = dir.file("in.txt");
    FILE* f = std::fopen(in.c_str(), "w");
    std::fputs(input.c_str(), f);
    std::fclose(f);
    std::string cmd = zorvan() + " " + args + " <" + in + " >" + dir.file("out.txt") + " 2>" +
                      dir.file("err.txt");
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ZVPresetCommand, NewThenEditDrivesTheCompressor) {
    TempDir dir;
    const std::string path = dir.file("p.plist");
    ASSERT_EQ(zorvanWithInput(dir, "preset new --name Demo " + path, ""), 0);
    EXPECT_EQ(zorvanWithInput(dir, "preset new " + path, ""), 1);  // kept without --force
    EXPECT_NE(readText(dir.file("err.txt")).find("exists"), std::string::npos);
    // Half size, no cursor, ProRes with a codec option.
    ASSERT_EQ(zorvanWithInput(dir, "preset edit " + path,
                              "2\n50%\n4\n10\n1\nprores\n6\nprofile=hq\nok\nsave\n"),
              0)
        << readText(dir.file("err.txt"));
    // Input that ends without an answer changes nothing and fails.
    EXPECT_EQ(zorvanWithInput(dir, "preset edit " + path, "1\n"), 1);

    auto value = ZVValue::readFile(path);
    ASSERT_TRUE(value);
    auto preset = ZVEncodingPreset::initWithDictRepresentation(*value);
    ASSERT_TRUE(preset);
    EXPECT_EQ(preset->name(), "Demo");
    EXPECT_TRUE(preset->showsMouseClicks());
    EXPECT_FALSE(preset->includesCursorTrack());
    ZVOutputSize size = preset->outputSizeForRecordedSize({128, 96});
    EXPECT_EQ(size, (ZVOutputSize{64, 48}));

    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    ASSERT_EQ(settings.load(*preset->videoSettings()), 0);
    ZVCompressionSessionOptions options;
    ASSERT_EQ(settings.copyCompressionSessionOptions(options), 0);
    ZVRegisterFFmpegMediaToolkit();
    SessionRecord record;
    auto session = ZVCompressionSession::create(size.width, size.height, settings.codecType(), 2500,
                                                options, record.output());
    ASSERT_TRUE(session);
    SourcePicture picture(128, 96, 10, 200, 10);
    ASSERT_EQ(session->encodeFrame(picture.pixels(), 0, 0, kZVValidTimeFlag_DisplayTimeStampIsValid,
                                   record.tracking(), std::make_shared<int>(0)),
              0);
    ASSERT_EQ(session->completeFrames(), 0);
    std::lock_guard<std::mutex> g(record.lock);
    ASSERT_EQ(record.frames.size(), 1u);
    EXPECT_EQ(record.frames[0]->codecType(), kZVVideoCodecType_ProRes422);
    auto decoded = decodeFrames(record.frames);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].width, 64);
    EXPECT_NEAR(decoded[0].at(32, 24)[1], 200, 4);
}

}  // namespace
