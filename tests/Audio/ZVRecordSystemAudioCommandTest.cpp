// `zorvan record --system-audio` end to end on a private Xvfb and PulseAudio server: the
// microphone and the machine's own sound land in their own tracks, in step with the
// screen, and the user's default output is given back however the recording ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

#include <chrono>
#include <cmath>
#include <thread>

#include "Audio/ZVAudioTestUtil.h"
#include "Audio/ZVTonePlayer.h"
#include "Zorvan.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

std::string defaultSink() {
    return zvtest::trimmed(zvtest::ZVPulseFixture::instance()->pactl({"get-default-sink"}));
}

bool waitForDefaultSink(const std::string& sink, double seconds = 10) {
    for (int i = 0; i < int(seconds * 50); ++i) {
        if (defaultSink() == sink) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Zero crossings per second of the left channel in the file's last second: twice the
// frequency of the tone it holds. The median over tenth-of-a-second windows, so that a
// dropout of the test's own players on a loaded machine does not count.
double crossingsPerSecond(const std::string& wav) {
    std::string error;
    auto d = ZVWavHeader::describeFile(wav, &error);
    if (!d) return 0;
    auto bytes = zvaudiotest::readBytes(wav);
    if (bytes.size() < d->dataSize) return 0;
    const uint8_t* samples = bytes.data() + bytes.size() - d->dataSize;
    const size_t frames = d->dataSize / 4, window = 4410;
    if (frames < 10 * window) return 0;
    auto left = [&](size_t i) { return int16_t(samples[4 * i] | (samples[4 * i + 1] << 8)); };
    std::vector<double> rates;
    for (size_t from = frames - 10 * window; from < frames; from += window) {
        int crossings = 0;
        for (size_t i = from + 1; i < from + window; ++i)
            if ((left(i) >= 0) != (left(i - 1) >= 0)) ++crossings;
        rates.push_back(crossings * 10.0);
    }
    std::nth_element(rates.begin(), rates.begin() + 5, rates.end());
    return rates[5];
}

// A 440 Hz tone played to whatever the default output is, as any program plays.
pid_t playToDefaultOutput(double seconds) {
    pid_t pid = fork();
    if (pid == 0) {
        execlp("sox", "sox", "-q", "-n", "-t", "pulseaudio", "default", "synth",
               std::to_string(seconds).c_str(), "sine", "440", "vol", "0.5", nullptr);
        _exit(127);
    }
    return pid;
}
}  // namespace

TEST(RecordSystemAudioCommand, MicrophoneAndMachineSoundLandInTheirOwnTracks) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    std::string out;
    ASSERT_EQ(zvtest::runZorvan(dir, {"driver", "install"}, &out), 0) << out;
    ZVTonePlayer mic("mic_feed");  // 1 kHz, what the default microphone hears
    mic.setTone(ZVAbsoluteTimeGetCurrent(), ZVAbsoluteTimeGetCurrent() + 60);

    zvtest::Zorvan rec(dir, {"record", "--duration", "4", "--mic", "default", "--system-audio",
                             dir.file("both.fomixx")});
    ASSERT_TRUE(waitForDefaultSink("zorvan_soundflower")) << rec.err();
    pid_t machine = playToDefaultOutput(6);
    ASSERT_EQ(rec.wait(), 0) << rec.err();
    kill(machine, SIGTERM);
    waitpid(machine, nullptr, 0);
    EXPECT_EQ(defaultSink(), "sys_out");

    auto manager = ZVFomixXManager::initWithFile(zvtest::trimmed(rec.out()));
    ASSERT_TRUE(manager);
    for (auto kind : {ZVFomixXResourceVideo, ZVFomixXResourceAudio, ZVFomixXResourceSystemAudio})
        EXPECT_TRUE(manager->startOffsetTime(kind)) << kind;
    auto micWav = manager->pathForResource(ZVFomixXResourceAudio);
    auto sysWav = manager->pathForResource(ZVFomixXResourceSystemAudio);
    ASSERT_TRUE(micWav && sysWav);
    EXPECT_NEAR(crossingsPerSecond(*micWav), 2000, 40);
    EXPECT_NEAR(crossingsPerSecond(*sysWav), 880, 40);
}

TEST(RecordSystemAudioCommand, AKilledRecordingsRedirectionIsUndoneAtTheNextStart) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    std::string out;
    ASSERT_EQ(zvtest::runZorvan(dir, {"driver", "install"}, &out), 0) << out;

    // Ctrl-C ends in order and gives the output back.
    {
        zvtest::Zorvan rec(dir, {"record", "--system-audio", dir.file("int.fomixx")});
        ASSERT_TRUE(waitForDefaultSink("zorvan_soundflower")) << rec.err();
        rec.signal(SIGINT);
        EXPECT_EQ(rec.wait(), 0) << rec.err();
        EXPECT_EQ(defaultSink(), "sys_out");
    }
    // A crash leaves it redirected: status says so, the next recording undoes it.
    {
        zvtest::Zorvan rec(dir, {"record", "--system-audio", dir.file("kill.fomixx")});
        ASSERT_TRUE(waitForDefaultSink("zorvan_soundflower")) << rec.err();
        rec.signal(SIGKILL);
        rec.wait();
    }
    EXPECT_EQ(defaultSink(), "zorvan_soundflower");
    ASSERT_EQ(zvtest::runZorvan(dir, {"driver", "status"}, &out), 0);
    EXPECT_NE(out.find("stale: the default output was taken from 'System_Output'"),
              std::string::npos)
        << out;
    zvtest::Zorvan next(dir,
                        {"record", "--system-audio", "--duration", "1", dir.file("next.fomixx")});
    EXPECT_EQ(next.wait(), 0) << next.err();
    EXPECT_NE(next.err().find("gave the default output back to 'System_Output'"), std::string::npos)
        << next.err();
    EXPECT_EQ(defaultSink(), "sys_out");
}
