// DriverInstaller: installs ("i" BUNDLE) or removes ("u" PATH) the loopback driver.
// Installing copies the bundle into the user's extensions folder, puts its PulseAudio
// drop-in where the server reads it at every start, and loads the device into the
// running server now; removing undoes all three. ZVSystemSoundSupport launches it and
// learns that it finished by its name leaving the process table.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVSystemSoundSupport.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kDropIn = "zorvan-soundflower.pa";
constexpr const char* kMarker = "zorvan_soundflower";
// The modules of the bundle's drop-in (Contents/Resources/soundflower.pa), sink first.
constexpr const char* kSinkArguments =
    "sink_name=zorvan_soundflower sink_properties='device.description=\"Soundflower (2ch)\"'";
constexpr const char* kSourceArguments =
    "master=zorvan_soundflower.monitor source_name=zorvan_soundflower_in "
    "source_properties='device.description=\"Soundflower (2ch)\"'";

std::string configDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string base = config && *config ? config : std::string(home ? home : "/tmp") + "/.config";
    return base + "/pulse";
}

int fail(const std::string& message) {
    std::fprintf(stderr, "DriverInstaller: %s\n", message.c_str());
    return 1;
}

// The server reads the user's default.pa instead of the system's when there is one; a
// user without one gets a small one that reads the system's and then the drop-ins.
void ensureDropInsAreRead(const std::string& dropIns) {
    fs::path script = fs::path(configDirectory()) / "default.pa";
    std::error_code ec;
    if (fs::exists(script, ec)) return;
    std::ofstream(script) << "# Written by DriverInstaller: the system's configuration, then the "
                             "user's drop-ins.\n.include /etc/pulse/default.pa\n.ifexists "
                          << dropIns << "\n.include " << dropIns << "\n.endif\n";
}

// Takes the device out of the running server; false with *error when it cannot be asked.
bool unload(ZVAudioHardware& hw, std::string* error) {
    auto sources = hw.unloadModules("module-remap-source", kMarker, error);
    auto sinks = sources ? hw.unloadModules("module-null-sink", kMarker, error) : std::nullopt;
    if (sinks && *sinks + *sources > 0) std::printf("unloaded the loopback device\n");
    return sinks.has_value();
}

int install(const fs::path& bundle) {
    std::error_code ec;
    if (!fs::is_regular_file(bundle / "Contents/Info.plist", ec))
        return fail(bundle.string() + " is no driver bundle (no Contents/Info.plist)");
    fs::path target = ZVSystemSoundSupport::installedDriverPath();
    fs::remove_all(target, ec);
    fs::create_directories(target.parent_path(), ec);
    fs::copy(bundle, target, fs::copy_options::recursive, ec);
    if (ec)
        return fail("cannot copy " + bundle.string() + " to " + target.string() + ": " +
                    ec.message());
    std::printf("installed %s\n", target.c_str());

    fs::path dropIns = fs::path(configDirectory()) / "default.pa.d";
    fs::create_directories(dropIns, ec);
    fs::copy_file(target / "Contents/Resources/soundflower.pa", dropIns / kDropIn,
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return fail("cannot write " + (dropIns / kDropIn).string() + ": " + ec.message());
    ensureDropInsAreRead(dropIns.string());
    std::printf("added %s\n", (dropIns / kDropIn).c_str());

    auto hw = ZVAudioHardware::shared();
    std::string error = "no audio layer";
    // A device loaded by an earlier install goes first, so there is only ever one.
    if (!hw || !unload(*hw, &error))
        return fail("the sound server cannot be reached (" + error +
                    "); the device appears when it next starts");
    if (!hw->loadModule("module-null-sink", kSinkArguments, &error) ||
        !hw->loadModule("module-remap-source", kSourceArguments, &error))
        return fail(error);
    std::printf("loaded the loopback device \"%s\"\n", ZVSystemSoundSupport::kDeviceName);
    return 0;
}

int uninstall(const fs::path& path) {
    // Only a driver bundle is ever removed, whatever path is given.
    if (path.filename() != ZVSystemSoundSupport::kBundleName)
        return fail(path.string() + " is no " + ZVSystemSoundSupport::kBundleName);
    std::error_code ec;
    if (fs::remove_all(path, ec) > 0) std::printf("removed %s\n", path.c_str());
    fs::path dropIn = fs::path(configDirectory()) / "default.pa.d" / kDropIn;
    if (fs::remove(dropIn, ec)) std::printf("removed %s\n", dropIn.c_str());
    auto hw = ZVAudioHardware::shared();
    std::string error = "no audio layer";
    if (!hw || !unload(*hw, &error))
        return fail("the sound server cannot be reached (" + error + ")");
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc == 3 ? argv[1] : "";
    if (verb == "i") return install(argv[2]);
    if (verb == "u") return uninstall(argv[2]);
    std::fprintf(stderr, "usage: DriverInstaller i BUNDLE | u PATH\n");
    return 2;
}
