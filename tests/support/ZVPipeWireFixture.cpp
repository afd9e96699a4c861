#include "support/ZVPipeWireFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace zvtest {

void ZVPipeWireFixture::SetUp() {
    _root = std::make_unique<TempDir>();
    const std::string run = _root->file("run"), home = _root->file("home");
    mkdir(run.c_str(), 0700);
    mkdir(home.c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");
    // WirePlumber will not run without a session bus.
    const std::string bus = "unix:path=" + run + "/bus";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    const std::string log = run + "/servers.log";
    _bus = startProgram({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, "", log, log);
    ASSERT_TRUE(eventually([&] { return access((run + "/bus").c_str(), F_OK) == 0; }, 10))
        << "dbus-daemon did not start; see " << log;
    _daemon = startProgram({"pipewire"}, "", log, log);
    int status = -1;
    ASSERT_TRUE(eventually(
        [&] {
            programOutput({"pw-cli", "info", "0"}, &status);
            return status == 0;
        },
        10))
        << "pipewire did not answer; see " << log;
    _sessionManager = startProgram({"wireplumber"}, "", log, log);
    ASSERT_TRUE(eventually(
        [&] {
            return programOutput({"pw-cli", "ls", "Client"}).find("\"WirePlumber\"") !=
                   std::string::npos;
        },
        10))
        << "WirePlumber did not start; see " << log;
}

void ZVPipeWireFixture::TearDown() {
    for (int* pid : {&_sessionManager, &_daemon, &_bus}) {
        if (*pid > 0) endChild(*pid);
        *pid = -1;
    }
    _root.reset();
}

}  // namespace zvtest
