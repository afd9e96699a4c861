#pragma once
#include "ZVPrivate.h"  // library-internal

// ZVAudioHardware over PulseAudio: the device lists come from libpulse introspection
// (ZVPulseDevices); default changes and module loads are single requests, and
// play-through streams ZVPulseStreams, each on a short-lived connection of its own.
#include "Audio/ZVAudioHardware.h"

class ZVPulseAudioHardware : public ZVAudioHardware {
  public:
    std::optional<std::vector<ZVAudioDevice>> devices(bool input, std::string* error) override;
    bool setDefaultOutputDevice(uint32_t deviceId, std::string* error) override;
    std::optional<uint32_t> loadModule(const std::string& name, const std::string& arguments,
                                       std::string* error) override;
    std::optional<int> unloadModules(const std::string& name, const std::string& marker,
                                     std::string* error) override;
    std::unique_ptr<ZVAudioStream> openStream(uint32_t deviceId, bool input, ZVAudioIOProc proc,
                                              void* clientData, std::string* error) override;
};
