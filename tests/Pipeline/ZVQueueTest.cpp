#include <gtest/gtest.h>

#include <thread>

#include "ZorvanInternal.h"
#include "support/ZVStageHarness.h"

using zvtest::Token;

namespace {
ZVObjectRef token(int seq, int64_t size = 1) {
    return std::make_shared<Token>(seq, size);
}
int seqOf(const ZVObjectRef& o) {
    return std::static_pointer_cast<Token>(o)->seq;
}

// Every test starts from the same known budget.
class ZVQueueTest : public ::testing::Test {
  protected:
    void SetUp() override { ZVQueue::setSharedLimit(0x6400000); }
};
}  // namespace

TEST_F(ZVQueueTest, SharesOfTheBudgetFollowQueuesComingAndGoing) {
    auto a = std::make_unique<ZVQueue>();
    auto b = std::make_unique<ZVQueue>();
    // The worked example: two queues share 100 MiB equally...
    EXPECT_EQ(a->limit(), 52428800);
    EXPECT_EQ(b->limit(), 52428800);
    // ...three would get 34,952,533 each, below the floor, so each gets the floor.
    auto c = std::make_unique<ZVQueue>();
    for (auto* q : {a.get(), b.get(), c.get()}) EXPECT_EQ(q->limit(), 41943040);
    c.reset();
    // A queue of a fixed limit takes no share, and no recount changes its limit.
    ZVQueue fixed(1000);
    EXPECT_EQ(a->limit(), 52428800);
    ZVQueue::setSharedLimit(0x6400000);
    EXPECT_EQ(fixed.limit(), 1000);
    b.reset();
    EXPECT_EQ(a->limit(), 0x6400000);  // destroying the others gives the share back
}

TEST_F(ZVQueueTest, FloorsOfLimitsAndSharedLimit) {
    ZVQueue q;
    struct {
        int64_t given, stored;
    } cases[] = {{0, 41943040},        {-5, 41943040},        {41943040, 41943040},
                 {41943041, 41943041}, {kZVQueueNoLimit, -1}, {1LL << 40, 1LL << 40}};
    for (auto& c : cases) {
        q.setLimit(c.given);
        EXPECT_EQ(q.limit(), c.stored) << c.given;
    }

    ZVQueue::setSharedLimit(0);
    EXPECT_EQ(ZVQueue::sharedLimit(), 104857600);
    ZVQueue::setSharedLimit(kZVQueueNoLimit);
    EXPECT_EQ(q.limit(), kZVQueueNoLimit);  // the recount reaches every queue
    q.addObject(token(1, 1LL << 40));
    EXPECT_TRUE(q.canAcceptObject());
}

TEST_F(ZVQueueTest, AcceptsStrictlyBelowItsLimit) {
    ZVQueue q;
    q.setLimit(41943041);
    EXPECT_TRUE(q.canAcceptObject());  // empty accepts at any limit
    q.addObject(token(1, 41943040));
    EXPECT_TRUE(q.canAcceptObject());  // one byte below
    q.addObject(token(2, 1));
    EXPECT_FALSE(q.canAcceptObject());  // exactly the limit refuses
    q.nextObject();
    q.nextObject();
    EXPECT_TRUE(q.canAcceptObject());
    EXPECT_EQ(q.byteCount(), 0);

    // The running total stays exact through flush as well.
    q.addObject(token(3, 41943041));
    EXPECT_FALSE(q.canAcceptObject());
    q.flush();
    EXPECT_TRUE(q.canAcceptObject());
    EXPECT_EQ(q.limit(), 41943041);  // flush leaves the limit alone
}

