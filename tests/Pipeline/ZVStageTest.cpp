// The shared stage frame, through a small stage built the way every real stage is: it
// moves objects from its source to its destination on its worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "ZorvanInternal.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

constexpr std::string_view kWillStart = "PassStageWillStartNotification";
constexpr std::string_view kDidStart = "PassStageDidStartNotification";
constexpr std::string_view kDidStop = "PassStageDidStopNotification";

// What one listener of a stage was told, and whether on the main thread. Any thread.
struct Recorder {
    std::mutex lock;  // guards calls, onMain
    std::vector<std::string> calls;
    std::vector<bool> onMain;
    void record(std::string what) {
        std::lock_guard<std::mutex> g(lock);
        calls.push_back(std::move(what));
        onMain.push_back(ZVIsMainThread());
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> g(lock);
        return calls;
    }
    bool saw(std::string_view name) { return std::ranges::count(seen(), name) > 0; }
};

class PassStage : public ZVStage {
  public:
    static std::shared_ptr<PassStage> make() {
        auto s = std::shared_ptr<PassStage>(new PassStage);
        PassStage* raw = s.get();
        for (auto named : {std::pair{kDidStart, "didStart"}, {kDidStop, "didStop"}}) {
            const char* call = named.second;  // a structured binding cannot be captured here
            s->forwardToDelegate(named.first, [raw, call](const ZVNotification&) {
                if (raw->delegate) raw->delegate->record(call);
            });
        }
        return s;
    }

    void start() {
        if (!worker.claimLaunch()) return;
        launches++;
        worker.launch(
            owner(), [this] { body(); }, [this] { post(kDidStop); }, [this] { worker.stop(); });
    }

    ZVWorker worker;  // stop, pause, finalize and the states are the worker's own

    Recorder* delegate = nullptr;  // set on the main thread
    std::atomic<int> launches{0};
    std::atomic<int> throwAt{-1};
    std::atomic<int> workMicros{0};

  private:
    void body() {
        post(kWillStart);
        // Slow preparations widen the window in which a second start could slip in.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        worker.running();
        post(kDidStart);
        worker.loop([this] {
            return worker.consume(source(), [this](ZVObjectRef o) {
                auto t = std::static_pointer_cast<Token>(o);
                if (t->seq == throwAt.load())
                    throw ZVException("PassStageFailure", "token refused");
                if (int us = workMicros.load())
                    std::this_thread::sleep_for(std::chrono::microseconds(us));
                destination().addObject(std::move(o));
            });
        });
    }
};

// Records notifications of one stage on the posting thread.
struct Observer : Recorder {
    explicit Observer(const void* stage) {
        ZVNotificationCenter::defaultCenter().addObserver(
            this, {}, stage, [this](const ZVNotification& n) { record(n.name); });
    }
    ~Observer() { ZVNotificationCenter::defaultCenter().removeObserver(this); }
};

bool waitStopped(const std::shared_ptr<PassStage>& s, Observer& o) {
    return runMainUntil([&] { return o.saw(kDidStop) && !s->worker.isLaunched(); });
}

// A stage between a scripted source and a recording destination, its notifications observed.
struct WiredStage : ::testing::Test {
    std::shared_ptr<PassStage> s = PassStage::make();
    ScriptedSource src;
    RecordingDestination dst;
    Observer o{s.get()};
    void SetUp() override {
        s->setDataSource(&src);
        s->setDataDestination(&dst);
    }
    void push(int count) {
        for (int i = 0; i < count; ++i) src.push(std::make_shared<Token>(i, 1));
    }
    bool stopped() { return waitStopped(s, o); }
};

}  // namespace

