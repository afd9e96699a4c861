// Every message the media layer gives, exactly as it is spelled, in one table.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVTerminalSettingsDialog.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

// A saved video container with one key changed (a null value removes it).
std::vector<uint8_t> videoContainer(const char* key, ZVValue value) {
    auto bytes = ZVCodecSettings(ZVCodecSettingsKind::video).save();
    auto d = *ZVValue::fromPropertyList(bytes.data(), bytes.size());
    if (value.isNull())
        d.remove(key);
    else
        d.set(key, std::move(value));
    return d.toBinaryPropertyList();
}

TEST(ZVMediaMessages, DamagedSettings) {
    const struct {
        std::vector<uint8_t> bytes;
        const char* message;
    } rows[] = {
        {{'h', 'e', 'l', 'l', 'o'}, "not a binary property list"},
        {ZVValue(ZVValue::Array{ZVValue(1)}).toBinaryPropertyList(), "not a dictionary"},
        {videoContainer("Format", ZVValue()), "no settings container"},
        {videoContainer("Version", 2), "version 2 is newer than this program reads"},
        {videoContainer("Version", "1"), "\"Version\" is not an integer"},
        {videoContainer("Kind", "sound"), "these are not video settings"},
        {videoContainer("CodecType", ZVValue()), "\"CodecType\" is missing"},
        {videoContainer("CodecType", ZVFourCC("xxxx")), "unknown codec 'xxxx'"},
        {videoContainer("FrameRate", -1), "\"FrameRate\" is out of range (-1)"},
        {videoContainer("Options", 3), "\"Options\" is not a dictionary"},
        {videoContainer("Options", ZVValue::Dict{{"crf", ZVValue(20)}}), "codec option is no text"},
    };
    for (const auto& row : rows) {
        ZVCodecSettings s(ZVCodecSettingsKind::video);
        EXPECT_EQ(s.load(row.bytes), kZVMediaErrBadSettings) << row.message;
        EXPECT_EQ(s.loadError(), std::string("Codec settings are damaged: ") + row.message);
    }
}

TEST(ZVMediaMessages, LogLines) {
    auto create = [](int w, uint32_t codec, const char* option, const char* value) {
        ZVCompressionSessionOptions o;
        if (option) o.setCodecOption(option, value);
        return ZVCompressionSession::create(ZVPlatformDefaults().mediaToolkit.get(), w, 16, codec,
                                            2500, o, nullptr);
    };
    const struct {
        std::function<void()> trigger;
        const char* line;
    } rows[] = {
        {[&] { create(16, ZVFourCC("xxxx"), nullptr, nullptr); },
         "No encoder for video codec 'xxxx'"},
        {[&] { create(0, kZVVideoCodecType_H264, nullptr, nullptr); },
         "Cannot encode 0x16 pictures at time scale 2500"},
        {[&] { create(16, kZVVideoCodecType_H264, "crf", "abc"); },
         "avcodec_open2(libx264) failed: Invalid argument"},
        {[&] { create(16, kZVVideoCodecType_H264, "frobnicate", "1"); },
         "Codec option \"frobnicate\" is unknown to libx264; ignored"},
        {[&] {
             FILE* in = std::fopen("/dev/null", "r");
             FILE* out = std::fopen("/dev/null", "w");
             ZVSettingsDialog::setShared(std::make_shared<ZVTerminalSettingsDialog>(in, out));
             EXPECT_FALSE(ZVEncodingPreset::requestUserSettingsForVideo(std::nullopt));
             ZVSettingsDialog::setShared(nullptr);
             std::fclose(in);
             std::fclose(out);
         },
         "SCRequestSequenceSettings() failed with error: -39"},
    };
    for (const auto& row : rows) {
        LogCapture log;
        row.trigger();
        EXPECT_TRUE(log.contains(row.line)) << row.line;
    }
}

}  // namespace
