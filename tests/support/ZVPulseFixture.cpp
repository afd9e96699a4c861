#include "support/ZVPulseFixture.h"

#include "support/ZVPipeWireFixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace zvtest {

namespace {
ZVPulseFixture* gInstance = nullptr;
}  // namespace

ZVPulseFixture* ZVPulseFixture::instance() {
    return gInstance;
}

std::string ZVPulseFixture::pactl(const std::vector<std::string>& args, int* status) {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, status);
}

int ZVPulseFixture::indexOf(const std::string& name, bool input) {
    std::istringstream lines(pactl({"list", "short", input ? "sources" : "sinks"}));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int index;
        std::string n;
        if (fields >> index >> n && n == name) return index;
    }
    return -1;
}

bool ZVPulseFixture::isPipeWire() {
    const char* server = std::getenv("ZV_SOUND_SERVER");
    return server && std::string(server) == "pipewire";
}

pid_t ZVPulseFixture::launch(const std::vector<std::string>& argv, const std::string& log) {
    const std::string out = _run + "/" + log;
    return startProgram(argv, "", out, out);
}

void ZVPulseFixture::stallGraph(double seconds) {
    // startPipeWireServers starts the bus, then pipewire, then WirePlumber.
    const pid_t graph = isPipeWire() && _servers.size() > 1 ? _servers[1] : _pulse;
    ASSERT_GT(graph, 0);
    kill(graph, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    kill(graph, SIGCONT);
}

void ZVPulseFixture::startPipeWire() {
    const std::string failure = startPipeWireServers(_run + "/pipewire.log", _servers);
    ASSERT_TRUE(failure.empty()) << failure;
}

void ZVPulseFixture::startPulseServer(bool atLogin) {
    if (isPipeWire()) {
        _pulse = launch({"pipewire-pulse"}, "pipewire-pulse.log");
        return;
    }
    std::vector<std::string> argv = {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                     "--log-target=file:" + _run + "/pulse.log"};
    // Without -n it reads the user's default.pa, or the system's when there is none.
    if (!atLogin) argv.insert(argv.end(), {"-n", "-L", "module-native-protocol-unix"});
    _pulse = launch(argv, "pulse.out");
}

void ZVPulseFixture::makeDevices() {
    int status = -1;
    eventually(
        [&] {
            pactl({"info"}, &status);
            return status == 0;
        },
        10);
    ASSERT_EQ(status, 0) << "the sound server did not answer; see the logs in " << _run;
    // The same devices on both servers, made the way a user makes them.
    for (const std::vector<std::string>& module : std::vector<std::vector<std::string>>{
             {"module-null-sink", "sink_name=sys_out",
              "sink_properties=device.description=System_Output"},
             {"module-null-sink", "sink_name=mic_feed",
              "sink_properties=device.description=Mic_Feed"},
             {"module-remap-source", "master=mic_feed.monitor", "source_name=vmic",
              "source_properties=device.description=Virtual_Mic"}}) {
        std::vector<std::string> args = {"load-module"};
        args.insert(args.end(), module.begin(), module.end());
        pactl(args, &status);
        ASSERT_EQ(status, 0) << "the server refused " << module[0];
    }
    pactl({"set-default-sink", "sys_out"});
    pactl({"set-default-source", "vmic"});
    // PipeWire's session manager makes the choice the default a moment later.
    ASSERT_TRUE(eventually([&] {
        return pactl({"get-default-sink"}) == "sys_out\n" &&
               pactl({"get-default-source"}) == "vmic\n";
    })) << "the defaults did not take; see the logs in "
        << _run;
}

void ZVPulseFixture::SetUp() {
    gInstance = this;
    _root = std::make_unique<TempDir>();
    _run = _root->file("run");
    const std::string home = _root->file("home");
    mkdir(_run.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    // Everything this process and its children do with PulseAudio goes to this server:
    // libpulse, openal-soft, pactl and the players.
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", _run.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + _run + "/pulse/native").c_str(), 1);
    unsetenv("PULSE_SINK");
    unsetenv("PULSE_SOURCE");

    if (isPipeWire()) startPipeWire();
    if (::testing::Test::HasFatalFailure()) return;
    startPulseServer(false);
    makeDevices();
}

void ZVPulseFixture::restartServer() {
    endChild(_pulse);
    startPulseServer(true);
    makeDevices();
}

void ZVPulseFixture::TearDown() {
    if (_pulse > 0) endChild(_pulse);
    _pulse = -1;
    for (auto it = _servers.rbegin(); it != _servers.rend(); ++it) endChild(*it);
    _servers.clear();
    _root.reset();
    gInstance = nullptr;
}

}  // namespace zvtest
