// The preset's dictionary form, its copy and the output-size rule.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "Media/ZVEncodingPreset.h"

namespace {

ZVValue fullDict() {
    ZVValue d = ZVValue::dict();
    d.set("Name", "Screen");
    d.set("SoundSettings", ZVValue::Data{1, 2, 3});
    d.set("VideoSettings", ZVValue::Data{4, 5});
    d.set("IncludeAudio", false);
    d.set("IncludeVideo", true);
    d.set("IncludeCursor", false);
    d.set("Scale", 50.0);
    d.set("ScaleMode", 1);
    d.set("Size", ZVEncodingPreset::encodeSize({640.5f, 480.25f}));
    return d;
}

// Presets stored before the later options existed read them as YES.
TEST(ZVEncodingPreset, OlderDictionaryGetsTheLaterOptionsOn) {
    auto p = ZVEncodingPreset::initWithDictRepresentation(fullDict());
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->showsMouseClicks() && p->showsKeysPressed() && p->includesSystemAudio() &&
                p->includesExternalAudio() && p->includesKeyTrack() && p->includesChapters());
    EXPECT_FALSE(p->includesAudioTrack());
    EXPECT_FALSE(p->includesCursorTrack());
    EXPECT_EQ(p->videoDimensions(), (ZVSize{640.5f, 480.25f}));
    EXPECT_EQ(*p->soundSettings(), (ZVSettingsHandle{1, 2, 3}));
    // and the camera's defaults: off, 2x, 1.5 s, 60 ms smoothing, the cursor as it is.
    EXPECT_FALSE(p->zoomsAutomatically());
    EXPECT_EQ(p->zoomLevel(), 2.0);
    EXPECT_EQ(p->zoomHold(), 1.5);
    EXPECT_EQ(p->cursorSmoothing(), 0.06);
    EXPECT_EQ(p->cursorScale(), 1.0);
    EXPECT_EQ(p->hideIdleCursor(), 0.0);
}

TEST(ZVEncodingPreset, CameraValuesOutOfRangeOrOfAnotherKindAreRefused) {
    const struct {
        const char* key;
        ZVValue value;
        const char* problem;
    } rows[] = {
        {"Zoom", "on", "\"Zoom\" must be \"auto\" or \"off\""},
        {"ZoomLevel", 1.0, "\"ZoomLevel\" must be a number from 1.25 to 4"},
        {"ZoomHold", "long", "\"ZoomHold\" must be a number from 0 to 60 seconds"},
        {"CursorSmoothing", -0.1, "\"CursorSmoothing\" must be a number from 0 to 1 seconds"},
        {"CursorScale", NAN, "\"CursorScale\" must be a number from 0.5 to 4"},
        {"HideIdleCursor", 4000, "\"HideIdleCursor\" must be a number from 0 to 3600 seconds"},
    };
    for (const auto& row : rows) {
        ZVValue d = fullDict();
        d.set(row.key, row.value);
        EXPECT_EQ(ZVEncodingPreset::cameraProblem(d), row.problem);
        EXPECT_FALSE(ZVEncodingPreset::initWithDictRepresentation(d)) << row.key;
    }
}

TEST(ZVEncodingPreset, MissingRequiredKeyOrUnreadableSizeGivesNil) {
    for (const char* key : {"Name", "SoundSettings", "VideoSettings", "IncludeAudio",
                            "IncludeVideo", "IncludeCursor", "Scale", "ScaleMode", "Size"}) {
        ZVValue d = fullDict();
        d.remove(key);
        EXPECT_FALSE(ZVEncodingPreset::initWithDictRepresentation(d)) << key;
    }
    ZVValue d = fullDict();
    d.set("Size", ZVValue::Data{1, 2, 3});
    EXPECT_FALSE(ZVEncodingPreset::initWithDictRepresentation(d));
    EXPECT_FALSE(ZVEncodingPreset::initWithDictRepresentation(ZVValue("not a dict")));
}

TEST(ZVEncodingPreset, ReadsValuesLeniently) {
    ZVValue d = fullDict();
    d.set("IncludeAudio", 1);
    d.set("ShowKeysPressed", 0.0);
    d.set("Scale", 75);
    d.set("ScaleMode", 0.0);
    auto p = ZVEncodingPreset::initWithDictRepresentation(d);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->includesAudioTrack());
    EXPECT_FALSE(p->showsKeysPressed());
    EXPECT_EQ(p->videoScale(), 75.0);
    EXPECT_EQ(p->videoScaleMode(), 0);
}

TEST(ZVEncodingPreset, CopyEqualsTheOriginalInEveryField) {
    auto p = ZVEncodingPreset::initWithName("Copied");
    EXPECT_FALSE(p->videoSettings());  // none, not an empty handle
    p->setVideoSettings(ZVSettingsHandle{9, 8, 7});
    p->setSoundSettings(ZVSettingsHandle{6});
    p->setVideoDimensions({FLT_MIN, 3.4e38f});
    p->setVideoScale(33.3);
    p->setVideoScaleMode(1);
    p->setShowsMouseClicks(false);
    p->setIncludesExternalAudio(false);
    p->setIncludesChapters(false);
    auto c = p->copy();
    ASSERT_TRUE(c);
    EXPECT_EQ(*c, *p);
    p->setVideoSettings(std::nullopt);  // the copy has its own bytes
    EXPECT_EQ(*c->videoSettings(), (ZVSettingsHandle{9, 8, 7}));
}

TEST(ZVEncodingPreset, OutputSizeRule) {
    auto p = ZVEncodingPreset::initWithName("S");
    p->setVideoScale(50);
    EXPECT_EQ(p->outputSizeForRecordedSize({1025, 769}), (ZVOutputSize{512, 384}));
    p->setVideoScale(std::nan(""));
    EXPECT_EQ(p->outputSizeForRecordedSize({1025, 769}), (ZVOutputSize{0, 0}));
    p->setVideoScaleMode(1);
    p->setVideoDimensions({100.9f, 50.5f});
    EXPECT_EQ(p->outputSizeForRecordedSize({1025, 769}), (ZVOutputSize{100, 50}));
    p->setVideoDimensions({-4, 1e30f});
    EXPECT_EQ(p->outputSizeForRecordedSize({1, 1}), (ZVOutputSize{0, INT32_MAX}));
}

}  // namespace
