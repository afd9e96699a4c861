// The main-thread channel as a host meets it: per-frame events reach the main run loop
// only for a delegate, folded so that the queue never grows with the frame rate, in
// order; and the wake descriptor a GUI main loop watches.
#include <gtest/gtest.h>
#include <poll.h>

#include <thread>

#include "Video/ZVRecorderTestSupport.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr int kFrames = 10000;

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

class HandOffTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder = ZVScreenRecorder::initWithRect(
            ZVMakeRect(0, 0, 64, 48),
            zvtest::withDisplay(std::make_shared<zvtest::FakeDisplayServer>()));
        ASSERT_NE(recorder, nullptr);
        ZVRunLoop::main().runOnce();
    }

    // Posts kFrames captured-frame events from a worker thread, `seq` counting them.
    std::thread postFrames() {
        return std::thread([this] {
            for (int i = 1; i <= kFrames; ++i) {
                seq.store(i);
                ZVNotificationCenter::defaultCenter().post(
                    ZVScreenRecorderCapturedFrameNotification, recorder.get());
                maxPending = std::max(maxPending.load(), ZVRunLoop::main().pending());
            }
        });
    }

    std::shared_ptr<ZVScreenRecorder> recorder;
    std::atomic<int> seq{0};
    std::atomic<size_t> maxPending{0};
};

TEST_F(HandOffTest, FramesWithoutADelegateLeaveTheMainLoopEmpty) {
    postFrames().join();
    EXPECT_EQ(ZVRunLoop::main().pending(), 0u);
    EXPECT_FALSE(readable(ZVRunLoop::main().wakeFileDescriptor()));
    std::weak_ptr<ZVScreenRecorder> alive = recorder;
    recorder.reset();
    EXPECT_TRUE(alive.expired());  // no hand-off holds it
}

TEST_F(HandOffTest, ADelegateSeesFoldedDeliveriesInOrder) {
    struct Delegate : ZVScreenRecorderDelegateInformalProtocol {
        void ZVScreenRecorderCapturedFrame(ZVScreenRecorder*) override {
            seen.push_back(seq->load());
        }
        std::atomic<int>* seq = nullptr;
        std::vector<int> seen;
    } delegate;
    delegate.seq = &seq;
    recorder->setDelegate(&delegate);

    auto poster = postFrames();
    // Drained while frames come, as a host's main loop would on its wake descriptor.
    auto& loop = ZVRunLoop::main();
    while (seq.load() < kFrames) {
        pollfd p{loop.wakeFileDescriptor(), POLLIN, 10};
        if (poll(&p, 1, 10) == 1) loop.runOnce();
    }
    poster.join();
    loop.runOnce();

    EXPECT_LE(maxPending.load(), 1u);
    ASSERT_FALSE(delegate.seen.empty());
    EXPECT_TRUE(std::is_sorted(delegate.seen.begin(), delegate.seen.end()));
    EXPECT_EQ(delegate.seen.back(), kFrames);  // the latest state always arrives
    EXPECT_EQ(loop.pending(), 0u);
    EXPECT_FALSE(readable(loop.wakeFileDescriptor()));
    recorder->setDelegate(nullptr);
}

}  // namespace
