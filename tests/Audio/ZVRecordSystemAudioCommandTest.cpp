// `zorvan record --system-audio` end to end on a private Xvfb and PulseAudio server: the
// microphone and the machine's own sound land in their own tracks, in step with the
// screen, and the user's default output is given back however the recording ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "Audio/ZVAudioTestUtil.h"
#include "Audio/ZVTonePlayer.h"
#include "ZorvanInternal.h"
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

bool waitForDefaultSink(const std::string& sink) {
    return zvtest::eventually([&] { return defaultSink() == sink; }, 10);
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
    EXPECT_NEAR(zvaudiotest::measureTone(zvaudiotest::leftChannelOfWav(*micWav), 1).pitch, 1000,
                20);
    EXPECT_NEAR(zvaudiotest::measureTone(zvaudiotest::leftChannelOfWav(*sysWav), 1).pitch, 440, 20);
}

TEST(RecordSystemAudioCommand, TheOutputComesBackAfterASignalOrAtTheNextStartAfterACrash) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    std::string out;
    ASSERT_EQ(zvtest::runZorvan(dir, {"driver", "install"}, &out), 0) << out;

    // Ctrl-C and a closed terminal end a recording as its duration does: the output is
    // given back at once.
    for (int sig : {SIGINT, SIGHUP}) {
        zvtest::Zorvan rec(
            dir, {"record", "--system-audio", dir.file("sig" + std::to_string(sig) + ".fomixx")});
        ASSERT_TRUE(waitForDefaultSink("zorvan_soundflower")) << rec.err();
        rec.signal(sig);
        EXPECT_EQ(rec.wait(), 0) << rec.err();
        EXPECT_EQ(defaultSink(), "sys_out") << sig;
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

// Two recordings of the machine's sound at once: the second finds the output on the
// loopback device already and records it beside the first, with no play-through of its
// own (which would play the loopback device into itself: both tracks would hold the tone
// fed back onto itself) and without giving the output back, which is the first one's.
TEST(RecordSystemAudioCommand, ASecondRecordingSharesTheFirstOnesRedirection) {
    ZV_REQUIRE_XVFB();
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir, other;
    std::string out;
    ASSERT_EQ(zvtest::runZorvan(dir, {"driver", "install"}, &out), 0) << out;
    zvtest::Zorvan first(dir,
                         {"record", "--duration", "6", "--system-audio", dir.file("first.fomixx")});
    ASSERT_TRUE(waitForDefaultSink("zorvan_soundflower")) << first.err();
    pid_t machine = playToDefaultOutput(9);
    zvtest::Zorvan second(
        other, {"record", "--duration", "3", "--system-audio", other.file("second.fomixx")});
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_EQ(defaultSink(), "zorvan_soundflower");
    EXPECT_NE(
        second.err().find("came through the recording of process " + std::to_string(first.pid())),
        std::string::npos)
        << second.err();
    ASSERT_EQ(first.wait(), 0) << first.err();
    kill(machine, SIGTERM);
    waitpid(machine, nullptr, 0);
    EXPECT_EQ(defaultSink(), "sys_out");
    for (const std::string& rec : {zvtest::trimmed(first.out()), zvtest::trimmed(second.out())}) {
        SCOPED_TRACE(rec);
        auto wav = ZVFomixXManager::initWithFile(rec)->pathForResource(ZVFomixXResourceSystemAudio);
        ASSERT_TRUE(wav);
        const auto tone = zvaudiotest::measureTone(zvaudiotest::leftChannelOfWav(*wav), 1);
        EXPECT_NEAR(tone.pitch, 440, 20);
        EXPECT_NEAR(tone.level, 0.354, 0.05);  // the tone as played: half of full scale
    }
}

// Without a sound server the server is what is missing, not the driver.
TEST(RecordSystemAudioCommand, NoSoundServerIsSaidSo) {
    ZV_REQUIRE_XVFB();
    zvtest::TempDir dir;
    zvtest::EnvScope nowhere("PULSE_SERVER", "unix:/nonexistent");
    zvtest::Zorvan rec(dir, {"record", "--duration", "1", "--system-audio", dir.file("x.fomixx")});
    EXPECT_EQ(rec.wait(), 1);
    EXPECT_EQ(rec.err(),
              "zorvan record: the sound server cannot be reached (Connection refused)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.fomixx")));
}
