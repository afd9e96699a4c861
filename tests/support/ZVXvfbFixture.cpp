#include "support/ZVXvfbFixture.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
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

namespace {
// Starts Xvfb with its log and display number in `dir`; its DISPLAY (":N") in *display,
// or empty (with a test failure) when it did not report one within 30 s.
pid_t startXvfb(const TempDir& dir, const char* geometry, std::string* display) {
    const std::string log = dir.file("xvfb.log"), displayFile = dir.file("display");
    pid_t pid = startProgram({"Xvfb", "-displayfd", "3", "-screen", "0", geometry, "+extension",
                              "RANDR", "-extension", "SECURITY", "-nolisten", "tcp", "-noreset"},
                             "", log, log, displayFile);
    // -displayfd writes the display number and a line feed once the server listens.
    std::string number;
    display->clear();
    if (!eventually(
            [&] { return (number = readText(displayFile)).find('\n') != std::string::npos; }, 30)) {
        ADD_FAILURE() << "Xvfb did not report its display; see " << log;
        return pid;
    }
    *display = ":" + number.substr(0, number.find('\n'));
    return pid;
}
}  // namespace

PrivateXvfb::PrivateXvfb() {
    _pid = startXvfb(_dir, "1920x1080x24", &_display);
}

void PrivateXvfb::kill() {
    if (_pid > 0) {
        ::kill(_pid, SIGKILL);
        waitpid(_pid, nullptr, 0);
    }
    _pid = -1;
}

void XvfbEnvironment::SetUp() {
    _dir = std::make_unique<TempDir>();
    const char* geometry = _layout == XvfbLayout::OneMonitor ? "1920x1080x24" : "3840x1080x24";
    std::string display;
    _pid = startXvfb(*_dir, geometry, &display);
    if (display.empty()) {
        TearDown();
        return;
    }
    setenv("DISPLAY", display.c_str(), 1);
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
