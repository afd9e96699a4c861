#pragma once
// ZVAudioHardware over PulseAudio: the device lists come from libpulse introspection
// (ZVPulseDevices), each read on a short-lived connection of its own.
#include "Audio/ZVAudioHardware.h"

class ZVPulseAudioHardware : public ZVAudioHardware {
  public:
    std::optional<std::vector<ZVAudioDevice>> devices(bool input, std::string* error) override;
};
