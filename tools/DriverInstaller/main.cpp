// DriverInstaller: installs ("i" BUNDLE) or removes ("u" PATH) the loopback driver.
// Installing copies the bundle into the user's extensions folder, puts its PulseAudio
// drop-in where the server reads it at every start (making the user's default.pa read
// the drop-ins), writes the same modules as commands for PipeWire's PulseAudio server
// (which reads no default.pa), and loads the modules into the running server now;
// removing undoes all of it. ZVSystemSoundSupport launches it and
// learns that it finished by its name leaving the process table.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVSystemSoundSupport.h"
#include "Foundation/ZVUserDirectory.h"

namespace fs = std::filesystem;

namespace {
constexpr const char* kDropIn = "zorvan-soundflower.pa";
// The bundle's drop-in: the one place that says which modules make the device.
constexpr const char* kBundleDropIn = "Contents/Resources/soundflower.pa";
// PipeWire's PulseAudio server runs the commands of every file in this folder at its start.
constexpr const char* kPipeWireDropIn = "zorvan-soundflower.conf";
// The sink's name, found in the arguments of every module of the device.
constexpr const char* kMarker = "zorvan_soundflower";
// What install writes into the user's default.pa; uninstall takes out exactly this.
constexpr const char* kCreatedHead =
    "# Written by DriverInstaller: the system's configuration, then the user's drop-ins.\n"
    ".include /etc/pulse/default.pa\n";

using uchar = unsigned char;

std::string configDirectory() {
    return ZVUserDirectory(ZVUserDirectoryKind::config) + "/pulse";
}

// The server's start-up script of the user, and the folder of drop-ins it is made to read.
fs::path userScript() {
    return fs::path(configDirectory()) / "default.pa";
}
fs::path dropInFolder() {
    return fs::path(configDirectory()) / "default.pa.d";
}

fs::path pipewireDropIn() {
    return fs::path(ZVUserDirectory(ZVUserDirectoryKind::config)) /
           "pipewire/pipewire-pulse.conf.d" / kPipeWireDropIn;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "DriverInstaller: %s\n", message.c_str());
    return 1;
}

// The "load-module NAME ARGUMENTS" lines of a drop-in, in order; empty when unreadable.
std::vector<std::pair<std::string, std::string>> modulesOf(const fs::path& dropIn) {
    std::vector<std::pair<std::string, std::string>> modules;
    std::ifstream in(dropIn);
    std::string line, word, name, arguments;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> word >> name) || word != "load-module") continue;
        std::getline(fields >> std::ws, arguments);
        modules.emplace_back(name, arguments);
    }
    return modules;
}

// The modules as PipeWire's server runs them at its start. "nofail": a module it cannot
// load must not keep it from running the commands of the user's other files.
std::string pipewireCommands(const std::vector<std::pair<std::string, std::string>>& modules) {
    std::string text =
        "# Written by DriverInstaller (its uninstall removes it): the loopback device \"" +
        std::string(ZVSystemSoundSupport::kDeviceName) + "\".\npulse.cmd = [\n";
    for (const auto& [name, arguments] : modules) {
        std::string quoted;
        for (char c : name + " " + arguments) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        text += "  { cmd = \"load-module\" args = \"" + quoted + "\" flags = [ \"nofail\" ] }\n";
    }
    return text + "]\n";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces `path` with `text` whole: written beside it, checked, then renamed over it, so
// a full disk never leaves the user's file cut short. False when it could not.
bool replaceFile(const fs::path& path, const std::string& text) {
    fs::path temporary = path;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!(out << text << std::flush)) return false;
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

// The lines that make the server read the drop-in folder, marked as install's own; the
// blank line first also ends a last line that had no line break, and goes with the rest.
std::string includeBlock(const std::string& dropIns) {
    return "\n# Added by DriverInstaller (its uninstall takes it out again): the drop-ins.\n"
           ".ifexists " +
           dropIns + "\n.include " + dropIns + "\n.endif\n";
}

// The server reads the user's default.pa instead of the system's when there is one. A
// user without one gets a small one that reads the system's and then the drop-ins; one
// who has one gets the drop-ins read at its end, unless it reads them already.
void ensureDropInsAreRead(const std::string& dropIns) {
    fs::path script = userScript();
    std::error_code ec;
    if (!fs::exists(script, ec)) {
        std::ofstream(script) << kCreatedHead << includeBlock(dropIns);
        return;
    }
    std::string text = readFile(script);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string word, path;
        fields >> word >> std::ws;
        std::getline(fields, path);  // the rest of the line, as the server reads it
        while (path.size() > 1 && (path.back() == '/' || std::isspace(uchar(path.back()))))
            path.pop_back();
        if (word == ".include" && path == dropIns) return;
    }
    std::ofstream out(script, std::ios::app);
    if (out << includeBlock(dropIns) << std::flush)
        std::printf("made %s read %s\n", script.c_str(), dropIns.c_str());
    else
        std::printf("add \".include %s\" to %s to have the device at every server start\n",
                    dropIns.c_str(), script.c_str());
}

