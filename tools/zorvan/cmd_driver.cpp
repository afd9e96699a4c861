// zorvan driver: installs, removes, updates and describes the loopback driver that
// --system-audio records through.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
constexpr const char* kName = "driver";
using Support = ZVSystemSoundSupport;

bool loopbackPresent() {
    return ZVSoundInputRecorder::deviceIdForDeviceName(Support::kDeviceName, false) != 0;
}

std::string version(const std::string& plist) {
    auto v = ZVValue::readFile(plist);
    const ZVValue* version = v ? v->get("CFBundleVersion") : nullptr;
    return version ? version->stringValue("?") : "?";
}

int update() {
    // The shipped bundle's version is read relative to the current directory.
    std::string shipped = ZVBundle::resourcePath(Support::kBundleName);
    std::error_code ec;
    if (!shipped.empty())
        std::filesystem::current_path(std::filesystem::path(shipped).parent_path(), ec);
    std::string before =
        Support::isDriverInstalled() ? version(Support::installedInfoPlistPath()) : "";
    Support::updateDriverIfNeeded();
    // The install run goes on by itself; wait for its device.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(Support::isDriverInstalled() && loopbackPresent() && !Support::isInstallingDriver())) {
        if (std::chrono::steady_clock::now() > end)
            return ZVCommandFail(
                kName, "the driver did not come up within 30 s (see 'zorvan driver status')");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string after = version(Support::installedInfoPlistPath());
    if (before == after)
        std::printf("driver %s is up to date\n", after.c_str());
    else
        std::printf("driver %s installed%s\n", after.c_str(),
                    before.empty() ? "" : (" (was " + before + ")").c_str());
    return 0;
}

int status() {
    if (Support::isDriverInstalled())
        std::printf("driver:         %s (version %s)\n", Support::installedDriverPath().c_str(),
                    version(Support::installedInfoPlistPath()).c_str());
    else
        std::printf("driver:         not installed\n");
    std::printf("installer:      %s\n", Support::isInstallingDriver() ? "running" : "not running");
    std::printf("device:         \"%s\" %s\n", Support::kDeviceName,
                loopbackPresent() ? "present" : "absent");
    auto hardware = ZVPlatformDefaults().audioHardware;
    auto outputs = hardware ? hardware->devices(false) : std::nullopt;
    std::string current = "unknown (no sound server)";
    if (outputs)
        for (const ZVAudioDevice& d : *outputs)
            if (d.isDefault) current = d.name;
    std::printf("default output: %s\n", current.c_str());
    std::string stale = Support::staleRedirection();
    std::printf(
        "redirection:    %s\n",
        !stale.empty()
            ? ("stale: " + stale + "; the next 'zorvan record --system-audio' undoes it").c_str()
        : std::filesystem::exists(Support::redirectionStatePath()) ? "held by a running recording"
                                                                   : "none");
    return 0;
}

int run(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return ZVCommandFail(
            kName, "give one of install, uninstall, update, status (see 'zorvan driver --help')");
    const std::string& verb = args[0];
    if (verb == "install" || verb == "uninstall") {
        int rc = Support::runDriverInstaller(verb == "install");
        if (rc < 0)
            return ZVCommandFail(kName,
                                 std::string(Support::kInstallerName) +
                                     " could not be started (is Zorvan installed completely?)");
        return rc == 0 ? 0 : 1;
    }
    if (verb == "update") return update();
    if (verb == "status") return status();
    return ZVCommandFail(kName, "unknown action '" + verb + "' (see 'zorvan driver --help')");
}

const ZVCommand::Registration reg(
    {kName, "install, remove, update or describe the loopback driver",
     "usage: zorvan driver install|uninstall|update|status\n\n"
     "The loopback driver gives the sound server a device \"Soundflower (2ch)\" whose\n"
     "output comes back as its input; 'zorvan record --system-audio' records through it.\n"
     "It is installed for the current user: the bundle in $XDG_DATA_HOME/zorvan/Extensions,\n"
     "a PulseAudio drop-in in $XDG_CONFIG_HOME/pulse/default.pa.d that makes the device at\n"
     "every server start, and the device loaded into the running server at once.\n\n"
     "  install     install the driver (again)\n"
     "  uninstall   remove it and take the device out of the running server\n"
     "  update      install it, or reinstall it when the shipped version is newer\n"
     "  status      whether it is installed, its version, the device, the default output,\n"
     "              and whether a recording that died left the output redirected\n",
     run});
}  // namespace
