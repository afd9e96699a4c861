#pragma once
// A PipeWire daemon of the test binary's own, as a GoogleTest global environment: a
// session bus, pipewire and WirePlumber (which links a stream to the node it asks for) in
// a fresh XDG_RUNTIME_DIR, so the default remote of every PipeWire client in this process
// is this daemon. Register it in the binary:
//   ::testing::AddGlobalTestEnvironment(new zvtest::ZVPipeWireFixture).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ZVTestSupport.h"

namespace zvtest {

// A private session bus's configuration: listening at `socket`, open to everyone in this
// process's tests, starting services from `serviceDir` only (none when empty), so that
// nothing of the machine's own (its desktop portal) ever comes on it.
std::string sessionBusConfig(const std::string& socket, const std::string& serviceDir = "");

// Starts a session bus (with no services to start), pipewire and WirePlumber in this process's
// XDG_RUNTIME_DIR, each waited for until it answers, all logging to `log`; their pids are added to
// `started` in start order. Empty, or which one did not start.
std::string startPipeWireServers(const std::string& log, std::vector<pid_t>& started);

class ZVPipeWireFixture : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;

  private:
    std::unique_ptr<TempDir> _root;
    std::vector<pid_t> _servers;  // in start order
};

}  // namespace zvtest
