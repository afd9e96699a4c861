// The recorder over a scripted OpenAL device: thresholds, suspension, pause and the order
// of device calls, made deterministic. The recorder on a real server is tested in
// Platform/Pulse/ZVPulseAudioTest.cpp.
#include <gtest/gtest.h>

#include <thread>

#include "ZVAudioTestUtil.h"
#include "ZVFakeOpenAL.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;

namespace {
void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace

TEST(ZVSoundInputRecorderFake, OpensByNameWithTheDefaultsAndClosesWhenNeverStarted) {
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("Virtual_Mic", al.services());
    ASSERT_TRUE(r);
    EXPECT_EQ(al.calls().at(0), "open Virtual_Mic");
    EXPECT_EQ(r->format(), (ZVSoundFormat{2, 16, 44100, kZVSoundFormatSignedInteger}));
    EXPECT_TRUE(r->isSuspended());
    ZVSoundInputRecorder::initWithDevice("", al.services());  // the default input device
    auto calls = al.calls();
    EXPECT_EQ(calls.at(1), "open (default)");
    EXPECT_EQ(calls.back(), "close");  // never started, it still closes its device
}

TEST(ZVSoundInputRecorderFake, ReadsOnlyOnceASliceLessTheSafetyIsReady) {
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("mic", al.services());
    ZVQueue q;
    r->setDataDestination(&q);
    Posted stopped(ZVSoundInputRecorderDidStopNotification, r.get());
    r->setSuspended(false);
    r->start();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return r->isRunning(); }));
    al.ready = 3071;
    sleepMs(60);
    EXPECT_EQ(al.reads.load(), 0);
    al.ready = 3072;
    ASSERT_TRUE(zvtest::runMainUntil([&] { return al.reads.load() == 1; }));
    auto packets = drain(q);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0]->numberOfFrames(), 3072);
    EXPECT_EQ(packets[0]->bufferSize(), 3072 * 4);
    EXPECT_EQ(r->totalFramesRead(), 3072);

    // No safety margin: wait for a full buffer.
    r->setSafetySlice(0);
    al.ready = 4095;
    sleepMs(60);
    EXPECT_EQ(al.reads.load(), 1);
    al.ready = 4096;
    ASSERT_TRUE(zvtest::runMainUntil([&] { return al.reads.load() == 2; }));
    r->stop();
    ASSERT_TRUE(stopped.wait());
    EXPECT_EQ(drain(q).at(0)->numberOfFrames(), 4096);
}

TEST(ZVSoundInputRecorderFake, SuspensionAndPauseHoldTheDeviceAndTellTheDelegate) {
    struct Delegate : ZVSoundInputRecorderDelegateInformalProtocol {
        std::vector<std::string> calls;
        void ZVSoundInputRecorderShouldStart(ZVSoundInputRecorder*) override {
            calls.push_back("should");
        }
        void ZVSoundInputRecorderWillStart(ZVSoundInputRecorder*) override {
            calls.push_back("will");
        }
        void ZVSoundInputRecorderDidStart(ZVSoundInputRecorder*) override {
            calls.push_back("did");
        }
        void ZVSoundInputRecorderDidChangePauseState(ZVSoundInputRecorder*, bool p) override {
            EXPECT_TRUE(ZVIsMainThread());
            calls.push_back(p ? "paused" : "resumed");
        }
        void ZVSoundInputRecorderDidStop(ZVSoundInputRecorder*) override {
            calls.push_back("stopped");
        }
    } delegate;
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("mic", al.services());
    r->setDelegate(&delegate);
    ZVQueue q;
    r->setDataDestination(&q);
    Posted stopped(ZVSoundInputRecorderDidStopNotification, r.get());
    r->pause(true);  // not running: nothing

    // Suspended, the recorder holds its first read, and a stop is ignored.
    r->startAtTime(ZVAbsoluteTimeGetCurrent());
    ASSERT_TRUE(zvtest::runMainUntil([&] { return delegate.calls.size() == 2; }));
    sleepMs(250);
    r->stop();
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"should", "will"}));
    EXPECT_EQ(al.reads.load(), 0);
    EXPECT_TRUE(r->isLaunched());

    // did-start comes from the worker through the main run loop; a pause from the main
    // thread is told at once, so wait for did-start first.
    r->setSuspended(false);
    ASSERT_TRUE(zvtest::runMainUntil([&] { return r->isRunning() && delegate.calls.size() >= 3; }));
    r->pause(true);
    EXPECT_TRUE(r->isPaused());
    al.ready = 4096;  // captured after the release: the track's first frames
    sleepMs(150);
    EXPECT_EQ(al.reads.load(), 0);  // paused: nothing read although frames are ready
    r->pause(true);
    r->pause(false);
    ASSERT_TRUE(zvtest::runMainUntil([&] { return q.count() > 0; }));
    r->stop();
    ASSERT_TRUE(stopped.wait());
    zvtest::runMainUntil([&] { return delegate.calls.size() >= 6; });
    EXPECT_EQ(delegate.calls,
              (std::vector<std::string>{"should", "will", "did", "paused", "resumed", "stopped"}));
    // The suspended wait counts in the track's start (its first frames came later still).
    EXPECT_GE(r->startOffsetTime(), 0.25);
    EXPECT_LT(r->startOffsetTime(), 5.0);
    // open, start (before the wait), stop and start (the pause), reads..., stop, close
    auto calls = al.calls();
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"open mic", "start", "stop", "start"}));
    EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
              (std::vector<std::string>{"stop", "close"}));

    // A recorder records once: its device is closed now.
    r->start();
    sleepMs(30);
    EXPECT_FALSE(r->isLaunched());
}

TEST(ZVSoundInputRecorderFake, APacketThatCannotBeMadeEndsTheRecordingWithoutReading) {
    ZVFakeOpenAL al;
    zvtest::LogCapture log;
    zvtest::StderrCapture err;
    auto r = ZVSoundInputRecorder::initWithDevice("mic", al.services());
    Posted stopped(ZVSoundInputRecorderDidStopNotification, r.get());
    ZVSetSoundPacketAllocator([](size_t) -> void* { return nullptr; });
    r->setSuspended(false);
    r->start();
    zvtest::runMainUntil([&] { return r->isRunning(); });
    al.ready = 4096;
    bool ok = stopped.wait();
    ZVSetSoundPacketAllocator(nullptr);
    ASSERT_TRUE(ok);
    EXPECT_EQ(al.reads.load(), 0);
    EXPECT_TRUE(log.contains("ME-5: initWithFormat:numberOfFrames: failed"));
    EXPECT_TRUE(log.contains("no packet for 4096 frames"));
}
