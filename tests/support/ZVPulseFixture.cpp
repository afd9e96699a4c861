#include "support/ZVPulseFixture.h"

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

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

    std::vector<std::string> argv = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--log-target=file:" + _run + "/pulse.log",
        "-L",
        "module-native-protocol-unix",
        "-L",
        "module-null-sink sink_name=sys_out sink_properties=device.description=System_Output",
        "-L",
        "module-null-sink sink_name=mic_feed sink_properties=device.description=Mic_Feed",
        "-L",
        "module-remap-source master=mic_feed.monitor source_name=vmic "
        "source_properties=device.description=Virtual_Mic"};
    const std::string out = _run + "/pulse.out";
    _server = startProgram(argv, "", out, out);
    int status = -1;
    eventually(
        [&] {
            pactl({"info"}, &status);
            return status == 0;
        },
        10);
    ASSERT_EQ(status, 0) << "pulseaudio did not answer; see " << _run << "/pulse.log";
    pactl({"set-default-sink", "sys_out"});
    pactl({"set-default-source", "vmic"});
}

void ZVPulseFixture::TearDown() {
    if (_server > 0) endChild(_server);
    _server = -1;
    _root.reset();
    gInstance = nullptr;
}

}  // namespace zvtest
