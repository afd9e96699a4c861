// The codec settings container: what it gives a session, and the dialog that changes it.
#include <gtest/gtest.h>

#include <cstdio>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVTerminalSettingsDialog.h"

namespace {

TEST(ZVCodecSettings, OptionsCarryTheChoice) {
    ZVCodecSettings v(ZVCodecSettingsKind::video);
    v.setKeyFrameInterval(12);
    v.setCodecOption("preset", "veryfast");
    ZVCompressionSessionOptions o;
    ASSERT_EQ(v.copyCompressionSessionOptions(o), 0);
    EXPECT_EQ(o.maxKeyFrameInterval(), 12);
    EXPECT_EQ(o.quality(), kZVCodecNormalQuality);
    EXPECT_EQ(o.codecOptions().at("preset"), "veryfast");
    // Refused bytes keep the old settings but fail the options until a good load.
    ASSERT_EQ(v.load({0x62, 0x70}), kZVMediaErrBadSettings);
    EXPECT_EQ(v.keyFrameInterval(), 12);
    EXPECT_EQ(v.copyCompressionSessionOptions(o), kZVMediaErrBadSettings);
    // Empty bytes are a good load: the defaults.
    ASSERT_EQ(v.load(nullptr, 0), 0);
    EXPECT_EQ(v, ZVCodecSettings(ZVCodecSettingsKind::video));
    EXPECT_EQ(v.copyCompressionSessionOptions(o), 0);
}

// Answers a dialog from a script; `result` and what the settings became.
long runDialog(ZVCodecSettings& s, const std::string& script, std::string* shown = nullptr) {
    FILE* in = fmemopen(const_cast<char*>(script.data()), script.size(), "r");
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    long r = ZVTerminalSettingsDialog(in, out).requestSettings(s);
    std::fclose(in);
    std::fclose(out);
    if (shown) *shown = text;
    std::free(text);
    return r;
}

TEST(ZVTerminalSettingsDialog, ChangesOnOkOnlyAndRetriesWhatItDoesNotUnderstand) {
    ZVCodecSettings v(ZVCodecSettingsKind::video);
    std::string shown;
    EXPECT_EQ(
        runDialog(v, "1\nprores\n2\n30\n4\nhigh\n6\npreset=fast\n9\n3\nmany\n6\npreset=\nok\n",
                  &shown),
        kZVDialogOK);
    EXPECT_EQ(v.codecType(), kZVVideoCodecType_ProRes422);
    EXPECT_EQ(v.frameRate(), 30 << 16);
    EXPECT_EQ(v.quality(), kZVCodecHighQuality);
    EXPECT_TRUE(v.codecOptions().empty());
    EXPECT_NE(shown.find("Not a choice: 9"), std::string::npos);
    EXPECT_NE(shown.find("Not understood: many"), std::string::npos);

    EXPECT_EQ(runDialog(v, "1\npng\ncancel\n"), kZVDialogCancel);
    EXPECT_EQ(v.codecType(), kZVVideoCodecType_ProRes422);
    EXPECT_EQ(runDialog(v, "1\npng\n"), kZVDialogErrInputEnded);
    EXPECT_EQ(v.codecType(), kZVVideoCodecType_ProRes422);

    ZVCodecSettings s(ZVCodecSettingsKind::sound);
    EXPECT_EQ(runDialog(s, "1\npcm\n3\n1\n2\n48000\nok\n"), kZVDialogOK);
    EXPECT_EQ(s.outputDescription(),
              (ZVAudioStreamDescription{48000, kZVAudioFormat_LinearPCM, 0xC, 2, 1, 2, 1, 16, 0}));
    EXPECT_EQ(s.channelLayoutTag(), kZVChannelLayoutTag_Mono);
}

}  // namespace
