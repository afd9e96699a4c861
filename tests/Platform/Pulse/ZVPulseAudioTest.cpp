// The audio adapters' contract on a real PulseAudio server of this binary's own
// (ZVPulseFixture): the device list through libpulse, and the microphone recorder through
// the server's own stream at the device's rate. Where the recorded sound lands on the screen's time
// line is checked end to end in Audio/ZVAudioVideoSyncTest.cpp.
#include <AL/alc.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <thread>

#include "Audio/ZVAudioTestUtil.h"
#include "Audio/ZVTonePlayer.h"
#include "ZorvanInternal.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;
using zvtest::ZVPulseFixture;

namespace {

[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

constexpr double kRate = 44100;

std::vector<std::string> openALList(const ALCchar* list) {
    std::vector<std::string> names;
    for (const ALCchar* p = list; p && *p; p += std::strlen(p) + 1) names.emplace_back(p);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(ZVAudioDevices, ListsTheServersDevicesDefaultFirstAsOpenALSoftNamesThem) {
    auto* pulse = ZVPulseFixture::instance();
    auto inputs = ZVSoundInputRecorder::availableDevices();
    ASSERT_FALSE(inputs.empty());
    EXPECT_EQ(inputs.front(), "Virtual_Mic");
    auto outputs = ZVSoundInputRecorder::availableDevicesIsInput(false);
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs.front(), "System_Output");

    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("Virtual_Mic", true),
              uint32_t(pulse->indexOf("vmic", true) + 1));
    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("Monitor of System_Output", true),
              uint32_t(pulse->indexOf("sys_out.monitor", true) + 1));
    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("System_Output", false),
              uint32_t(pulse->indexOf("sys_out", false) + 1));
    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("System_Output", true), 0u);
    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("virtual_mic", true), 0u);

    // The names are the ones openal-soft opens. A second sink described like an existing one:
    // openal-soft calls it "Mic_Feed #2".
    const std::string module = pulse->pactl({"load-module", "module-null-sink", "sink_name=dup",
                                             "sink_properties=device.description=Mic_Feed"});
    ASSERT_FALSE(module.empty());

    inputs = ZVSoundInputRecorder::availableDevicesIsInput(true);
    outputs = ZVSoundInputRecorder::availableDevicesIsInput(false);
    EXPECT_NE(std::find(outputs.begin(), outputs.end(), "Mic_Feed #2"), outputs.end());
    EXPECT_NE(std::find(inputs.begin(), inputs.end(), "Monitor of Mic_Feed #2"), inputs.end());
    std::sort(inputs.begin(), inputs.end());
    std::sort(outputs.begin(), outputs.end());
    // Null sinks have no ports, so every entry is a plain device name.
    EXPECT_EQ(inputs, openALList(alcGetString(nullptr, ALC_CAPTURE_DEVICE_SPECIFIER)));
    // The full playback list (ALC_ENUMERATE_ALL_EXT); the plain one names only the driver.
    constexpr ALCenum kAllDevicesSpecifier = 0x1013;
    EXPECT_EQ(outputs, openALList(alcGetString(nullptr, kAllDevicesSpecifier)));
    EXPECT_TRUE(ZVSoundInputRecorder::initWithDevice("Monitor of Mic_Feed #2"));
    EXPECT_EQ(ZVSoundInputRecorder::deviceIdForDeviceName("Mic_Feed #2", false),
              uint32_t(pulse->indexOf("dup", false) + 1));

    pulse->pactl({"unload-module", module.substr(0, module.find('\n'))});

    zvtest::LogCapture log;
    EXPECT_FALSE(ZVSoundInputRecorder::initWithDevice("No Such Device"));
    EXPECT_TRUE(log.contains("Could not initialize input device: 5"));  // PA_ERR_NOENTITY
}

TEST(ZVSoundInputRecorderPulse, TenSecondsOfToneAtTheRightPitchLevelAndRate) {
    ZVTonePlayer player("mic_feed");
    const double now = ZVAbsoluteTimeGetCurrent();
    player.setTone(now, now + 60);
    auto recorder = ZVSoundInputRecorder::initWithDevice("Virtual_Mic");
    ASSERT_TRUE(recorder);
    zvtest::RecordingDestination made;
    recorder->setDataDestination(&made);
    Posted stopped(ZVSoundInputRecorderDidStopNotification, recorder.get());
    recorder->setSuspended(false);
    recorder->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(10500));
    recorder->stop();
    ASSERT_TRUE(stopped.wait());
    ASSERT_TRUE(player.ok());

    // Frames come at the device's rate: the slope of frames read over arrival time, from
    // the first packet on (the first data may come late), is 44100 within 1%.
    const auto packets = made.objects();
    const auto times = made.arrivalTimes();
    ASSERT_GT(packets.size(), 50u);
    double n = 0, st = 0, sf = 0, stt = 0, stf = 0, frames = 0;
    std::vector<int16_t> left;
    for (size_t i = 0; i < packets.size(); ++i) {
        auto p = std::dynamic_pointer_cast<ZVSoundPacket>(packets[i]);
        frames += p->numberOfFrames();
        const double t = times[i] - times[0];
        n += 1, st += t, sf += frames, stt += t * t, stf += t * frames;
        auto more = leftChannel(p->baseAddres(), size_t(p->dataSize()));
        left.insert(left.end(), more.begin(), more.end());
    }
    const double slope = (n * stf - st * sf) / (n * stt - st * st);
    EXPECT_NEAR(slope, kRate, kRate * 0.01);
    EXPECT_EQ(recorder->totalFramesRead(), int32_t(frames));

    // The last seconds hold the tone: 1 kHz by its zero crossings, half amplitude by RMS.
    ASSERT_GT(left.size(), size_t(3 * kRate));
    const Tone tone = measureTone(left, 2);
    EXPECT_NEAR(tone.pitch, ZVTonePlayer::kFrequency, 10);
    EXPECT_NEAR(tone.level, ZVTonePlayer::kAmplitude / std::sqrt(2.0), 0.05);
}
