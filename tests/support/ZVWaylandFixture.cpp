#include "support/ZVWaylandFixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "support/ZVPipeWireFixture.h"

namespace zvtest {

namespace {
WaylandEnvironment* gCurrent = nullptr;
constexpr double kStartSeconds = 30;  // a busy machine starts the desktop slowly
constexpr const char* kOutput = "HEADLESS-1";

bool programSays(const std::vector<std::string>& argv, const std::string& text) {
    int status = -1;
    const std::string out = programOutput(argv, &status);
    return status == 0 && out.find(text) != std::string::npos;
}

bool busHas(const std::string& name) {
    return programSays(
        {"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name},
        "boolean true");
}
}  // namespace

WaylandEnvironment* WaylandEnvironment::current() {
    return gCurrent;
}

::testing::Environment* addWaylandEnvironment() {
    gCurrent = new WaylandEnvironment;
    return ::testing::AddGlobalTestEnvironment(gCurrent);
}

std::array<uint8_t, 3> WaylandEnvironment::pattern(int x, int y) {
    // Sixteen bars (eight across, two down), each its own colour, so that an offset crop
    // or a mirrored picture shows.
    const int i = x / 160 + 8 * (y / 360);
    return {uint8_t(30 + 13 * i), uint8_t(200 - 11 * i), uint8_t(i % 2 ? 220 : 60)};
}

pid_t WaylandEnvironment::launch(const std::string& name, const std::vector<std::string>& argv) {
    const std::string log = _dir->file(name + ".log");
    const pid_t pid = startProgram(argv, "", log, log);
    _processes.push_back({name, pid});
    return pid;
}

bool WaylandEnvironment::waitFor(const std::string& name, const std::string& what,
                                 const std::function<bool()>& ready) {
    pid_t pid = -1;
    for (auto& p : _processes)
        if (p.name == name) pid = p.pid;
    bool died = false;
    const bool ok = eventually(
        [&] {
            if (ready()) return true;
            died = pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid;
            return died;
        },
        kStartSeconds);
    if (ok && !died) return true;
    _failure = name + (died ? " ended" : " did not start") + " (waiting for " + what + "); see " +
               _dir->file(name + ".log") + ":\n" +
               readText(_dir->file(name + ".log")).substr(0, 2000);
    return false;
}

bool WaylandEnvironment::start() {
    for (const char* program :
         {"sway", "pipewire", "wireplumber", "dbus-daemon", "swaybg", "weston-presentation-shm"})
        if (programOutput({"sh", "-c", std::string("command -v ") + program}).empty()) {
            _failure = std::string(program) + " is not installed (scripts/install-deps.sh)";
            return false;
        }
    if (access(ZV_XDPW_SHIM, R_OK) != 0 || access(ZV_VPOINTER, X_OK) != 0 ||
        access("/usr/libexec/xdg-desktop-portal-wlr", X_OK) != 0) {
        _failure = "xdg-desktop-portal-wlr or the test build's shim and pointer are missing";
        return false;
    }
    const std::string runtime = _dir->file("runtime"), state = _dir->file("state");
    mkdir(runtime.c_str(), 0700);
    mkdir(state.c_str(), 0700);
    mkdir(_dir->file("services").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("XDG_CONFIG_HOME", _dir->file("config").c_str(), 1);
    setenv("XDG_CURRENT_DESKTOP", "sway", 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime + "/bus").c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "PIPEWIRE_REMOTE"})
        unsetenv(name);

    // The private bus activates the permission store only: no document portal (it would
    // mount FUSE in the runtime folder) and no portal backend without the shim.
    const std::string store =
        "/usr/share/dbus-1/services/org.freedesktop.impl.portal.PermissionStore.service";
    writeText(_dir->file("services/store.service"), readText(store));
    writeText(_dir->file("dbus.conf"), sessionBusConfig(runtime + "/bus", _dir->file("services")));
    launch("dbus", {"dbus-daemon", "--nofork", "--config-file=" + _dir->file("dbus.conf")});
    if (!waitFor("dbus", "the session bus", [] { return busHas("org.freedesktop.DBus"); }))
        return false;

