#include "support/ZVXvfbFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zvtest {

namespace {
XvfbEnvironment* gCurrent = nullptr;
}  // namespace

XvfbEnvironment* XvfbEnvironment::current() {
    return gCurrent;
}

::testing::Environment* addXvfbEnvironment(XvfbLayout layout) {
    auto* env = new XvfbEnvironment(layout);
    gCurrent = env;
    return ::testing::AddGlobalTestEnvironment(env);
}

int runProgram(const std::vector<std::string>& argv) {
    int status = -1;
    programOutput(argv, &status);
    return status;
}

void XvfbEnvironment::SetUp() {
    _dir = std::make_unique<TempDir>();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    const std::string geometry =
        std::to_string(rootWidth()) + "x" + std::to_string(rootHeight()) + "x24";
    const std::string log = _dir->file("xvfb.log");
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return;
    }
    if (pid == 0) {
        // The server goes when the test binary goes, even if it crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", geometry.c_str(), "+extension",
               "RANDR", "-extension", "SECURITY", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    _pid = pid;
    // -displayfd writes the display number and a line feed once the server listens.
    std::string number;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[32];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        ADD_FAILURE() << "Xvfb did not report its display; see " << log;
        TearDown();
        return;
    }
    number.resize(number.find('\n'));
    setenv("DISPLAY", (":" + number).c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    if (_layout != XvfbLayout::OneMonitor) {
        const char* right = _layout == XvfbLayout::TwoMonitors ? "1920/508x1080/286+1920+0"
                                                               : "1280/339x720/190+1920+100";
        int a = runProgram({"xrandr", "--setmonitor", "LEFT", "1920/508x1080/286+0+0", "screen"});
        int b = runProgram({"xrandr", "--setmonitor", "RIGHT", right, "none"});
        if (a != 0 || b != 0) ADD_FAILURE() << "xrandr --setmonitor failed";
    }
}

void XvfbEnvironment::TearDown() {
    if (_pid > 0) endChild(_pid);
    _pid = -1;
    _dir.reset();
}

}  // namespace zvtest
