// zorvan preset as a user runs it: a preset made with `new` and changed with `edit` holds
// the choices made in the dialog.
#include <gtest/gtest.h>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "support/ZVZorvanProcess.h"

using namespace zvtest;

namespace {

TEST(ZVPresetCommand, NewThenEditKeepsTheChoices) {
    TempDir dir;
    const std::string path = dir.file("p.plist");
    ASSERT_EQ(runZorvanLine("preset new --name Demo " + path).status, 0);
    auto again = runZorvanLine("preset new " + path);  // kept without --force
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos);
    // Half size, no cursor, ProRes with a codec option.
    auto edit =
        runZorvanLine("preset edit " + path, "2\n50%\n4\n10\n1\nprores\n6\nprofile=hq\nok\nsave\n");
    ASSERT_EQ(edit.status, 0) << edit.err;
    // Input that ends without an answer changes nothing and fails.
    EXPECT_EQ(runZorvanLine("preset edit " + path, "1\n").status, 1);

    auto value = ZVValue::readFile(path);
    ASSERT_TRUE(value);
    auto preset = ZVEncodingPreset::initWithDictRepresentation(*value);
    ASSERT_TRUE(preset);
    EXPECT_EQ(preset->name(), "Demo");
    EXPECT_TRUE(preset->showsMouseClicks());
    EXPECT_FALSE(preset->includesCursorTrack());
    EXPECT_EQ(preset->outputSizeForRecordedSize({128, 96}), (ZVOutputSize{64, 48}));
    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    ASSERT_EQ(settings.load(*preset->videoSettings()), 0);
    EXPECT_EQ(settings.codecType(), kZVVideoCodecType_ProRes422);
    EXPECT_EQ(settings.codecOptions().at("profile"), "hq");
}

}  // namespace
