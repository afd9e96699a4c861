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

  private:
    // Starts `argv` with its output in RUN/`log`; its process id is ended at TearDown.
    void launch(const std::vector<std::string>& argv, const std::string& log);
    void startPulseAudio();
    void startPipeWire();

    std::unique_ptr<TempDir> _root;  // HOME and the runtime directory live under it
    std::string _run;
    std::vector<pid_t> _servers;  // in start order; ended last first
};

}  // namespace zvtest
