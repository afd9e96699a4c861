// zv_wayland_desktop: runs one command on the tests' headless Wayland desktop (sway,
// PipeWire, the portal), for the benchmark and for trying Zorvan by hand, then stops it.
//   zv_wayland_desktop [--animate] [--size WxH] [--grant] [--] COMMAND [ARG...]
// The command sees the desktop's WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// XDG_RUNTIME_DIR and XDG_SESSION_TYPE; its exit status is the program's. With --grant the
// portal is asked first and "{fd}" and "{node}" in the command's words become the granted
// PipeWire connection (inherited) and stream node, for a reference client such as
// gst-launch-1.0 pipewiresrc.
#include <fcntl.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform/PipeWire/ZVScreenCastPortal.h"
#include "support/ZVWaylandFixture.h"

int main(int argc, char** argv) {
    bool animate = false, grant = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (!std::strcmp(argv[i], "--")) {
            ++i;
            break;
        }
        if (!std::strcmp(argv[i], "--animate"))
            animate = true;
        else if (!std::strcmp(argv[i], "--grant"))
            grant = true;
        else if (!std::strcmp(argv[i], "--size") && i + 1 < argc)
            setenv("ZV_WAYLAND_SIZE", argv[++i], 1);
        else
            break;
    }
    if (i >= argc) {
        std::fprintf(stderr,
                     "usage: zv_wayland_desktop [--animate] [--size WxH] [--grant] [--] "
                     "COMMAND...\n");
        return 2;
    }
    zvtest::WaylandEnvironment desktop;
    desktop.SetUp();
    if (!desktop.failure().empty()) return 1;
    if (animate && !desktop.setAnimating(true)) return 1;
    std::vector<std::string> command(argv + i, argv + argc);
    std::optional<ZVScreenCastGrant> granted;
    if (grant) {
        std::string error;
        if (!(granted = ZVScreenCastPortal::open({}, &error))) {
            std::fprintf(stderr, "zv_wayland_desktop: %s\n", error.c_str());
            return 1;
        }
        fcntl(granted->pipewireFd, F_SETFD, 0);  // the command inherits it
        for (auto& word : command)
            for (auto [key, value] : {std::pair<std::string, uint32_t>{"{fd}", granted->pipewireFd},
                                      {"{node}", granted->streams[0].nodeId}})
                if (size_t at = word.find(key); at != std::string::npos)
                    word.replace(at, key.size(), std::to_string(value));
    }
    const int pid = zvtest::startProgram(command, "/dev/stdin", "/dev/stdout", "/dev/stderr");
    int status = 0;
    waitpid(pid, &status, 0);
    granted.reset();
    desktop.TearDown();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
