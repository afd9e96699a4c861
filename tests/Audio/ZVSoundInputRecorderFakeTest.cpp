// The recorder over a scripted OpenAL device: thresholds, suspension, pause and the order
// of device calls, made deterministic. The same behaviours on a real server are in
// ZVSoundInputRecorderTest.cpp.
#include <gtest/gtest.h>

#include <thread>

#include "ZVAudioTestUtil.h"
#include "ZVFakeOpenAL.h"
#include "Zorvan.h"
#include "ZorvanTesting.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;

namespace {
std::vector<std::shared_ptr<ZVSoundPacket>> drain(ZVQueue& q) {
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    while (auto o = q.nextObject()) packets.push_back(std::dynamic_pointer_cast<ZVSoundPacket>(o));
    return packets;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
}  // namespace

TEST(ZVSoundInputRecorderFake, OpensByNameWithTheDefaultsAndDerivesTheFormat) {
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("Virtual_Mic");
    ASSERT_TRUE(r);
    EXPECT_EQ(al.lastOpenedName(), "Virtual_Mic");
    EXPECT_EQ(r->format(), (ZVSoundFormat{2, 16, 44100, kZVSoundFormatSignedInteger}));
    EXPECT_TRUE(r->isSuspended());
    auto byDefault = ZVSoundInputRecorder::initWithDevice("");  // the default input device
    EXPECT_EQ(al.calls().back(), "open (default)");

    struct Case {
        int32_t al;
        ZVSoundFormat f;
    } cases[] = {{0x1100, {1, 8, 8000, 0}},
                 {0x1101, {1, 16, 8000, kZVSoundFormatSignedInteger}},
                 {0x1102, {2, 8, 8000, 0}},
                 {0x1103, {2, 16, 8000, kZVSoundFormatSignedInteger}},
                 {0x9999, {0, 0, 8000, 0}}};
    for (auto& c : cases)
        EXPECT_EQ(ZVSoundInputRecorder::ZVSoundFormatForALFormat(c.al, 8000), c.f);
}

TEST(ZVSoundInputRecorderFake, SuspensionHoldsTheFirstReadAndStopWaitsForIt) {
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("mic");
    ZVQueue q;
    r->setDataDestination(&q);
    std::atomic<int> willStart{0}, didStart{0};
    auto& center = ZVNotificationCenter::defaultCenter();
    center.addObserver(&willStart, ZVSoundInputRecorderWillStartNotification, r.get(),
                       [&](const ZVNotification&) { ++willStart; });
    center.addObserver(&didStart, ZVSoundInputRecorderDidStartNotification, r.get(),
                       [&](const ZVNotification&) { ++didStart; });
    StopWatcher stopped(ZVSoundInputRecorderDidStopNotification, r.get());

    const double t = ZVAbsoluteTimeGetCurrent();
    r->startAtTime(t);
    ASSERT_TRUE(zvtest::runMainUntil([&] { return willStart.load() == 1; }));
    sleepMs(250);
    r->stop();  // ignored while suspended
    EXPECT_EQ(didStart.load(), 0);
    EXPECT_EQ(al.reads.load(), 0);
    EXPECT_TRUE(q.count() == 0);
    EXPECT_TRUE(r->isLaunched());

    r->setSuspended(false);
    sleepMs(150);
    al.ready = 4096;  // captured after the release: the track's first frames
    ASSERT_TRUE(zvtest::runMainUntil([&] { return q.count() > 0; }));
    EXPECT_EQ(didStart.load(), 1);
    EXPECT_GE(r->startOffsetTime(), 0.25);
    EXPECT_LT(r->startOffsetTime(), 5.0);
    r->stop();
    ASSERT_TRUE(stopped.wait());
    // The device was started before the wait and closed after the loop.
    auto calls = al.calls();
    EXPECT_EQ(calls[1], "start");
    EXPECT_EQ(calls[calls.size() - 2], "stop");
    EXPECT_EQ(calls.back(), "close");
    center.removeObserver(&willStart);
    center.removeObserver(&didStart);

    // A recorder records once: its device is closed now.
    r->start();
    sleepMs(30);
    EXPECT_FALSE(r->isLaunched());
}

TEST(ZVSoundInputRecorderFake, ReadsOnlyOnceASliceLessTheSafetyIsReady) {
    ZVFakeOpenAL al;
    auto r = ZVSoundInputRecorder::initWithDevice("mic");
    ZVQueue q;
    r->setDataDestination(&q);
    StopWatcher stopped(ZVSoundInputRecorderDidStopNotification, r.get());
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

TEST(ZVSoundInputRecorderFake, PauseStopsTheDeviceAndTellsTheDelegate) {
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
    auto r = ZVSoundInputRecorder::initWithDevice("mic");
    r->setDelegate(&delegate);
    StopWatcher stopped(ZVSoundInputRecorderDidStopNotification, r.get());
    r->pause(true);  // not running: nothing
    r->setSuspended(false);
    r->start();
    // did-start comes from the worker through the main run loop; a pause from the main
    // thread is told at once, so wait for did-start first.
    ASSERT_TRUE(zvtest::runMainUntil([&] { return r->isRunning() && delegate.calls.size() >= 3; }));
    r->pause(true);
    EXPECT_TRUE(r->isPaused());
    al.ready = 4096;
    sleepMs(50);
    EXPECT_EQ(al.reads.load(), 0);  // paused: nothing read although frames are ready
    r->pause(true);
    r->pause(false);
    ASSERT_TRUE(zvtest::runMainUntil([&] { return al.reads.load() > 0; }));
    r->stop();
    ASSERT_TRUE(stopped.wait());
    zvtest::runMainUntil([&] { return delegate.calls.size() >= 6; });
    EXPECT_EQ(delegate.calls,
              (std::vector<std::string>{"should", "will", "did", "paused", "resumed", "stopped"}));
    auto calls = al.calls();
    // open, start (worker), stop (pause), start (resume), read..., stop, close
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              (std::vector<std::string>{"open mic", "start", "stop", "start"}));
}

TEST(ZVSoundInputRecorderFake, ARecorderNeverStartedClosesItsDevice) {
    ZVFakeOpenAL al;
    ZVSoundInputRecorder::initWithDevice("mic").reset();
    EXPECT_EQ(al.calls().back(), "close");
}

TEST(ZVSoundInputRecorderFake, APacketThatCannotBeMadeEndsTheRecordingWithoutReading) {
    ZVFakeOpenAL al;
    zvtest::LogCapture log;
    zvtest::StderrCapture err;
    auto r = ZVSoundInputRecorder::initWithDevice("mic");
    StopWatcher stopped(ZVSoundInputRecorderDidStopNotification, r.get());
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
