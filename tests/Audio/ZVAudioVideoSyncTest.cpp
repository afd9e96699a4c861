// Sound and picture in step, as a user records them: `zorvan record --mic` on a private
// Xvfb and PulseAudio while the screen turns red and a tone starts in the same instant.
// The package's own numbers (each track's "StartOffsetTime" plus the frame's timestamp or
// sample index / rate) must place both events together, on a server whose first capture
// client this is, on one already warm, and on one whose graph stalls after the event (as a
// busy machine makes it: PipeWire's then loses tens of milliseconds at a time, which the
// track must keep as silence for the tone to stay in place).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "Storage/ZVFomixFileReader.h"
#include "ZVAudioTestUtil.h"
#include "ZVTonePlayer.h"
#include "ZorvanInternal.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

// When the capture file shows the area turning red: halfway between the last frame
// before and the first frame after, on the common time line; NAN when it never does.
double redAppears(const std::string& capture, double startOffset) {
    ZVFomixFileReader reader;
    uint32_t w = 0, h = 0;
    if (!reader.openFile(capture) || !reader.readHeader() || !reader.canvasSize(w, h)) return NAN;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(w, h, pixels);
    ZVFomixRecord record;
    double before = NAN;
    while (reader.readFrame(record, canvas, false) == ZVFomixStep::Frame) {
        const uint8_t* p = canvas.base + (h / 2) * canvas.bytesPerRow + (w / 2) * 4;  // B G R X
        const double t = startOffset + record.info.timestamp;
        if (p[2] > 200 && p[1] < 50) return std::isnan(before) ? NAN : (before + t) / 2;
        before = t;
    }
    return NAN;
}

// When the tone starts in the WAV file, on the common time line; NAN when it never does.
double toneStarts(const std::string& wav, double startOffset, double rate) {
    const auto left = zvaudiotest::leftChannelOfWav(wav);
    for (size_t i = 0; i < left.size(); ++i)
        if (std::abs(left[i]) > 32767 * ZVTonePlayer::kAmplitude / 4) return startOffset + i / rate;
    return NAN;
}
}  // namespace

TEST(AudioVideoSync, TheRedScreenAndTheToneLandTogetherOnAFreshAWarmAndAStalledServer) {
    ZV_REQUIRE_XVFB();
    auto* pulse = zvtest::ZVPulseFixture::instance();
    ASSERT_TRUE(pulse);
    zvtest::X11TestClient x;
    ASSERT_TRUE(x.ok());
    ZVTonePlayer tone("mic_feed", 5000);  // keeps the feed awake; silent until the tone
    for (const char* server : {"fresh", "warm", "stalled"}) {
        SCOPED_TRACE(server);
        const uint32_t black = x.showColor(0, 0, 320, 240, 0x000000);
        zvtest::TempDir dir;
        zvtest::Zorvan rec(dir, {"record", "--rect", "320x240+0+0", "--mic", "Virtual_Mic",
                                 "--duration", "6", dir.file("sync.fomixx")});
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double before = ZVAbsoluteTimeGetCurrent();
        const uint32_t red = x.showColor(0, 0, 320, 240, 0xFF0000);
        const double now = (before + ZVAbsoluteTimeGetCurrent()) / 2;
        tone.setTone(now, now + 2);
        if (std::string(server) == "stalled") {
            // Three short stalls after the event, each costing PipeWire's graph tens of
            // milliseconds: a track that lets its later sound move up would move the tone.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (int i = 0; i < 3; ++i) {
                pulse->stallGraph(0.07);
                std::this_thread::sleep_for(std::chrono::milliseconds(230));
            }
        }
        ASSERT_EQ(rec.wait(), 0) << rec.err();
        x.destroyWindow(red);
        x.destroyWindow(black);
        ASSERT_TRUE(tone.ok());

        auto package = ZVFomixXManager::initWithFile(zvtest::trimmed(rec.out()));
        auto capture = package->pathForResource(ZVFomixXResourceVideo);
        auto wav = package->pathForResource(ZVFomixXResourceAudio);
        auto videoOffset = package->startOffsetTime(ZVFomixXResourceVideo);
        auto audioOffset = package->startOffsetTime(ZVFomixXResourceAudio);
        auto audio = package->propertiesForResource(ZVFomixXResourceAudio);
        ASSERT_TRUE(capture && wav && videoOffset && audioOffset && audio);
        EXPECT_GE(*audioOffset, 0);  // nothing from before the common start
        const ZVValue* rate = audio->get("MeasuredSampleRate");
        ASSERT_TRUE(rate);
        EXPECT_NEAR(rate->doubleValue(), 44100, 44100 * 0.001);

        const double screenEvent = redAppears(*capture, *videoOffset);
        const double soundEvent = toneStarts(*wav, *audioOffset, rate->doubleValue());
        ASSERT_FALSE(std::isnan(screenEvent) || std::isnan(soundEvent)) << rec.err();
        if (tone.brokeNear(now, 0.1)) {
            // The reference itself was late: nothing to judge the recorder by.
            std::printf("[ NOTE     ] %s: the tone's own stream broke off at its start\n", server);
        } else {
            EXPECT_NEAR(soundEvent, screenEvent, 0.020) << rec.err();
        }
        // The report names the audio track's place against the screen's.
        EXPECT_NE(rec.err().find("audio.wav: starts at "), std::string::npos) << rec.err();
    }
}
