#pragma once
// A private X server for one test binary: Xvfb on a free display number, with one monitor
// or two side by side, killed by process id when the binary ends. Register it once per
// binary:
//
//   ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::TwoMonitors);
//
// SetUp exports DISPLAY for everything in the process (and removes the Wayland variables,
// which would make the library refuse the display).
#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "support/ZVTestSupport.h"

namespace zvtest {

enum class XvfbLayout {
    OneMonitor,   // 1920x1080, the server's own monitor "screen"
    TwoMonitors,  // 3840x1080 root: LEFT 1920x1080+0+0 (primary), RIGHT 1920x1080+1920+0
    // 3840x1080 root: LEFT 1920x1080+0+0 (primary), RIGHT 1280x720+1920+100, so the right
    // one starts at desktop y = 260 and parts of the root lie on no monitor.
    OffsetMonitors,
};

class XvfbEnvironment : public ::testing::Environment {
  public:
    explicit XvfbEnvironment(XvfbLayout layout) : _layout(layout) {}
    void SetUp() override;
    void TearDown() override;

    // The environment of this binary; nullptr before registration. Main thread.
    static XvfbEnvironment* current();

    bool isRunning() const { return _pid > 0; }

  private:
    XvfbLayout _layout;
    pid_t _pid = -1;
    std::unique_ptr<TempDir> _dir;
};

// An X server of one test's own, for a test that ends it (the binary's server is shared):
// one 1920x1080 monitor, killed by process id when it goes unless kill() ended it first.
class PrivateXvfb {
  public:
    PrivateXvfb();
    ~PrivateXvfb() { kill(); }
    // Its DISPLAY (":N"); empty when it did not start.
    const std::string& display() const { return _display; }
    // Ends the server at once (SIGKILL), as a crash would, and waits for it.
    void kill();

  private:
    TempDir _dir;
    pid_t _pid = -1;
    std::string _display;
};

// Runs a program with arguments (no shell) and waits; its exit status, or -1. Any thread.
int runProgram(const std::vector<std::string>& argv);

// Registers the environment; `layout` as above.
::testing::Environment* addXvfbEnvironment(XvfbLayout layout);

}  // namespace zvtest

#define ZV_XVFB_ENVIRONMENT(layout)                                            \
    static ::testing::Environment* const zvXvfbEnvironment_ [[maybe_unused]] = \
        ::zvtest::addXvfbEnvironment(layout)

// Skips the test when the fixture's server did not start (the reason is already printed).
#define ZV_REQUIRE_XVFB()                                       \
    do {                                                        \
        if (!::zvtest::XvfbEnvironment::current() ||            \
            !::zvtest::XvfbEnvironment::current()->isRunning()) \
            GTEST_FAIL() << "the test X server did not start";  \
    } while (0)
