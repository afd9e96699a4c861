// `zorvan record --mic` against sources as users have them, on a private PulseAudio beside
// parecord, the reference client, recording the same source at the same time: a tone
// played at the server's default latency into a null sink's monitor, and PulseAudio's
// sine source, which delivers in bursts of seconds; on an idle machine and with two busy
// loops on its cores. The sound must all be there, with no silence the server did not
// report; a loss the server does report (the recorder stopped for a second) must be kept
// as silence of its length; and the first sample must lie at the start on a fresh server.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include "ZVAudioTestUtil.h"
#include "ZVTonePlayer.h"
#include "ZorvanInternal.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

constexpr double kRate = 44100;

// Where the sound is in 16-bit samples: from the first loud sample to the last, and the
// longest stretch between them where it is silent (a sine of half amplitude comes this
// near zero for a sample at most).
struct Sound {
    size_t first = 0, last = 0, longestSilence = 0, silenceAt = 0;
    double seconds() const { return double(last - first) / kRate; }
};
Sound soundIn(const std::vector<int16_t>& left) {
    Sound s;
    auto loud = [](int16_t v) { return std::abs(v) > 4000; };
    const auto first = std::find_if(left.begin(), left.end(), loud);
    if (first == left.end()) return s;
    s.first = size_t(first - left.begin());
    s.last =
        left.size() - 1 - size_t(std::find_if(left.rbegin(), left.rend(), loud) - left.rbegin());
    for (size_t i = s.first, run = 0; i <= s.last; ++i) {
        run = std::abs(left[i]) < 200 ? run + 1 : 0;
        if (run > s.longestSilence) s.longestSilence = run, s.silenceAt = i + 1 - run;
    }
    return s;
}

// parecord of one source into a raw file, for as long as it lives.
struct Reference {
    Reference(const zvtest::TempDir& dir, const std::string& source)
        : path(dir.file("parecord.raw")),
          pid(zvtest::startProgram({"parecord", "--raw", "--format=s16le", "--rate=44100",
                                    "--channels=2", "--device=" + source, path},
                                   "", "", "")) {}
    std::vector<int16_t> stop() {
        zvtest::endChild(pid);
        const auto bytes = zvtest::readBytes(path);
        return zvaudiotest::leftChannel(bytes.data(), bytes.size());
    }
    std::string path;
    int pid;
};

struct BusyLoops {
    explicit BusyLoops(bool on) {
        for (int i = 0; on && i < 2; ++i)
            pids.push_back(zvtest::startProgram({"sh", "-c", "while :; do :; done"}, "", "", ""));
    }
    ~BusyLoops() {
        for (int pid : pids) zvtest::endChild(pid);
    }
    std::vector<int> pids;
};

std::shared_ptr<ZVFomixXManager> packageOf(const zvtest::Zorvan& rec) {
    return ZVFomixXManager::initWithFile(zvtest::trimmed(rec.out()));
}

double lostSeconds(ZVFomixXManager& package, int64_t* count) {
    auto props = package.propertiesForResource(ZVFomixXResourceAudio);
    const ZVValue* n = props ? props->get("LostSoundCount") : nullptr;
    const ZVValue* s = props ? props->get("LostSoundSeconds") : nullptr;
    *count = n ? n->intValue(-1) : -1;
    return s ? s->doubleValue(-1) : -1;
}

// Waits until the recording into `package` has begun: its sound track has a start offset
// (the package keeps it within a tenth of a second). On a busy machine the tool takes
// seconds to start, and sound played before would not be the track's.
void waitUntilRecording(const std::string& package) {
    ASSERT_TRUE(zvtest::eventually(
        [&] {
            auto m = ZVFomixXManager::initWithFile(package);
            return m && m->startOffsetTime(ZVFomixXResourceAudio);
        },
        20))
        << package;
}

}  // namespace

// First in the binary: the server has had no capture client yet.
TEST(MicCapture, TheFirstSampleLiesAtTheStartOnAFreshServer) {
    ZVTonePlayer tone("mic_feed", 5000);
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    std::string error;
    auto session = ZVRecordingSession::create(dir.file("first.fomixx"), &error);
    ASSERT_TRUE(session) << error;
    session->addTrack(std::make_unique<ZVMicrophoneTrack>("Monitor of Mic_Feed"));
    ASSERT_EQ(session->prepare(), "");
    session->start();
    // The common start time is taken inside start, after its wait for the device.
    const double started = ZVAbsoluteTimeGetCurrent();
    tone.setTone(started + 0.1, started + 5);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_EQ(session->stopAndWait(20), "");
    ASSERT_TRUE(tone.ok());

    auto package = ZVFomixXManager::initWithFile(session->path());
    auto offset = package->startOffsetTime(ZVFomixXResourceAudio);
    auto wav = package->pathForResource(ZVFomixXResourceAudio);
    ASSERT_TRUE(offset && wav);
    EXPECT_LT(*offset, 0.020);
    const Sound sound = soundIn(zvaudiotest::leftChannelOfWav(*wav));
    EXPECT_NEAR(*offset + double(sound.first) / kRate, 0.100, 0.020);
}

