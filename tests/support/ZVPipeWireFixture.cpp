#include "support/ZVPipeWireFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace zvtest {

std::string sessionBusConfig(const std::string& socket, const std::string& serviceDir) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><keep_umask/><listen>unix:path=" +
           socket + "</listen><auth>EXTERNAL</auth>" +
           (serviceDir.empty() ? "" : "<servicedir>" + serviceDir + "</servicedir>") +
           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

std::string startPipeWireServers(const std::string& log, std::vector<pid_t>& started) {
    const std::string run = std::getenv("XDG_RUNTIME_DIR");
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");
    // WirePlumber will not run without a session bus; one of our own keeps the desktop's
    // out of it.
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + run + "/bus").c_str(), 1);
    writeText(run + "/bus.conf", sessionBusConfig(run + "/bus"));
    started.push_back(startProgram(
        {"dbus-daemon", "--nofork", "--config-file=" + run + "/bus.conf"}, "", log, log));
    if (!eventually([&] { return access((run + "/bus").c_str(), F_OK) == 0; }, 10))
        return "dbus-daemon did not start; see " + log;
    started.push_back(startProgram({"pipewire"}, "", log, log));
    int status = -1;
    if (!eventually(
            [&] {
                programOutput({"pw-cli", "info", "0"}, &status);
                return status == 0;
            },
            10))
        return "pipewire did not answer; see " + log;
    started.push_back(startProgram({"wireplumber"}, "", log, log));
    if (!eventually(
            [&] {
                return programOutput({"pw-cli", "ls", "Client"}).find("\"WirePlumber\"") !=
                       std::string::npos;
            },
            10))
        return "WirePlumber did not start; see " + log;
    return {};
}

void ZVPipeWireFixture::SetUp() {
    _root = std::make_unique<TempDir>();
    const std::string run = _root->file("run"), home = _root->file("home");
    mkdir(run.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    const std::string failure = startPipeWireServers(run + "/servers.log", _servers);
    ASSERT_TRUE(failure.empty()) << failure;
}

void ZVPipeWireFixture::TearDown() {
    for (auto it = _servers.rbegin(); it != _servers.rend(); ++it) endChild(*it);
    _servers.clear();
    _root.reset();
}

}  // namespace zvtest
