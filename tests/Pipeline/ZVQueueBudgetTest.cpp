// The first registrations of a process, with memory statistics under the test's control.
#include <gtest/gtest.h>

#include "ZorvanInternal.h"

TEST(ZVQueueBudget, UnreadableMemoryLeavesTheBudgetUnsetUntilANumberAppears) {
    ZVVMStatistics stats{};
    ZVSetVMStatisticsSource([&] { return std::optional<ZVVMStatistics>(stats); }, 4096);

    // Statistics that read zero: no budget, each queue gets the floor.
    auto a = std::make_unique<ZVQueue>();
    EXPECT_EQ(ZVQueue::sharedLimit(), 0);
    EXPECT_EQ(a->limit(), 41943040);

    // The next registration tries again: half of free plus inactive memory, no floor.
    stats.free_count = 100000;
    stats.inactive_count = 28000;
    stats.speculative_count = 999999;  // not counted
    auto b = std::make_unique<ZVQueue>();
    const int64_t budget = int64_t{128000} * 4096 / 2;  // 262,144,000 bytes
    EXPECT_EQ(ZVQueue::sharedLimit(), budget);
    EXPECT_EQ(a->limit(), budget / 2);
    EXPECT_EQ(b->limit(), budget / 2);

    // Computed once: later memory changes do not move it.
    stats.free_count = 1;
    auto c = std::make_unique<ZVQueue>();
    EXPECT_EQ(ZVQueue::sharedLimit(), budget);
    ZVSetVMStatisticsSource(nullptr);
}
