#pragma once
// A PulseAudio server of the test binary's own, as a GoogleTest global environment: one
// server per binary, in a fresh HOME and XDG_RUNTIME_DIR (two root servers would share
// ~/.config/pulse and race). With ZV_SOUND_SERVER=pipewire the server is PipeWire's
// PulseAudio-compatible one instead (pipewire, WirePlumber and pipewire-pulse on a
// private session bus), which most desktops run. Either way it has two null sinks and a
// virtual microphone, made through the pulse protocol:
//   sink sys_out  "System_Output"  (the default sink)
//   sink mic_feed "Mic_Feed"       (what is played here is what the microphone hears)
//   source vmic   "Virtual_Mic"    (remaps mic_feed.monitor; the default source)
// Register it in the binary: ::testing::AddGlobalTestEnvironment(new zvtest::ZVPulseFixture).
#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/ZVTestSupport.h"

namespace zvtest {

class ZVPulseFixture : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;

    // The running fixture, or nullptr. Main thread.
    static ZVPulseFixture* instance();

    // Runs a program (found on PATH) with the server's environment; its standard output,
    // and its exit status in *status. Main thread.
    static std::string run(const std::vector<std::string>& argv, int* status = nullptr) {
        return programOutput(argv, status);
    }
    // pactl with these arguments; its output. Main thread.
    std::string pactl(const std::vector<std::string>& args, int* status = nullptr);
    // The index of a source (input) or sink by its server name, -1 when absent.
    int indexOf(const std::string& name, bool input);
    // Whether the server is PipeWire's rather than PulseAudio. Any thread.
    static bool isPipeWire();
    // Ends the server and starts it as the user's next login does (PulseAudio with the
    // user's start-up script, pipewire-pulse with its drop-ins), then makes the devices
    // above again. Main thread.
    void restartServer();
    // Stops the process that runs the sound graph (PipeWire's daemon, or PulseAudio) for
    // `seconds`, as a busy machine's scheduler may: PipeWire's graph misses its cycles
    // meanwhile, PulseAudio catches up. Main thread.
    void stallGraph(double seconds);

  private:
    // Starts `argv` with its output in RUN/`log`; its process id.
    pid_t launch(const std::vector<std::string>& argv, const std::string& log);
    // What pipewire-pulse needs running: a session bus, pipewire and WirePlumber.
    void startPipeWire();
    // The server that speaks the pulse protocol; `atLogin` as restartServer says.
    void startPulseServer(bool atLogin);
    // Waits for the server to answer, then makes the devices and the defaults.
    void makeDevices();

    std::unique_ptr<TempDir> _root;  // HOME and the runtime directory live under it
    std::string _run;
    pid_t _pulse = -1;            // pulseaudio or pipewire-pulse
    std::vector<pid_t> _servers;  // what it needs, in start order; ended last first
};

}  // namespace zvtest
