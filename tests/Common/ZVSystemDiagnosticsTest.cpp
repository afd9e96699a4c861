#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <fstream>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

TEST(ZVSystemDiagnostics, ProcessLookupMatchesWholeShortNamesOnly) {
    std::string own;
    std::getline(std::ifstream("/proc/self/comm"), own);
    ASSERT_FALSE(own.empty());
    EXPECT_TRUE(isBSDProcessExists(own));
    EXPECT_FALSE(isBSDProcessExists(own.substr(0, own.size() - 1)));  // no prefix matches
    EXPECT_FALSE(isBSDProcessExists(""));

    // The kernel keeps 15 bytes of a name: a 16-character name never matches, even for a
    // process that was given exactly that name.
    char saved[17] = {};
    prctl(PR_GET_NAME, saved);
    prctl(PR_SET_NAME, "zvsixteenchars16");
    EXPECT_TRUE(isBSDProcessExists("zvsixteenchars1"));
    EXPECT_FALSE(isBSDProcessExists("zvsixteenchars16"));
    prctl(PR_SET_NAME, saved);
}

TEST(ZVSystemDiagnostics, StatisticsFromTheKernelAreConsistent) {
    ZVVMStatistics s = get_vm_stat();
    EXPECT_GT(s.free_count, 0u);
    EXPECT_GT(get_vm_page_size(), 0u);
    EXPECT_GE(get_vm_total_memory(), get_vm_free_memory());
    // The report of given statistics is in ZVPipelineMessagesTest.
}

TEST(ZVSystemDiagnostics, NoCacheHintOnARegularFile) {
    zvtest::TempDir dir;
    int fd = open(dir.file("f").c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fnocache(fd), 0);
    close(fd);
    // The cache dropper runs under every capture-file and WAV writer of the Storage and
    // Audio tests.
}
