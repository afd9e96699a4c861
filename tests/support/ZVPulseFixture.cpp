#include "support/ZVPulseFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace zvtest {

namespace {
ZVPulseFixture* gInstance = nullptr;

std::vector<char*> cArgs(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

bool waitExited(pid_t pid, double seconds, int* status) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || r < 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
}  // namespace

ZVPulseFixture* ZVPulseFixture::instance() {
    return gInstance;
}

std::string ZVPulseFixture::run(const std::vector<std::string>& argv, int* status) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    auto args = cArgs(argv);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    int st = -1;
    if (rc == 0) waitpid(pid, &st, 0);
    if (status) *status = rc == 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
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
    char tmpl[] = "/tmp/zvpulse-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    _root = tmpl;
    _run = _root + "/run";
    const std::string home = _root + "/home";
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (_run + "/pulse.out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    auto args = cArgs(argv);
    int rc = posix_spawnp(&_server, "pulseaudio", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0) << "pulseaudio could not be started";

    int status = -1;
    for (int i = 0; i < 200 && status != 0; ++i) {
        pactl({"info"}, &status);
        if (status != 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(status, 0) << "pulseaudio did not answer; see " << _run << "/pulse.log";
    pactl({"set-default-sink", "sys_out"});
    pactl({"set-default-source", "vmic"});
}

void ZVPulseFixture::TearDown() {
    if (_server > 0) {
        kill(_server, SIGTERM);
        int status;
        if (!waitExited(_server, 5, &status)) {
            kill(_server, SIGKILL);
            waitpid(_server, &status, 0);
        }
        _server = -1;
    }
    std::error_code ec;
    if (!_root.empty()) std::filesystem::remove_all(_root, ec);
    gInstance = nullptr;
}

}  // namespace zvtest
