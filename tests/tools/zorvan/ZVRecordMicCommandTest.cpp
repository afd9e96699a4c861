// `zorvan record --mic` end to end: the screen of a private Xvfb and the microphone of a
// private PulseAudio server recorded together into one package, both started in step, and
// each track's start offset stored for export.
#include <gtest/gtest.h>

#include <cmath>

#include "Audio/ZVTonePlayer.h"
#include "Zorvan.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);
}  // namespace

TEST(RecordMicCommand, TheScreenAndTheMicrophoneLandInOnePackageInStep) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    ZVTonePlayer tone("mic_feed");  // what the default microphone hears
    tone.setTone(ZVAbsoluteTimeGetCurrent(), ZVAbsoluteTimeGetCurrent() + 60);

    zvtest::Zorvan rec(dir,
                       {"record", "--duration", "4", "--mic", "default", dir.file("talk.fomixx")});
    ASSERT_EQ(rec.wait(), 0) << rec.err();
    std::string package = zvtest::trimmed(rec.out());
    ASSERT_EQ(package, dir.file("talk.fomixx"));

    auto manager = ZVFomixXManager::initWithFile(package);
    auto wav = manager->pathForResource(ZVFomixXResourceAudio);
    ASSERT_TRUE(wav);
    // Both recorders noted how late their first moment came after the one start time.
    auto videoOffset = manager->startOffsetTime(ZVFomixXResourceVideo);
    auto audioOffset = manager->startOffsetTime(ZVFomixXResourceAudio);
    ASSERT_TRUE(videoOffset && audioOffset);
    EXPECT_GE(*videoOffset, 0);
    EXPECT_GE(*audioOffset, 0);
    EXPECT_LT(*audioOffset, 3);  // a fresh server's first capture starts up to 2 s late

    // The WAV track holds the tone (16-bit stereo, as `info` shows).
    std::string error;
    auto d = ZVWavHeader::describeFile(*wav, &error);
    ASSERT_TRUE(d) << error;
    EXPECT_GT(d->duration, 1.0);
    auto bytes = zvtest::readBytes(*wav);
    ASSERT_GE(bytes.size(), d->dataSize);
    const uint8_t* samples = bytes.data() + bytes.size() - d->dataSize;
    const size_t frames = d->dataSize / 4, last = std::min<size_t>(frames, 44100);
    double sum = 0;
    for (size_t i = frames - last; i < frames; ++i) {
        int16_t left = int16_t(samples[4 * i] | (samples[4 * i + 1] << 8));
        sum += double(left) * left;
    }
    EXPECT_NEAR(std::sqrt(sum / double(last)) / 32767, ZVTonePlayer::kAmplitude / std::sqrt(2.0),
                0.1);

    std::string info;
    ASSERT_EQ(zvtest::runZorvan(dir, {"info", package}, &info), 0);
    EXPECT_NE(info.find("2 channels, 16-bit integer, 44100 Hz"), std::string::npos) << info;
}

TEST(ZorvanDevicesCommand, ListsWhatTheRecorderSees) {
    int status = -1;
    std::string inputs = zvtest::ZVPulseFixture::run({zvtest::zorvan(), "devices"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(inputs.substr(0, inputs.find('\n')), "Virtual_Mic");
    EXPECT_NE(inputs.find("\nMonitor of System_Output\n"), std::string::npos);
    std::string outputs =
        zvtest::ZVPulseFixture::run({zvtest::zorvan(), "devices", "--output"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(outputs.substr(0, outputs.find('\n')), "System_Output");
}
