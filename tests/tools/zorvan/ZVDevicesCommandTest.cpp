// `zorvan devices` as a user runs it: the inputs and outputs of a private PulseAudio
// server, by their descriptions, the default first.
#include <gtest/gtest.h>

#include "support/ZVPulseFixture.h"
#include "support/ZVZorvanProcess.h"

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);
}  // namespace

TEST(ZorvanDevicesCommand, ListsWhatTheRecorderSees) {
    int status = -1;
    std::string inputs = zvtest::ZVPulseFixture::run({zvtest::zorvan(), "devices"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(inputs.substr(0, inputs.find('\n')), "Virtual_Mic");
    EXPECT_NE(inputs.find("\nMonitor of System_Output\n"), std::string::npos);
    std::string outputs =
        zvtest::ZVPulseFixture::run({zvtest::zorvan(), "devices", "--output"}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(outputs.substr(0, outputs.find('\n')), "System_Output");
}
