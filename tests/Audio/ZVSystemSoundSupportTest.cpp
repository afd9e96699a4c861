// The loopback driver and play-through on the fixture's own PulseAudio server: the
// installer run by its real program, the device found by name, the update rule judged by
// what it does to the installed bundle, and sound heard on both sides of the play-through.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "Audio/ZVAudioTestUtil.h"
#include "Audio/ZVTonePlayer.h"
#include "ZorvanInternal.h"
#include "support/ZVPulseFixture.h"
#include "support/ZVTestSupport.h"
#include "support/ZVZorvanProcess.h"

namespace fs = std::filesystem;

namespace {
[[maybe_unused]] auto* const gPulse =
    ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture);

using Support = ZVSystemSoundSupport;

// What the installer does in the background shows within seconds.
bool settles(const std::function<bool()>& done) {
    return zvtest::eventually(done, 15);
}

bool loopbackPresent() {
    return ZVSoundInputRecorder::deviceIdForDeviceName(Support::kDeviceName, false) != 0 &&
           ZVSoundInputRecorder::deviceIdForDeviceName(Support::kDeviceName, true) != 0;
}

bool installAndWait() {
    Support::installDriver();
    return settles([] { return loopbackPresent() && !Support::isInstallingDriver(); });
}

std::string defaultSink() {
    return zvtest::trimmed(zvtest::ZVPulseFixture::instance()->pactl({"get-default-sink"}));
}

// Root mean square of the left channel of 16-bit stereo recorded from `source` for 1.5 s.
double loudness(const std::string& source) {
    std::string raw = zvtest::ZVPulseFixture::run({"timeout", "1.5", "parec", "--raw",
                                                   "--format=s16le", "--rate=44100", "--channels=2",
                                                   "--latency-msec=20", "-d", source});
    auto left = zvaudiotest::leftChannel(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    double sum = 0;
    for (int16_t s : left) sum += double(s) * s;
    return left.empty() ? 0 : std::sqrt(sum / double(left.size()));
}

// The play-through streams the server lists, playing and recording.
int playThruStreams() {
    auto* pulse = zvtest::ZVPulseFixture::instance();
    std::string all =
        pulse->pactl({"list", "sink-inputs"}) + pulse->pactl({"list", "source-outputs"});
    int n = 0;
    for (size_t at = 0;
         (at = all.find("media.name = \"Zorvan play-through", at)) != std::string::npos; ++at)
        ++n;
    return n;
}
}  // namespace

TEST(SystemSoundSupport, IsInstallingDriverWhileAProcessOfThatNameRuns) {
    zvtest::TempDir dir;
    std::string impostor = dir.file(Support::kInstallerName);
    fs::copy_file("/bin/sleep", impostor);
    EXPECT_FALSE(Support::isInstallingDriver());
    pid_t pid = fork();
    if (pid == 0) {
        execl(impostor.c_str(), impostor.c_str(), "30", nullptr);
        _exit(127);
    }
    EXPECT_TRUE(zvtest::eventually([] { return Support::isInstallingDriver(); }));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_FALSE(Support::isInstallingDriver());
}

