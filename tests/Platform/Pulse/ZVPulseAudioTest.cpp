// The audio adapters' contract on a real PulseAudio server of this binary's own
// (ZVPulseFixture): the device list through libpulse, and the microphone recorder through
// openal-soft, at the device's rate and on the screen's time line.
#include <AL/alc.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "Audio/ZVAudioTestUtil.h"
#include "Audio/ZVTonePlayer.h"
#include "Zorvan.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;
using zvtest::ZVPulseFixture;

namespace {

[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

constexpr double kRate = 44100;

void sleepSeconds(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

struct Arrival {
    double time;
    int32_t frames;
};

// When each packet reached the destination and how many frames it held.
std::vector<Arrival> arrivals(zvtest::RecordingDestination& d) {
    std::vector<Arrival> out;
    auto times = d.arrivalTimes();
    auto objects = d.objects();
    for (size_t i = 0; i < objects.size(); ++i) {
        auto p = std::dynamic_pointer_cast<ZVSoundPacket>(objects[i]);
        out.push_back({times[i], p ? p->numberOfFrames() : -1});
    }
    return out;
}

// Microphone -> queue -> WAV writer, as a host wires it.
struct Chain {
    std::shared_ptr<ZVSoundInputRecorder> recorder;
    std::shared_ptr<ZVWavIO> writer;
    ZVQueue queue;
    zvtest::RecordingDestination tee{&queue};
    std::unique_ptr<StopWatcher> recorderStopped, writerStopped;

    Chain(const std::string& device, const std::string& path) {
        recorder = ZVSoundInputRecorder::initWithDevice(device);
        if (!recorder) return;
        writer = ZVWavIO::wavIOForWriting(path, recorder->format());
        recorder->setDataDestination(&tee);
        writer->setDataSource(&queue);
        recorderStopped =
            std::make_unique<StopWatcher>(ZVSoundInputRecorderDidStopNotification, recorder.get());
        writerStopped = std::make_unique<StopWatcher>(ZVWavIODidStopNotification, writer.get());
        writer->start();
        zvtest::runMainUntil([&] { return writer->isRunning(); });
    }
    bool finish() {
        recorder->stop();
        if (!recorderStopped->wait()) return false;
        writer->finalize();
        return writerStopped->wait();
    }
};

// The left channel of a 16-bit stereo file this writer made (samples from byte 92).
std::vector<int16_t> leftChannel(const std::string& path) {
    auto b = readBytes(path);
    std::vector<int16_t> left;
    for (size_t at = 92; at + 4 <= b.size(); at += 4) left.push_back(int16_t(u16At(b, at)));
    return left;
}

size_t firstLoud(const std::vector<int16_t>& s, size_t from = 0) {
    for (size_t i = from; i < s.size(); ++i)
        if (std::abs(int(s[i])) > 0.2 * ZVTonePlayer::kAmplitude * 32767) return i;
    return s.size();
}

}  // namespace

TEST(ZVAudioDevices, ListsTheServersDevicesDefaultFirst) {
    auto* pulse = ZVPulseFixture::instance();
    auto inputs = ZVSoundInputRecorder::availableDevices();
    ASSERT_FALSE(inputs.empty());
    EXPECT_EQ(inputs.front(), "Virtual_Mic");
    EXPECT_NE(std::find(inputs.begin(), inputs.end(), "Monitor of System_Output"), inputs.end());
    EXPECT_NE(std::find(inputs.begin(), inputs.end(), "Monitor of Mic_Feed"), inputs.end());
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
}

namespace {
std::vector<std::string> openALList(const ALCchar* list) {
    std::vector<std::string> names;
    for (const ALCchar* p = list; p && *p; p += std::strlen(p) + 1) names.emplace_back(p);
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

TEST(ZVAudioDevices, NamesAreTheOnesOpenALSoftOpens) {
    auto* pulse = ZVPulseFixture::instance();
    // A second sink described like an existing one: openal-soft calls it "Mic_Feed #2".
    const std::string module = pulse->pactl({"load-module", "module-null-sink", "sink_name=dup",
                                             "sink_properties=device.description=Mic_Feed"});
    ASSERT_FALSE(module.empty());

    auto inputs = ZVSoundInputRecorder::availableDevicesIsInput(true);
    auto outputs = ZVSoundInputRecorder::availableDevicesIsInput(false);
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
}

TEST(ZVSoundInputRecorderPulse, AnUnknownDeviceGivesNilAndTheLogLine) {
    zvtest::LogCapture log;
    EXPECT_FALSE(ZVSoundInputRecorder::initWithDevice("No Such Device"));
    EXPECT_TRUE(log.contains("Could not initialize input device: 40964"));  // ALC_INVALID_VALUE
}

TEST(ZVSoundInputRecorderPulse, TenSecondsOfToneAtTheRightPitchLevelAndRate) {
    zvtest::TempDir dir;
    ZVTonePlayer player("mic_feed");
    const double now = ZVAbsoluteTimeGetCurrent();
    player.setTone(now, now + 60);
    Chain chain("Virtual_Mic", dir.file("tone.wav"));
    ASSERT_TRUE(chain.recorder);
    chain.recorder->setSuspended(false);
    chain.recorder->start();
    sleepSeconds(10.5);
    ASSERT_TRUE(chain.finish());
    ASSERT_TRUE(player.ok());

    // No packet is smaller than a slice less the safety margin.
    auto arrived = arrivals(chain.tee);
    ASSERT_GT(arrived.size(), 50u);
    for (auto& a : arrived) EXPECT_GE(a.frames, 4096 - 1024);

    // Frames come at the device's rate: the slope of frames read over arrival time, from
    // the first packet on (the first data may come late), is 44100 within 1%.
    double n = 0, st = 0, sf = 0, stt = 0, stf = 0, frames = 0;
    for (auto& a : arrived) {
        frames += a.frames;
        const double t = a.time - arrived.front().time;
        n += 1, st += t, sf += frames, stt += t * t, stf += t * frames;
    }
    const double slope = (n * stf - st * sf) / (n * stt - st * st);
    EXPECT_NEAR(slope, kRate, kRate * 0.01);
    EXPECT_EQ(chain.recorder->totalFramesRead(), int32_t(frames));
    EXPECT_EQ(chain.writer->frames(), int32_t(frames));

    // The last seconds hold the tone: 1 kHz by its zero crossings, half amplitude by RMS.
    // Each is the median over tenth-of-a-second windows, so a dropout of the test's own
    // tone player on a loaded machine does not count against the recorder.
    auto left = leftChannel(dir.file("tone.wav"));
    ASSERT_GT(left.size(), size_t(3 * kRate));
    const size_t window = size_t(kRate / 10);
    std::vector<double> pitches, levels;
    for (size_t from = left.size() - size_t(2 * kRate); from + window <= left.size();
         from += window) {
        int crossings = 0;
        double sumSquares = 0;
        for (size_t i = from + 1; i < from + window; ++i) {
            if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
            sumSquares += double(left[i]) * left[i];
        }
        pitches.push_back(crossings / 2.0 / 0.1);
        levels.push_back(std::sqrt(sumSquares / double(window)) / 32767);
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    EXPECT_NEAR(median(pitches), ZVTonePlayer::kFrequency, 10);
    EXPECT_NEAR(median(levels), ZVTonePlayer::kAmplitude / std::sqrt(2.0), 0.05);
}

TEST(ZVSoundInputRecorderPulse, AToneLandsWhereTheStartOffsetSays) {
    zvtest::TempDir dir;
    ZVTonePlayer player("mic_feed");  // keeps the sink warm from here on
    sleepSeconds(0.5);
    Chain chain("Virtual_Mic", dir.file("sync.wav"));
    ASSERT_TRUE(chain.recorder);
    // A capture stream that has just connected starts delivering only after the server
    // has settled its latency (about a second on null sinks); a host opens its devices
    // ahead of the recording in the same way.
    sleepSeconds(2.0);
    const double t0 = ZVAbsoluteTimeGetCurrent();
    const double toneAt = t0 + 1.5;
    player.setTone(toneAt, toneAt + 0.5);
    // The suspension is lifted at once, as a host does after startAtTime: what the device
    // buffered while suspended (up to a slice) would otherwise come before the first
    // active moment.
    chain.recorder->startAtTime(t0);
    chain.recorder->setSuspended(false);
    sleepSeconds(2.5);
    ASSERT_TRUE(chain.finish());
    const double offset = chain.recorder->startOffsetTime();
    EXPECT_GE(offset, 0.0);

    // The file's first sample is the recorder's first active moment, t0 + offset.
    auto left = leftChannel(dir.file("sync.wav"));
    const size_t found = firstLoud(left);
    ASSERT_LT(found, left.size()) << "the tone was not recorded";
    const double expected = (toneAt - (t0 + offset)) * kRate;
    EXPECT_NEAR(double(found), expected, 0.050 * kRate)
        << "tone at " << found / kRate << " s in the file, expected " << expected / kRate;
}