TEST(MicCapture, EverySampleOfAMonitorAndOfTheSineSourceIdleAndBusy) {
    ZV_REQUIRE_XVFB();
    auto* pulse = zvtest::ZVPulseFixture::instance();
    // PipeWire's server has no sine source: there the monitor is recorded alone.
    const std::string module = pulse->pactl(
        {"load-module", "module-sine-source", "source_name=sine", "rate=44100", "frequency=1000"});
    ASSERT_TRUE(!module.empty() || zvtest::ZVPulseFixture::isPipeWire());
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "busy" : "idle");
        zvtest::TempDir monitorDir, sineDir;
        Reference monitorRef(monitorDir, "mic_feed.monitor");
        std::optional<Reference> sineRef;
        if (!module.empty()) sineRef.emplace(sineDir, "sine");
        BusyLoops loops(busy);
        zvtest::Zorvan monitor(monitorDir,
                               {"record", "--rect", "64x64+0+0", "--mic", "Monitor of Mic_Feed",
                                "--duration", "20", monitorDir.file("m.fomixx")});
        std::optional<zvtest::Zorvan> sine;
        if (sineRef)
            sine.emplace(sineDir, std::vector<std::string>{"record", "--rect", "64x64+0+0", "--mic",
                                                           "Sine source at 1000 Hz", "--duration",
                                                           "20", sineDir.file("s.fomixx")});
        // A tone as a player plays it, at the server's default latency, well inside both.
        waitUntilRecording(monitorDir.file("m.fomixx"));
        if (sine) waitUntilRecording(sineDir.file("s.fomixx"));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        int status = -1;
        zvtest::programOutput({"sox", "-n", "-t", "pulseaudio", "mic_feed", "synth", "15", "sine",
                               "1000", "vol", "0.5"},
                              &status);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(monitor.wait(), 0) << monitor.err();
        const std::vector<int16_t> theirs = monitorRef.stop();
        const Sound reference = soundIn(theirs);

        // The monitor: the tone whole, as long as parecord's, without a silent stretch.
        auto m = packageOf(monitor);
        const auto ours = zvaudiotest::leftChannelOfWav(*m->pathForResource(ZVFomixXResourceAudio));
        const Sound tone = soundIn(ours);
        // (A player that runs dry on a loaded machine leaves silence in both.)
        EXPECT_GT(reference.seconds(), 14.5);
        EXPECT_NEAR(tone.seconds(), reference.seconds(), 0.020);
        // Sample for sample from the onset, it is parecord's take: a graph cycle (PipeWire
        // hands sound over in those) lost or doubled by either shows where the two part.
        // PipeWire's server resamples each client at its own phase, a step of the 1 kHz tone
        // (at most 2400) apart; a cycle out of place is a third of its period (up to 28000).
        size_t same = 0;
        const size_t n = std::min(tone.last - tone.first, reference.last - reference.first);
        while (same < n &&
               std::abs(ours[tone.first + same] - theirs[reference.first + same]) < 4000)
            ++same;
        EXPECT_EQ(same, n) << "the takes part " << double(same) / kRate << " s into the tone";
        EXPECT_LE(tone.longestSilence, std::max(reference.longestSilence, size_t(0.005 * kRate)))
            << tone.silenceAt / kRate << " s";
        EXPECT_NE(monitor.err().find("no sound lost"), std::string::npos) << monitor.err();

        if (!sine) continue;
        // The sine source: sound from the first sample to the last, all of the take.
        ASSERT_EQ(sine->wait(), 0) << sine->err();
        const Sound sineReference = soundIn(sineRef->stop());
        auto s = packageOf(*sine);
        const Sound sound =
            soundIn(zvaudiotest::leftChannelOfWav(*s->pathForResource(ZVFomixXResourceAudio)));
        EXPECT_LE(sound.longestSilence, size_t(0.005 * kRate)) << sound.silenceAt / kRate << " s";
        EXPECT_LE(sineReference.longestSilence, size_t(0.005 * kRate));
        EXPECT_GT(sineReference.seconds(), 20);
        EXPECT_NEAR(sound.seconds(), 20, 0.1) << sine->err();
        int64_t count = 0;
        EXPECT_EQ(lostSeconds(*s, &count), 0);
        EXPECT_EQ(count, 0);
    }
    if (!module.empty()) pulse->pactl({"unload-module", module.substr(0, module.find('\n'))});
}