TEST(SystemSoundSupport, InstallUninstallAndUpdateByTheDriversVersionRule) {
    ASSERT_TRUE(installAndWait());
    zvtest::TempDir shippedDir;
    fs::create_directories(shippedDir.file("Soundflower.kext/Contents"));
    const fs::path cwd = fs::current_path();
    fs::current_path(shippedDir.path());

    struct Case {
        const char* installed;
        const char* shipped;  // nullptr: no shipped property list in the current directory
        bool reinstalls;
    } cases[] = {{"1.5", "1.6", true},   {"1.5.1", "1.6", false}, {"1.6", "1.6", false},
                 {"2.0", "1.5", true},   {"1.6", nullptr, true},  {"1.6", "1.6.1", true},
                 {"1.6.1", "1.6", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.installed) + " -> " + (c.shipped ? c.shipped : "(none)"));
        // The installed bundle carries a marker that a reinstall replaces.
        ZVValue installed = ZVValue::dict();
        installed.set("CFBundleVersion", c.installed);
        installed.set("Marker", true);
        ASSERT_TRUE(installed.writeFile(Support::installedInfoPlistPath(), false));
        const std::string shipped = Support::kShippedInfoPlist;
        fs::remove(shipped);
        if (c.shipped) {
            ZVValue v = ZVValue::dict();
            v.set("CFBundleVersion", c.shipped);
            ASSERT_TRUE(v.writeFile(shipped, false));
        }
        Support::updateDriverIfNeeded();
        auto marked = [] {
            auto v = ZVValue::readFile(Support::installedInfoPlistPath());
            return v && v->get("Marker");
        };
        if (c.reinstalls)
            EXPECT_TRUE(settles([&] { return !marked() && loopbackPresent(); }));
        else
            EXPECT_TRUE(marked());
        ASSERT_TRUE(settles([] { return !Support::isInstallingDriver(); }));
    }
    fs::current_path(cwd);
    // Uninstalled, the device goes; not installed at all, the update installs.
    Support::uninstallDriver();
    ASSERT_TRUE(settles([] { return !Support::isDriverInstalled() && !loopbackPresent(); }));
    Support::updateDriverIfNeeded();
    EXPECT_TRUE(settles([] { return Support::isDriverInstalled() && loopbackPresent(); }));
    EXPECT_TRUE(fs::exists(Support::installedInfoPlistPath()));
    // Installing again leaves one device, not two.
    ASSERT_TRUE(installAndWait());
    auto outputs = ZVSoundInputRecorder::availableDevicesIsInput(false);
    EXPECT_EQ(std::count(outputs.begin(), outputs.end(), Support::kDeviceName), 1);
}

TEST(SystemSoundSupport, PlayThroughKeepsTheMachineAudibleAndGivesTheOutputBack) {
    ASSERT_TRUE(installAndWait());
    auto* pulse = zvtest::ZVPulseFixture::instance();
    pulse->pactl({"set-default-sink", "sys_out"});
    Support::preparePlayThru();
    auto support = Support::sharedSystemSoundSupport();
    ASSERT_TRUE(support);
    ASSERT_NE(support->loopbackDevice(), 0u);

    support->setPlayThru(0);
    EXPECT_EQ(support->lastError(), "");
    EXPECT_EQ(defaultSink(), "zorvan_soundflower");
    EXPECT_TRUE(fs::exists(Support::redirectionStatePath()));
    // Switching on does not wait for the idle loopback device's first sound; both sides
    // answer once it comes.
    ASSERT_TRUE(settles([&] { return support->inputState() == 1 && support->outputState() == 1; }));
    EXPECT_EQ(Support::staleRedirection(), "");  // this process wrote it
    {
        // What the machine plays goes to the default output, now the loopback device.
        ZVTonePlayer tone("@DEFAULT_SINK@");
        tone.setTone(ZVAbsoluteTimeGetCurrent(), ZVAbsoluteTimeGetCurrent() + 60);
        // A pure tone of half amplitude has 11585; gaps in the play-through show below.
        EXPECT_GT(loudness("zorvan_soundflower.monitor"), 10000);
        EXPECT_GT(loudness("sys_out.monitor"), 10000);  // and is still heard
    }
    EXPECT_EQ(playThruStreams(), 2);
    support->setPlayThru(1);
    EXPECT_EQ(support->lastError(), "");
    EXPECT_EQ(defaultSink(), "sys_out");
    EXPECT_FALSE(fs::exists(Support::redirectionStatePath()));
    // Off, nothing of it stays on the server while the shared object lives on; the next
    // switch opens the streams again, and releasing ends them too.
    EXPECT_EQ(playThruStreams(), 0);
    support->setPlayThru(0);
    EXPECT_EQ(support->lastError(), "");
    EXPECT_EQ(playThruStreams(), 2);
    Support::releasePlayThru();
    EXPECT_EQ(playThruStreams(), 0);
    EXPECT_EQ(defaultSink(), "sys_out");
}

