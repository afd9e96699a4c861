// Every name and message of the stage frame, the queue and the system helpers that hosts
// or users match on. Spellings such as "que" and "Startp" are the system's own and stay.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

TEST(PipelineMessages, QueueExceptionAndSystemHelperTexts) {
    ZVQueue q;
    try {
        q.addObject(nullptr);
        FAIL();
    } catch (const ZVException& e) {
        EXPECT_EQ(e.name(), "-[ZVQueue addObject:]");
        EXPECT_EQ(e.reason(), "Can't add nil object to que");
    }

    struct Case {
        std::function<void()> act;
        std::string expected;
    };
    const Case cases[] = {
        {[] {
             ZVSetVMStatisticsSource([] { return std::optional<ZVVMStatistics>(); });
             get_vm_stat();
             ZVSetVMStatisticsSource(nullptr);
         },
         "Can't fetch vm statistics"},
        {[] {
             int fds[2];
             ASSERT_EQ(pipe(fds), 0);
             EXPECT_EQ(fnocache(fds[0]), -1);  // a pipe takes no caching advice
             close(fds[0]);
             close(fds[1]);
         },
         "fcntl() failed with error: 29"},
        {[] {
             ZVVMStatistics s{};
             s.free_count = 1000;
             s.active_count = 2000;
             s.inactive_count = 512;
             s.wire_count = 256;
             s.speculative_count = 70000;  // not part of the total
             s.purgeable_count = 70000;
             ZVSetVMStatisticsSource([s] { return std::optional<ZVVMStatistics>(s); }, 4096);
             showMemInfo("unit test");
             ZVSetVMStatisticsSource(nullptr);
         },
         "\n*** System Memory Information ( unit test ) ***\n\n"
         "memory page size: 4096 bytes\n"
         "     free memory: 3 Mb\n"
         " inactive memory: 2 Mb\n"
         "    wired memory: 1 Mb\n"
         "    total memory: 14 Mb\n\n"},
    };
    for (auto& c : cases) {
        zvtest::StderrCapture err;
        c.act();
        EXPECT_EQ(err.text(), c.expected);
    }
}