TEST(ZVStage, UnwiredFinalizedStageStopsByItselfAndSaysSo) {
    auto s = PassStage::make();
    Recorder d;
    s->delegate = &d;
    Observer o(s.get());
    s->worker.finalize();
    s->start();
    // Observers are called on the worker; the delegate's hand-off to the main thread is
    // queued before later observers of the same post are called, so wait for both.
    ASSERT_TRUE(runMainUntil(
        [&] { return d.seen().size() == 2 && o.seen().size() == 3 && !s->worker.isLaunched(); }));
    EXPECT_EQ(o.seen(), (std::vector<std::string>{std::string(kWillStart), std::string(kDidStart),
                                                  std::string(kDidStop)}));
    EXPECT_EQ(o.onMain, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(d.calls, (std::vector<std::string>{"didStart", "didStop"}));
    EXPECT_EQ(d.onMain, (std::vector<bool>{true, true}));
    s->delegate = nullptr;
    // The finalize flag outlives the run: a later run stops at its first empty read.
    EXPECT_TRUE(s->worker.isFinalizing());
    Observer again(s.get());
    s->start();
    ASSERT_TRUE(waitStopped(s, again));
    EXPECT_EQ(s->launches.load(), 2);
}

TEST_F(WiredStage, TwoQuickStartsLaunchOneWorkerThatPausesAndDrainsOnFinalize) {
    std::thread other([&] { s->start(); });
    s->start();
    other.join();
    s->start();
    ASSERT_TRUE(runMainUntil([&] { return s->worker.isRunning(); }));
    EXPECT_TRUE(s->worker.pause(true));
    EXPECT_FALSE(s->worker.pause(true));  // no change: nothing to tell anyone
    push(50);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(dst.count(), 0u);  // paused: nothing moves
    s->worker.finalize();
    ASSERT_TRUE(stopped());
    ASSERT_EQ(dst.count(), 50u);
    auto got = dst.objects();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(std::static_pointer_cast<Token>(got[i])->seq, i);
    EXPECT_EQ(s->launches.load(), 1);
}

TEST_F(WiredStage, StopReturnsAtOnceAndDidStopComesFromTheWorker) {
    push(1000);
    s->workMicros = 2000;
    s->start();
    ASSERT_TRUE(runMainUntil([&] { return dst.count() > 0; }));
    s->worker.stop();
    EXPECT_FALSE(o.saw(kDidStop));  // the worker ends at its next check, later
    ASSERT_TRUE(stopped());
    EXPECT_LT(dst.count(), 1000u);  // stop drops what is still queued
    EXPECT_GT(src.remaining(), 0u);
}

TEST_F(WiredStage, ASourceThatEndsStopsTheStageAfterItsLastObjectWithoutFinalize) {
    push(20);
    src.addEndOfStream();
    s->start();
    ASSERT_TRUE(stopped());
    EXPECT_EQ(dst.count(), 20u);
    EXPECT_TRUE(s->worker.reachedEnd());
    EXPECT_FALSE(s->worker.isFinalizing());
}

TEST(ZVStage, DelegateCallsArriveAfterTheHostLetGoOfTheStage) {
    Recorder d;
    std::weak_ptr<PassStage> watch;
    {
        auto s = PassStage::make();
        watch = s;
        s->delegate = &d;
        s->worker.finalize();
        s->start();
    }
    ASSERT_TRUE(runMainUntil([&] { return d.seen().size() == 2 && watch.expired(); }));
    EXPECT_EQ(d.seen().back(), "didStop");
}

TEST_F(WiredStage, AnExceptionInTheWorkerBecomesAnAlertAndAnOrderlyStop) {
    AlertCapture alerts;
    push(5);
    s->throwAt = 2;
    s->start();
    ASSERT_TRUE(stopped());
    EXPECT_EQ(dst.count(), 2u);
    EXPECT_EQ(
        alerts.alerts(),
        (std::vector<std::pair<std::string, std::string>>{{"PassStageFailure", "token refused"}}));
    EXPECT_FALSE(s->worker.isRunning());
}

// ZVSyncStart is measured through the sound and screen recorders' start offsets.

TEST(ZVNotificationCenter, RemovalWaitsForCallsInFlightAndObserversMayUseTheCenter) {
    auto& center = ZVNotificationCenter::defaultCenter();
    int token = 0;
    std::atomic<bool> inside{false}, release{false}, finished{false};
    center.addObserver(&token, "Slow", nullptr, [&](const ZVNotification&) {
        inside = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    });
    std::thread poster([&] { center.post("Slow", nullptr); });
    while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread remover([&] {
        center.removeObserver(&token);
        EXPECT_TRUE(finished.load());  // returned only after the call in flight ended
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release = true;
    poster.join();
    remover.join();

    // An observer may remove itself and post from inside its callback.
    int self = 0, other = 0;
    int otherCalls = 0, selfCalls = 0;
    center.addObserver(&other, "Second", nullptr, [&](const ZVNotification&) { otherCalls++; });
    center.addObserver(&self, "First", nullptr, [&](const ZVNotification& n) {
        selfCalls++;
        center.removeObserver(&self);
        center.post("Second", n.object);
    });
    center.post("First", nullptr);
    center.post("First", nullptr);
    EXPECT_EQ(selfCalls, 1);
    EXPECT_EQ(otherCalls, 1);
    center.removeObserver(&other);
}

TEST(ZVNotificationCenter, ConcurrentPostingAndRegistrationIsSafe) {
    // What removal leaves registered is seen above; here, the registry under ThreadSanitizer.
    auto& center = ZVNotificationCenter::defaultCenter();
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) center.post("Busy", nullptr);
    });
    for (int i = 0; i < 300; ++i) {
        int id = 0;
        center.addObserver(&id, "Busy", nullptr, [](const ZVNotification&) {});
        center.removeObserver(&id);
    }
    stop = true;
    poster.join();
}
