// The shared stage frame, through a small stage built the way every real stage is: it
// moves objects from its source to its destination on its worker.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Zorvan.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

constexpr std::string_view kWillStart = "PassStageWillStartNotification";
constexpr std::string_view kDidStart = "PassStageDidStartNotification";
constexpr std::string_view kDidStop = "PassStageDidStopNotification";

class PassStage;
struct PassDelegate {
    std::vector<std::string> calls;  // main thread only
    std::vector<bool> onMain;
    void record(const char* what) {
        calls.push_back(what);
        onMain.push_back(ZVIsMainThread());
    }
};

class PassStage : public ZVStage {
  public:
    static std::shared_ptr<PassStage> make() {
        auto s = std::shared_ptr<PassStage>(new PassStage);
        PassStage* raw = s.get();
        s->forwardToDelegate(kDidStart, [raw](const ZVNotification&) {
            if (raw->delegate) raw->delegate->record("didStart");
        });
        s->forwardToDelegate(kDidStop, [raw](const ZVNotification&) {
            if (raw->delegate) raw->delegate->record("didStop");
        });
        return s;
    }

    void start() {
        if (!worker.claimLaunch()) return;
        launches++;
        worker.launch(
            owner(), [this] { body(); }, [this] { post(kDidStop); }, [this] { worker.stop(); });
    }

    ZVWorker worker;  // stop, pause, finalize and the states are the worker's own

    PassDelegate* delegate = nullptr;  // main thread only
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
struct Observer {
    explicit Observer(const void* stage) {
        ZVNotificationCenter::defaultCenter().addObserver(this, {}, stage,
                                                          [this](const ZVNotification& n) {
                                                              std::lock_guard<std::mutex> g(lock);
                                                              names.push_back(n.name);
                                                              onMain.push_back(ZVIsMainThread());
                                                          });
    }
    ~Observer() { ZVNotificationCenter::defaultCenter().removeObserver(this); }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> g(lock);
        return names;
    }
    bool saw(std::string_view name) {
        for (auto& n : seen())
            if (n == name) return true;
        return false;
    }
    std::mutex lock;  // guards names, onMain
    std::vector<std::string> names;
    std::vector<bool> onMain;
};

bool waitStopped(const std::shared_ptr<PassStage>& s, Observer& o, double seconds = 10) {
    return runMainUntil([&] { return o.saw(kDidStop) && !s->worker.isLaunched(); }, seconds);
}

ZVObjectRef token(int seq) {
    return std::make_shared<Token>(seq, 1);
}

}  // namespace

TEST(ZVStage, UnwiredFinalizedStageStopsByItselfAndSaysSo) {
    auto s = PassStage::make();
    PassDelegate d;
    s->delegate = &d;
    Observer o(s.get());
    s->worker.finalize();
    s->start();
    // Observers are called on the worker; the delegate's hand-off to the main thread is
    // queued before later observers of the same post are called, so wait for both.
    ASSERT_TRUE(runMainUntil([&] {
        std::lock_guard<std::mutex> g(o.lock);
        return d.calls.size() == 2 && o.onMain.size() == 3 && !s->worker.isLaunched();
    }));
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

TEST(ZVStage, TwoQuickStartsLaunchOneWorkerThatPausesAndDrainsOnFinalize) {
    auto s = PassStage::make();
    ScriptedSource src;
    RecordingDestination dst;
    s->setDataSource(&src);
    s->setDataDestination(&dst);
    Observer o(s.get());
    std::thread other([&] { s->start(); });
    s->start();
    other.join();
    s->start();
    ASSERT_TRUE(runMainUntil([&] { return s->worker.isRunning(); }));
    EXPECT_TRUE(s->worker.pause(true));
    EXPECT_FALSE(s->worker.pause(true));  // no change: nothing to tell anyone
    EXPECT_TRUE(s->worker.isPaused());
    for (int i = 0; i < 50; ++i) src.push(token(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(dst.count(), 0u);  // paused: nothing moves
    s->worker.finalize();
    EXPECT_FALSE(s->worker.isPaused());
    ASSERT_TRUE(waitStopped(s, o));
    ASSERT_EQ(dst.count(), 50u);
    auto got = dst.objects();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(std::static_pointer_cast<Token>(got[i])->seq, i);
    EXPECT_EQ(s->launches.load(), 1);
}

TEST(ZVStage, StopReturnsAtOnceAndDidStopComesFromTheWorker) {
    auto s = PassStage::make();
    ScriptedSource src;
    RecordingDestination dst;
    s->setDataSource(&src);
    s->setDataDestination(&dst);
    for (int i = 0; i < 1000; ++i) src.push(token(i));
    s->workMicros = 2000;
    Observer o(s.get());
    s->start();
    ASSERT_TRUE(runMainUntil([&] { return dst.count() > 0; }));
    s->worker.stop();
    EXPECT_FALSE(o.saw(kDidStop));  // the worker ends at its next check, later
    ASSERT_TRUE(waitStopped(s, o));
    EXPECT_LT(dst.count(), 1000u);  // stop drops what is still queued
    EXPECT_GT(src.remaining(), 0u);
}

TEST(ZVStage, DelegateCallsArriveAfterTheHostLetGoOfTheStage) {
    PassDelegate d;
    std::weak_ptr<PassStage> watch;
    {
        auto s = PassStage::make();
        watch = s;
        s->delegate = &d;
        s->worker.finalize();
        s->start();
    }
    ASSERT_TRUE(runMainUntil([&] { return d.calls.size() == 2 && watch.expired(); }));
    EXPECT_EQ(d.calls.back(), "didStop");
}

TEST(ZVStage, AnExceptionInTheWorkerBecomesAnAlertAndAnOrderlyStop) {
    AlertCapture alerts;
    auto s = PassStage::make();
    ScriptedSource src;
    RecordingDestination dst;
    s->setDataSource(&src);
    s->setDataDestination(&dst);
    for (int i = 0; i < 5; ++i) src.push(token(i));
    s->throwAt = 2;
    Observer o(s.get());
    s->start();
    ASSERT_TRUE(waitStopped(s, o));
    EXPECT_EQ(dst.count(), 2u);
    ASSERT_EQ(alerts.alerts().size(), 1u);
    EXPECT_EQ(alerts.alerts()[0].first, "PassStageFailure");
    EXPECT_EQ(alerts.alerts()[0].second, "token refused");
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
    auto& center = ZVNotificationCenter::defaultCenter();
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int i = 0; i < 3; ++i)
        posters.emplace_back([&] {
            while (!stop) center.post("Busy", nullptr);
        });
    for (int i = 0; i < 300; ++i) {
        int id = 0;
        center.addObserver(&id, "Busy", nullptr, [&](const ZVNotification&) { calls++; });
        center.removeObserver(&id);
    }
    stop = true;
    for (auto& t : posters) t.join();
    int after = calls.load();
    center.post("Busy", nullptr);
    EXPECT_EQ(calls.load(), after);  // nothing left registered
}

TEST(ZVRunLoop, EventsRunInPostingOrderOnTheDrainingThread) {
    std::vector<int> order;
    std::thread t([&] {
        for (int i = 0; i < 100; ++i) ZVRunLoop::main().post([&order, i] { order.push_back(i); });
    });
    t.join();
    ASSERT_TRUE(runMainUntil([&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}