// Takes out of default.pa what ensureDropInsAreRead put there: the whole file when it
// wrote it, else the lines it added.
void forgetDropIns(const std::string& dropIns) {
    fs::path script = userScript();
    std::string text = readFile(script);
    const std::string block = includeBlock(dropIns);
    size_t at = text.find(block);
    if (at == std::string::npos) return;
    text.erase(at, block.size());
    std::error_code ec;
    if (text == kCreatedHead) {
        fs::remove(script, ec);
        std::printf("removed %s\n", script.c_str());
    } else if (replaceFile(script, text)) {
        std::printf("took the drop-ins out of %s\n", script.c_str());
    } else {
        std::printf(
            "could not take the drop-ins out of %s: remove the lines after \"# Added by "
            "DriverInstaller\"\n",
            script.c_str());
    }
}

// Takes the device's modules out of the running server, later ones first; false with
// *error when it cannot be asked.
bool unload(ZVAudioHardware& hw, const std::vector<std::pair<std::string, std::string>>& modules,
            std::string* error) {
    int unloaded = 0;
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        auto n = hw.unloadModules(it->first, kMarker, error);
        if (!n) return false;
        unloaded += *n;
    }
    if (unloaded > 0) std::printf("unloaded the loopback device\n");
    return true;
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

    fs::path dropIns = dropInFolder();
    fs::create_directories(dropIns, ec);
    fs::copy_file(target / kBundleDropIn, dropIns / kDropIn, fs::copy_options::overwrite_existing,
                  ec);
    if (ec) return fail("cannot write " + (dropIns / kDropIn).string() + ": " + ec.message());
    ensureDropInsAreRead(dropIns.string());
    std::printf("added %s\n", (dropIns / kDropIn).c_str());
    const auto modules = modulesOf(target / kBundleDropIn);
    fs::create_directories(pipewireDropIn().parent_path(), ec);
    if (!replaceFile(pipewireDropIn(), pipewireCommands(modules)))
        return fail("cannot write " + pipewireDropIn().string());
    std::printf("added %s\n", pipewireDropIn().c_str());

    auto hw = ZVPlatformDefaults().audioHardware;
    std::string error = "no audio layer";
    // A device loaded by an earlier install goes first, so there is only ever one.
    if (!hw || !unload(*hw, modules, &error))
        return fail("the sound server cannot be reached (" + error +
                    "); the device appears when it next starts");
    for (const auto& [name, arguments] : modules)
        if (!hw->loadModule(name, arguments, &error)) return fail(error);
    std::printf("loaded the loopback device \"%s\"\n", ZVSystemSoundSupport::kDeviceName);
    return 0;
}

int uninstall(const fs::path& path) {
    // Only a driver bundle is ever removed, whatever path is given.
    if (path.filename() != ZVSystemSoundSupport::kBundleName)
        return fail(path.string() + " is no " + ZVSystemSoundSupport::kBundleName);
    // The modules to unload are read before their files go: the bundle's, else the copy.
    fs::path dropIns = dropInFolder();
    auto modules = modulesOf(path / kBundleDropIn);
    if (modules.empty()) modules = modulesOf(dropIns / kDropIn);
    std::error_code ec;
    if (fs::remove_all(path, ec) > 0) std::printf("removed %s\n", path.c_str());
    for (const fs::path& dropIn : {dropIns / kDropIn, pipewireDropIn()})
        if (fs::remove(dropIn, ec)) std::printf("removed %s\n", dropIn.c_str());
    forgetDropIns(dropIns.string());
    auto hw = ZVPlatformDefaults().audioHardware;
    std::string error = "no audio layer";
    if (!hw || !unload(*hw, modules, &error))
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