// The drop-ins are read at the next server start whether or not the user has a default.pa
// of their own, and PipeWire's server has the device at its next start as well;
// uninstalling leaves the user's file as it was and takes away its own.
TEST(SystemSoundSupport, InstallMakesTheServerReadTheDropIns) {
    const fs::path pulse = fs::path(std::getenv("XDG_CONFIG_HOME")) / "pulse";
    const fs::path script = pulse / "default.pa";
    auto includes = [&] {  // how often the script includes the drop-ins
        std::ifstream in(script);
        std::string line;
        int n = 0;
        while (std::getline(in, line)) n += line == ".include " + (pulse / "default.pa.d").string();
        return n;
    };
    Support::runDriverInstaller(false);
    fs::remove(script);
    ASSERT_EQ(Support::runDriverInstaller(true), 0);
    EXPECT_EQ(includes(), 1);
    auto* server = zvtest::ZVPulseFixture::instance();
    server->restartServer();
    EXPECT_TRUE(loopbackPresent());
    EXPECT_EQ(Support::runDriverInstaller(false), 0);
    EXPECT_FALSE(fs::exists(script));
    server->restartServer();
    EXPECT_FALSE(loopbackPresent());

    const std::string mine = "# mine\nload-module module-null-sink sink_name=mine";
    std::ofstream(script) << mine;
    Support::runDriverInstaller(true);
    EXPECT_EQ(Support::runDriverInstaller(true), 0);
    EXPECT_EQ(includes(), 1);
    EXPECT_EQ(Support::runDriverInstaller(false), 0);
    std::ifstream in(script);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), mine);
    fs::remove(script);
}

// A record left by a killed recording is found and undone by the next one (end to end in
// ZVRecordSystemAudioCommandTest); the record of a recording still running never is (see
// the play-through test), but one whose process id now names a later process is.
TEST(SystemSoundSupport, ARedirectionOfAReusedProcessIdIsStale) {
    fs::create_directories(fs::path(Support::redirectionStatePath()).parent_path());
    std::ofstream(Support::redirectionStatePath()) << getpid() << " 1\nSystem_Output\n";
    EXPECT_NE(Support::staleRedirection(), "");
    fs::remove(Support::redirectionStatePath());
}

TEST(SystemSoundSupport, InstallerMessages) {
    const std::string installer = ZVBundle::resourcePath(Support::kInstallerName);
    ASSERT_FALSE(installer.empty());
    zvtest::TempDir dir, config;
    // A file where PipeWire's drop-in folder would go.
    zvtest::writeText(config.file("pipewire"), "");
    const std::string configHome = "XDG_CONFIG_HOME=" + config.path();
    struct Case {
        std::vector<std::string> args;
        const char* env;  // extra environment, or nullptr
        std::string message;
    } cases[] = {
        {{"i", dir.path()}, nullptr, "is no driver bundle (no Contents/Info.plist)"},
        {{"u", dir.path()}, nullptr, "is no Soundflower.kext"},
        {{"i", ZVBundle::resourcePath(Support::kBundleName)},
         "PULSE_SERVER=unix:/nonexistent",
         "the sound server cannot be reached (Connection refused); the device appears when it "
         "next starts"},
        {{"i", ZVBundle::resourcePath(Support::kBundleName)},
         configHome.c_str(),
         "cannot write " + config.file("pipewire/pipewire-pulse.conf.d/zorvan-soundflower.conf")},
        {{"x"}, nullptr, "usage: DriverInstaller i BUNDLE | u PATH"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {"sh", "-c", "\"$0\" \"$@\" 2>&1", installer};
        if (c.env) argv.insert(argv.begin(), {"env", c.env});
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        int status = 0;
        std::string out = zvtest::ZVPulseFixture::run(argv, &status);
        EXPECT_NE(status, 0) << c.message;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
    // The unreachable server's install put the files in place; take them away again.
    Support::runDriverInstaller(false);
}
