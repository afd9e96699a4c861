#pragma once
// The audio devices of one direction as the recorder presents them, and the two rules it
// applies to them: the list of names (default first) and the lookup of an id by name.
// The platform layer fills ZVAudioDevice; the rules need nothing else.
#include <cstdint>
#include <string>
#include <vector>

struct ZVAudioDevice {
    uint32_t deviceId = 0;  // never 0: 0 means "no device"
    std::string name;       // the name the capture layer opens it by
    bool isDefault = false;
    std::vector<std::string> sources;  // its data sources (ports), by name
    int currentSource = -1;            // index into sources, -1 when none is current
};

class ZVAudioDeviceList {
  public:
    ZVAudioDeviceList() = delete;

    // A device with two or more sources gives one entry "device: source" per source, the
    // others their name alone. The default device's entry (its current source's, for a
    // device with sources) comes first; the rest keep the devices' order. Any thread.
    static std::vector<std::string> names(const std::vector<ZVAudioDevice>& devices);

    // The id of the last device whose own name equals `name` exactly; 0 when none does.
    // "device: source" entries never match. Any thread.
    static uint32_t idForName(const std::vector<ZVAudioDevice>& devices, const std::string& name);
};
