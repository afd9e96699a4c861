// Key names following a real X server's keyboard: its keymap, a setxkbmap while it runs,
// and a group switch. One Xvfb for the whole binary, started and stopped here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
// xcb/xkb.h names a field "explicit", which C++ reserves.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Keys/SRKeyCodeTransformer.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "SRKeyTestSupport.h"

extern char** environ;

namespace {

std::string gDisplay;

pid_t spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int run(std::vector<std::string> args) {
    pid_t pid = spawn(std::move(args));
    if (pid < 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One Xvfb for the binary; its display number comes back through -displayfd.
class XvfbEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        _pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "640x480x24",
                      "-nolisten", "tcp", "-noreset"});
        close(fds[1]);
        ASSERT_GT(_pid, 0) << "could not start Xvfb";
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not say its display";
        gDisplay = ":" + number;
        setenv("DISPLAY", gDisplay.c_str(), 1);
    }
    void TearDown() override {
        if (_pid > 0) {
            kill(_pid, SIGTERM);
            waitpid(_pid, nullptr, 0);
        }
    }

  private:
    pid_t _pid = -1;
};

const auto* const gXvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

std::string nameOf(short code) {
    return SRStringForKeyCode(code).value_or("<nil>");
}

// The watcher delivers on its own thread; wait for what follows it.
template <typename Done>
bool waitUntil(Done done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool waitForName(short code, const std::string& expected) {
    return waitUntil([&] { return nameOf(code) == expected; });
}

void lockGroup(uint8_t group) {
    xcb_connection_t* c = xcb_connect(gDisplay.c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    xcb_request_check(
        c, xcb_xkb_latch_lock_state_checked(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0));
    xcb_disconnect(c);
}

TEST(SRKeyboardLayoutX11, FollowsTheServersKeymapAndGroup) {
    ASSERT_EQ(run({"setxkbmap", "-display", gDisplay, "us"}), 0);
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(SRKeyboardLayout::current()->description(), "X server");
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");
    auto transformer = SRKeyCodeTransformer::transformer();
    EXPECT_EQ(transformer->keyCodeForName("Z"), kVK_ANSI_Z);

    // A new keymap while the process runs.
    ASSERT_EQ(run({"setxkbmap", "-display", gDisplay, "de"}), 0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Z"));
    EXPECT_EQ(nameOf(kVK_ANSI_Grave), "^");
    // The reverse table is rebuilt when the change is announced, just after the swap.
    EXPECT_TRUE(waitUntil([&] { return transformer->keyCodeForName("Z") == kVK_ANSI_Y; }));

    // A group switch within one keymap.
    ASSERT_EQ(run({"setxkbmap", "-display", gDisplay, "us,de"}), 0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Y"));
    lockGroup(1);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Z"));
    EXPECT_EQ(SRKeyboardLayout::current()->group(), 1u);
    lockGroup(0);
    EXPECT_TRUE(waitForName(kVK_ANSI_Y, "Y"));
}

TEST(SRKeyboardLayoutX11, ASelectionOutranksTheServer) {
    ASSERT_EQ(run({"setxkbmap", "-display", gDisplay, "us"}), 0);
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");
    ASSERT_TRUE(SRKeyboardLayout::select("de"));
    // The server's next keymap arrives but does not replace the selection...
    ASSERT_EQ(run({"setxkbmap", "-display", gDisplay, "fr"}), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Z");
    // ... until the system is followed again.
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(nameOf(kVK_ANSI_A), "Q");  // French AZERTY
}

}  // namespace
