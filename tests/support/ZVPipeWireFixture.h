#pragma once
// A PipeWire daemon of the test binary's own, as a GoogleTest global environment: a
// session bus, pipewire and WirePlumber (which links a stream to the node it asks for) in
// a fresh XDG_RUNTIME_DIR, so the default remote of every PipeWire client in this process
// is this daemon. Register it in the binary:
//   ::testing::AddGlobalTestEnvironment(new zvtest::ZVPipeWireFixture).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/ZVTestSupport.h"

namespace zvtest {

class ZVPipeWireFixture : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;

  private:
    std::unique_ptr<TempDir> _root;
    int _bus = -1, _daemon = -1, _sessionManager = -1;
};

}  // namespace zvtest