    // The background: the known pattern, drawn by swaybg below every window.
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 4, 0xff);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            auto [r, g, b] = pattern(x, y);
            uint8_t* p = &pixels[(size_t(y) * kWidth + x) * 4];
            p[0] = b, p[1] = g, p[2] = r;
        }
    ZVImage::create(kWidth, kHeight, ZVImage::Format::BGRX, pixels.data(), size_t(kWidth) * 4)
        ->writePNG(_dir->file("pattern.png"));
    const auto& a = kAnimation;
    // The benchmark asks for another size; the pattern is then stretched to it.
    const char* size = std::getenv("ZV_WAYLAND_SIZE");
    writeText(
        _dir->file("sway.conf"),
        "xwayland disable\noutput " + std::string(kOutput) + " mode " +
            (size ? std::string(size) : std::to_string(kWidth) + "x" + std::to_string(kHeight)) +
            "@60Hz position 0 0\ndefault_border none\ndefault_floating_border none\n"
            "focus_follows_mouse no\nfor_window [title=\"presentation-shm\"] floating "
            "enable, resize set " +
            std::to_string(a[2]) + " " + std::to_string(a[3]) + ", move position " +
            std::to_string(a[0]) + " " + std::to_string(a[1]) + "\n");
    // sway refuses to run as root: in a user namespace it is user 1000, which is root
    // outside, so the runtime folder stays its own.
    std::vector<std::string> sway = {"env", "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                                     "WLR_RENDERER=pixman", "WLR_HEADLESS_OUTPUTS=1"};
    if (geteuid() == 0) {
        if (programOutput({"unshare", "--user", "--map-user=1000", "--map-group=1000", "echo",
                           "ok"}) != "ok\n") {
            _failure = "sway refuses to run as root and no user namespace can be made";
            return false;
        }
        sway.insert(sway.end(), {"unshare", "--user", "--map-user=1000", "--map-group=1000"});
    }
    sway.insert(sway.end(), {"sway", "-c", _dir->file("sway.conf")});
    launch("sway", sway);
    std::string socket;
    if (!waitFor("sway", "its output", [&] {
            socket = programOutput({"sh", "-c", "ls " + runtime + "/sway-ipc.*.sock"});
            if (socket.empty() || access((runtime + "/wayland-1").c_str(), F_OK) != 0) return false;
            socket.pop_back();
            return programSays({"swaymsg", "-s", socket, "-t", "get_outputs"}, kOutput);
        }))
        return false;
    setenv("SWAYSOCK", socket.c_str(), 1);
    setenv("WAYLAND_DISPLAY", "wayland-1", 1);

    launch("pipewire", {"pipewire"});
    if (!waitFor("pipewire", "its server", [] {
            return programSays({"pw-cli", "info", "0"}, "id");
        }))
        return false;
    launch("wireplumber", {"wireplumber"});
    if (!waitFor("wireplumber", "its client", [] {
            return programSays({"pw-cli", "ls", "Client"}, "WirePlumber");
        }))
        return false;

    // The dialog: a command that counts its showings and answers what the test set.
    const std::string chooser = _dir->file("chooser.sh");
    writeText(_dir->file("answer"), std::string(kOutput) + "\n");
    writeText(chooser, "#!/bin/sh\necho shown >> '" + _dir->file("dialogs") + "'\ncat '" +
                           _dir->file("answer") + "'\n");
    chmod(chooser.c_str(), 0755);
    mkdir(_dir->file("config").c_str(), 0700);
    writeText(_dir->file("xdpw.conf"),
              "[screencast]\nchooser_type=simple\nchooser_cmd=" + chooser + "\nmax_fps=60\n");
    // At its default level it logs every buffer it waits for, hundreds a second.
    launch("xdpw",
           {"env", std::string("LD_PRELOAD=") + ZV_XDPW_SHIM, "/usr/libexec/xdg-desktop-portal-wlr",
            "-l", "ERROR", "-c", _dir->file("xdpw.conf")});
    if (!waitFor("xdpw", "its bus name",
                 [] { return busHas("org.freedesktop.impl.portal.desktop.wlr"); }))
        return false;
    launch("portal", {"/usr/libexec/xdg-desktop-portal"});
    if (!waitFor("portal", "the ScreenCast interface", [] {
            return programSays(
                {"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.portal.Desktop",
                 "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties.Get",
                 "string:org.freedesktop.portal.ScreenCast", "string:AvailableSourceTypes"},
                "uint32");
        }))
        return false;

    // The pointer rests inside the animation's window, away from the pattern the tests read.
    const int px = a[0] + a[2] / 2, py = a[1] + a[3] / 2;
    launch("vpointer", {ZV_VPOINTER, std::to_string(px), std::to_string(py), std::to_string(kWidth),
                        std::to_string(kHeight)});
    if (!waitFor("vpointer", "a pointer on the seat", [] {
            return programSays({"swaymsg", "-t", "get_inputs"}, "\"pointer\"");
        }))
        return false;
    launch("swaybg", {"swaybg", "-o", kOutput, "-i", _dir->file("pattern.png"), "-m", "stretch"});
    if (!waitFor("swaybg", "the background", [] {
            return programSays({"swaymsg", "-t", "get_tree"}, "\"name\"");
        }))
        return false;
    _failure.clear();
    return true;
}

void WaylandEnvironment::SetUp() {
    _dir = std::make_unique<TempDir>();
    if (!start()) {
        std::fprintf(stderr, "headless Wayland desktop: %s\n", _failure.c_str());
        const std::string failure = _failure;
        TearDown();
        _failure = failure;
    }
}

void WaylandEnvironment::end(const std::string& name, int signal) {
    for (auto& p : _processes)
        if (p.name == name && p.pid > 0) {
            if (signal == SIGKILL) {
                kill(p.pid, SIGKILL);
                waitpid(p.pid, nullptr, 0);
            } else {
                endChild(p.pid);
            }
            p.pid = -1;
        }
}

void WaylandEnvironment::TearDown() {
    for (auto p = _processes.rbegin(); p != _processes.rend(); ++p) end(p->name, SIGTERM);
    _processes.clear();
    _failure = "stopped";
    _dir.reset();
}

int WaylandEnvironment::dialogCount() const {
    const std::string shown = readText(_dir->file("dialogs"));
    return int(std::count(shown.begin(), shown.end(), '\n'));
}

void WaylandEnvironment::setRefusing(bool refuse) {
    writeText(_dir->file("answer"), refuse ? "" : std::string(kOutput) + "\n");
}

bool WaylandEnvironment::setAnimating(bool animate) {
    end("animation", SIGTERM);
    if (!animate) return true;
    launch("animation", {"weston-presentation-shm"});
    return waitFor("animation", "its window", [] {
        return programSays({"swaymsg", "-t", "get_tree"}, "presentation-shm");
    });
}

void WaylandEnvironment::killCompositor() {
    end("sway", SIGKILL);
}

void WaylandEnvironment::killPipeWire() {
    end("pipewire", SIGKILL);
}

}  // namespace zvtest