TEST_F(ZVQueueTest, KeepsOrderHandsObjectsOverAndReleasesTheRest) {
    std::weak_ptr<ZVQueueObject> watch, held;
    ZVObjectRef kept;
    {
        ZVQueue q;
        for (int i = 0; i < 5; ++i) q.addObject(token(i));
        EXPECT_THROW(q.addObject(nullptr), ZVException);  // its text: ZVPipelineMessagesTest
        EXPECT_EQ(q.count(), 5);                          // nil leaves the queue as it was
        for (int i = 0; i < 3; ++i) EXPECT_EQ(seqOf(q.nextObject()), i);
        kept = q.nextObject();
        watch = kept;
        EXPECT_TRUE(q.hasObjects());
        q.flush();
        EXPECT_FALSE(q.hasObjects());
        EXPECT_EQ(q.nextObject(), nullptr);  // never waits
        auto o = token(9);
        held = o;
        q.addObject(std::move(o));
    }
    EXPECT_TRUE(held.expired());  // destruction releases what the queue still held
    // The caller's reference outlives the queue.
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(seqOf(kept), 3);
}

// Objects passing between two threads are exercised by every chain of stages (the session,
// audio and capture-file tests, under ThreadSanitizer in the sanitizer build); here, queues
// made and dropped on many threads at once.
TEST_F(ZVQueueTest, RegistrationFromManyThreadsKeepsTheRegistryWhole) {
    ZVQueue::setSharedLimit(int64_t{1} << 36);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                ZVQueue q;
                q.addObject(token(i));
                ASSERT_GE(q.limit(), 41943040);
            }
        });
    for (auto& t : threads) t.join();
    ZVQueue alone;
    EXPECT_EQ(alone.limit(), int64_t{1} << 36);  // every temporary queue unregistered
}

TEST_F(ZVQueueTest, TheEndMarkComesAfterEveryObjectBeforeItAndOnlyThen) {
    ZVQueue q(kZVQueueNoLimit);
    std::thread producer([&] {
        for (int i = 0; i < 200; ++i) q.addObject(token(i));
        q.addEndOfStream();
    });
    int next = 0;
    for (;;) {
        ZVPopped p = q.popObject(std::chrono::seconds(5));
        if (p.ended) break;
        ASSERT_TRUE(p.object) << "timed out after " << next;
        EXPECT_EQ(seqOf(p.object), next++);
    }
    producer.join();
    EXPECT_EQ(next, 200);
    EXPECT_EQ(q.count(), 0);
    // The mark is taken once; a pop then waits its timeout and gives nothing.
    ZVPopped after = q.popObject(std::chrono::milliseconds(5));
    EXPECT_FALSE(after.object || after.ended);
}

TEST_F(ZVQueueTest, FlushingWakesABlockedProducerAndABlockedConsumerAtOnce) {
    using namespace std::chrono;
    ZVQueue full(10), empty(10);
    full.addObject(token(1, 10));  // at its limit: a push waits
    std::atomic<int64_t> producerWoke{0}, consumerWoke{0};
    std::atomic<bool> pushed{true}, popped{true};
    auto nanosNow = [] { return steady_clock::now().time_since_epoch().count(); };
    std::thread producer([&] {
        pushed = full.pushObject(token(2), kZVWaitForever);
        producerWoke = nanosNow();
    });
    std::thread consumer([&] {
        ZVPopped p = empty.popObject(kZVWaitForever);
        popped = p.object || p.ended;
        consumerWoke = nanosNow();
    });
    std::this_thread::sleep_for(milliseconds(100));  // both are waiting by now
    EXPECT_EQ(producerWoke.load() + consumerWoke.load(), 0);
    const int64_t flushed = nanosNow();
    full.setFlushing(true);
    empty.setFlushing(true);
    producer.join();
    consumer.join();
    EXPECT_FALSE(pushed.load());
    EXPECT_FALSE(popped.load());
    // About a millisecond on an idle machine; well under 50 ms on a busy one.
    EXPECT_LT(producerWoke - flushed, 50'000'000);
    EXPECT_LT(consumerWoke - flushed, 50'000'000);
    EXPECT_EQ(full.count(), 0);
    full.addObject(token(3));  // dropped while flushing
    EXPECT_EQ(full.count(), 0);
    full.setFlushing(false);
    EXPECT_TRUE(full.pushObject(token(4), milliseconds(0)));
    EXPECT_EQ(full.count(), 1);
}