TEST(MicCapture, ARecorderStoppedKeepsWhatTheServerLostAsSilenceAndNothingElse) {
    ZV_REQUIRE_XVFB();
    // A tone at the server's default latency, which a busy machine does not interrupt.
    const int tone = zvtest::startProgram(
        {"sox", "-n", "-t", "pulseaudio", "mic_feed", "synth", "60", "sine", "1000", "vol", "0.5"},
        "", "", "");
    // The server keeps a few seconds for a reader that does not read: a stop of a second
    // loses nothing. After a longer one the server drops what did not fit (reported, and
    // kept here as silence of its length) or puts silence in its place itself; either
    // way the sound after it lies where it was heard.
    for (double stopped : {1.0, 4.5}) {
        SCOPED_TRACE(stopped);
        zvtest::TempDir dir;
        zvtest::Zorvan rec(dir, {"record", "--rect", "64x64+0+0", "--mic", "Monitor of Mic_Feed",
                                 "--duration", "9", dir.file("stop.fomixx")});
        std::this_thread::sleep_for(std::chrono::seconds(2));
        kill(rec.pid(), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::duration<double>(stopped));
        kill(rec.pid(), SIGCONT);
        ASSERT_EQ(rec.wait(), 0) << rec.err();

        auto package = packageOf(rec);
        int64_t count = 0;
        const double lost = lostSeconds(*package, &count);
        const Sound sound = soundIn(
            zvaudiotest::leftChannelOfWav(*package->pathForResource(ZVFomixXResourceAudio)));
        if (stopped < 3) {
            EXPECT_EQ(count, 0) << rec.err();
            EXPECT_NE(rec.err().find("no sound lost"), std::string::npos) << rec.err();
        } else if (count > 0) {
            EXPECT_EQ(count, 1) << rec.err();
            EXPECT_GE(double(sound.longestSilence) / kRate, lost - 0.020);
            EXPECT_NE(rec.err().find(ZVFormat(
                          "the sound server lost %.3f s of sound (kept as silence) at ", lost)),
                      std::string::npos)
                << rec.err();
        }
        // The tone goes on to the end, which is where the picture ends: a loss put in too
        // short or too long, or one missed, would move it.
        double audio[2] = {}, screen[2] = {};
        const size_t at = rec.err().find("audio.wav: starts at ");
        ASSERT_NE(at, std::string::npos) << rec.err();
        ASSERT_EQ(
            std::sscanf(rec.err().c_str() + at,
                        "audio.wav: starts at %lf s (screen %lf s), %lf s long (screen %lf s)",
                        &audio[0], &screen[0], &audio[1], &screen[1]),
            4);
        EXPECT_NEAR(audio[0] + double(sound.last) / kRate, screen[0] + screen[1], 0.060)
            << rec.err();
        // zorvan info tells the same.
        const std::string info = zvtest::programOutput({zvtest::zorvan(), "info", package->path()});
        EXPECT_NE(info.find(count ? ZVFormat("  the sound server lost %.3f s of sound in 1 place "
                                             "(kept as silence)\n",
                                             lost)
                                  : "  no sound lost\n"),
                  std::string::npos)
            << info;
    }
    zvtest::endChild(tone);
}

// A paused recording of the screen and the microphone wakes none of its workers: each sleeps
// on its queue or on its pause until something happens.
TEST(MicCapture, APausedRecordingWakesNoWorker) {
    ZV_REQUIRE_XVFB();
    ZVTonePlayer tone("mic_feed", 5000);
    ASSERT_TRUE(zvtest::ZVPulseFixture::instance());
    zvtest::TempDir dir;
    std::string error;
    auto session = ZVRecordingSession::create(dir.file("paused.fomixx"), &error);
    ASSERT_TRUE(session) << error;
    session->addTrack(std::make_unique<ZVScreenTrack>(ZVMakeRect(0, 0, 160, 120), false));
    session->addTrack(std::make_unique<ZVMicrophoneTrack>("Monitor of Mic_Feed"));
    ASSERT_EQ(session->prepare(), "");
    session->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    session->pause(true);
    // The pause reaches each worker, which then goes to sleep: nothing after that.
    ASSERT_TRUE(zvtest::eventually([] {
        const uint64_t before = ZVWorker::wakeUps();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return ZVWorker::wakeUps() == before;
    }));
    const uint64_t asleep = ZVWorker::wakeUps();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(ZVWorker::wakeUps(), asleep);
    session->pause(false);
    ASSERT_EQ(session->stopAndWait(20), "");
    ASSERT_TRUE(tone.ok());
}
