#pragma once
// A headless Wayland desktop for one test binary, as a user's sway session has it: sway
// (headless backend, pixman renderer), PipeWire and WirePlumber, xdg-desktop-portal and
// xdg-desktop-portal-wlr, all on a private session bus and runtime folder, stopped by
// process id when the binary ends. Register it once per binary:
//
//   ZV_WAYLAND_ENVIRONMENT();
//
// SetUp exports the session's variables (WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// XDG_RUNTIME_DIR, XDG_SESSION_TYPE, a fresh XDG_STATE_HOME) for everything the process
// starts, and removes DISPLAY. The output is 1280x720 at 60 Hz and shows a known pattern
// (pattern()); the portal's sharing dialog is a command of the fixture's own, which counts
// how often it was shown and can be made to refuse.
//
// Debian 12 needs three workarounds, built beside the tests: sway refuses to run as root
// (it runs in a user namespace), xdg-desktop-portal-wlr 0.7.0 starts no stream without
// DMA-BUF (a preloaded shim supplies the format event it waits for), and sway draws no
// cursor while its seat has no pointer (a virtual pointer client makes one).
#include <gtest/gtest.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ZVTestSupport.h"

namespace zvtest {

class WaylandEnvironment : public ::testing::Environment {
  public:
    static constexpr int kWidth = 1280, kHeight = 720;
    // Where the animated client's window sits (x, y, width, height, output pixels).
    static constexpr int kAnimation[4] = {960, 480, 320, 240};

    void SetUp() override;
    void TearDown() override;

    // The environment of this binary; nullptr before registration. Main thread.
    static WaylandEnvironment* current();
    // Empty when the desktop runs; otherwise why it could not start.
    const std::string& failure() const { return _failure; }

    // The colour (red, green, blue) the background shows at output pixel (x, y).
    static std::array<uint8_t, 3> pattern(int x, int y);

    // How often the sharing dialog was shown since the desktop started. Any thread.
    int dialogCount() const;
    // Makes the dialog refuse (as a user who closes it) or choose the output. Main thread.
    void setRefusing(bool refuse);
    // Starts or ends the animated client (a 60 Hz animation in its window). Main thread.
    bool setAnimating(bool animate);
    // Ends the compositor at once (SIGKILL), as a crash would. Main thread.
    void killCompositor();
    // Ends the PipeWire server (SIGKILL); the portal then has no stream to give. Main thread.
    void killPipeWire();

  private:
    struct Process {
        std::string name;
        pid_t pid = -1;
    };
    bool start();
    pid_t launch(const std::string& name, const std::vector<std::string>& argv);
    bool waitFor(const std::string& name, const std::string& what,
                 const std::function<bool()>& ready);
    void end(const std::string& name, int signal);

    std::unique_ptr<TempDir> _dir;
    std::vector<Process> _processes;  // in start order
    std::string _failure = "not started";
};

// Registers the environment.
::testing::Environment* addWaylandEnvironment();

}  // namespace zvtest

#define ZV_WAYLAND_ENVIRONMENT()                                                  \
    static ::testing::Environment* const zvWaylandEnvironment_ [[maybe_unused]] = \
        ::zvtest::addWaylandEnvironment()

// Skips the test, with the reason, where the headless desktop cannot start (no sway, no
// user namespaces); the desktop packages are installed by scripts/install-deps.sh.
#define ZV_REQUIRE_WAYLAND()                                                         \
    do {                                                                             \
        auto* zvDesktop_ = ::zvtest::WaylandEnvironment::current();                  \
        if (!zvDesktop_ || !zvDesktop_->failure().empty())                           \
            GTEST_SKIP() << "no headless Wayland desktop: "                          \
                         << (zvDesktop_ ? zvDesktop_->failure() : "not registered"); \
    } while (0)
