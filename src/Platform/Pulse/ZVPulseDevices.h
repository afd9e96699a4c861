#pragma once
#include "ZVPrivate.h"  // library-internal

// The PulseAudio server's devices, read once through libpulse introspection on a threaded
// main loop of its own (never spawning a server). Sources are input devices, sinks output
// devices, ports are data sources; the id is the server's index + 1.
#include <optional>
#include <string>
#include <vector>

#include "Audio/ZVAudioDevice.h"

class ZVPulseDevices {
  public:
    ZVPulseDevices() = delete;

    // The devices of one direction in the server's order, or nullopt when the server
    // cannot be reached or does not answer within a few seconds (*error says why).
    // Names are the descriptions, made unique as openal-soft makes them (the default
    // device first, then the others in index order; a repeated description gets " #2",
    // " #3"), so that a name opens in openal-soft. Any thread; blocks.
    static std::optional<std::vector<ZVAudioDevice>> read(bool input, std::string* error = nullptr);

    // The server's own name of the input device listed as `name` (a plain device name of
    // the list above); nullopt when there is none or the server does not answer (*error
    // says why). Any thread; blocks.
    static std::optional<std::string> sourceNamed(const std::string& name, std::string* error);
};
