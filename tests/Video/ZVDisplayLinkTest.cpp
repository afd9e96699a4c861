// The display link without a display: a link at a given rate, its weak targets and the
// ways it is stopped. The link on Xvfb's rate is in test_x11.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Video/ZVDisplayLink.h"
#include "support/ZVTestSupport.h"

namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& pred) {
    return zvtest::eventually(pred);
}

// A stage as the recorder is one: it owns the link and the link reaches it weakly.
struct Stage : std::enable_shared_from_this<Stage> {
    std::shared_ptr<ZVDisplayLink> link = ZVDisplayLink::createWithRate(200);
    std::atomic<int> ticks{0};
    std::atomic<bool> holdThird{false};  // the third tick waits until `released`
    std::atomic<bool> inThird{false};
    std::atomic<bool> released{false};
    std::atomic<bool>* destroyedOnTick = nullptr;

    void wire() { link->setOutputTarget(weak_from_this(), &Stage::tick); }
    int32_t tick(const ZVDisplayLinkTime&) {
        if (++ticks == 3 && holdThird) {
            inThird = true;
            waitFor([&] { return released.load(); });
        }
        return ZVDisplayLink::kSuccess;
    }
    ~Stage() {
        if (destroyedOnTick) *destroyedOnTick = link->isTickThread();
        link->stop();
    }
};

}  // namespace

TEST(ZVDisplayLink, RateDefaultsToSixtyHertz) {
    EXPECT_DOUBLE_EQ(ZVDisplayLink::createWithRate(0)->nominalRefreshRate(), 60.0);
    EXPECT_DOUBLE_EQ(ZVDisplayLink::createWithRate(-5)->nominalRefreshRate(), 60.0);
    EXPECT_DOUBLE_EQ(ZVDisplayLink::createWithRate(75)->nominalRefreshRate(), 75.0);
}

TEST(ZVDisplayLink, StartStopAndRestart) {
    auto link = ZVDisplayLink::createWithRate(200);
    std::atomic<int> ticks{0};
    link->setOutputCallback([&](const ZVDisplayLinkTime& t) {
        EXPECT_GE(t.now, t.deadline);
        ++ticks;
        return ZVDisplayLink::kSuccess;
    });
    EXPECT_FALSE(link->isRunning());
    EXPECT_EQ(link->stop(), ZVDisplayLink::kSuccess);  // stopping a stopped link: nothing
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(link->start(), ZVDisplayLink::kSuccess);
        EXPECT_EQ(link->start(), ZVDisplayLink::kSuccess);  // one thread, not two
        EXPECT_TRUE(link->isRunning());
        ASSERT_TRUE(waitFor([&] { return ticks >= 5 * (run + 1); }));
        link->stop();
        EXPECT_FALSE(link->isRunning());
        // No tick after stop returned.
        const int after = ticks;
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(ticks.load(), after);
    }
}

TEST(ZVDisplayLink, HeldBackTickSkipsInsteadOfBursting) {
    auto link = ZVDisplayLink::createWithRate(100);
    std::vector<uint64_t> indices;  // written by the tick only, read after stop
    link->setOutputCallback([&](const ZVDisplayLinkTime& t) {
        indices.push_back(t.tick);
        if (indices.size() == 3) std::this_thread::sleep_for(100ms);  // a full queue
        return ZVDisplayLink::kSuccess;
    });
    link->start();
    std::this_thread::sleep_for(300ms);
    link->stop();
    ASSERT_GE(indices.size(), 5u);
    // 100 ms at 100 Hz is 10 periods: the next tick is at least that many boundaries on,
    // and every tick index is new.
    EXPECT_GE(indices[3] - indices[2], 10u);
    for (size_t i = 1; i < indices.size(); ++i) EXPECT_GT(indices[i], indices[i - 1]);
}

TEST(ZVDisplayLink, WeakTargetIsNotKeptAlive) {
    auto stage = std::make_shared<Stage>();
    stage->wire();
    auto link = stage->link;  // the link outlives its stage here
    link->start();
    ASSERT_TRUE(waitFor([&] { return stage->ticks >= 2; }));
    std::weak_ptr<Stage> weak = stage;
    stage.reset();  // the destructor stops the link on this thread, waiting for its tick
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(link->isRunning());
    link->start();  // ticks again, but there is nobody to call
    std::this_thread::sleep_for(30ms);
    link->stop();
}

TEST(ZVDisplayLink, StageDestroyedInsideItsOwnTick) {
    std::atomic<bool> destroyedOnTick{false};
    auto stage = std::make_shared<Stage>();
    stage->destroyedOnTick = &destroyedOnTick;
    stage->holdThird = true;
    stage->wire();
    std::weak_ptr<Stage> weak = stage;
    stage->link->start();
    ASSERT_TRUE(waitFor([&] { return stage->inThird.load(); }));
    // The tick holds the last strong reference once the host lets go: the stage, and with
    // it the link, are destroyed on the tick thread, which must not wait for itself.
    auto* released = &stage->released;
    stage.reset();
    released->store(true);  // the stage is alive until the tick returns
    ASSERT_TRUE(waitFor([&] { return weak.expired(); }));
    EXPECT_TRUE(destroyedOnTick.load());
}
