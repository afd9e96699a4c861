#pragma once
// The narrow interface through which the audio classes reach the system's audio layer:
// the device lists and the default devices (later: default-device changes, loading the
// loopback driver, play-through streams). The PulseAudio implementation lives in
// Platform/Pulse and is installed by Platform/ZVPlatformDefaults; tests may install a fake.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Audio/ZVAudioDevice.h"

class ZVAudioHardware {
  public:
    virtual ~ZVAudioHardware() = default;

    // The devices of one direction (sources for input, sinks for output) in the server's
    // order, or nullopt when the audio layer cannot be reached (*error says why). Names
    // open in the capture layer. Any thread; blocks for at most a few seconds.
    virtual std::optional<std::vector<ZVAudioDevice>> devices(bool input,
                                                              std::string* error = nullptr) = 0;
    // The id of the default device of one direction; 0 when there is none or the audio
    // layer cannot be reached. Any thread; blocks like devices().
    uint32_t defaultDeviceId(bool input);

    // The audio layer in use; nullptr when no platform installed one. Any thread.
    static std::shared_ptr<ZVAudioHardware> shared();
    // Installs `hardware` (nullptr: none). Any thread.
    static void setShared(std::shared_ptr<ZVAudioHardware> hardware);
};
