#pragma once
// The narrow interface through which the audio classes reach the system's audio layer:
// the device lists and the default devices, changing the default output, loading the
// loopback driver's modules, and the play-through streams. The PulseAudio implementation lives in
// Platform/Pulse and reaches the audio classes in the platform services; tests hand in a fake.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Audio/ZVAudioDevice.h"
#include "Audio/ZVAudioStream.h"

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

    // The operations below fail with "not supported" unless the platform gives them.

    // Makes the output device `deviceId` the default: new sound, and sound not bound to
    // a device, goes there. false with *error when it could not. Any thread; blocks.
    virtual bool setDefaultOutputDevice(uint32_t deviceId, std::string* error = nullptr);
    // Loads a server module with these arguments now; its index, or nullopt with *error.
    // Any thread; blocks.
    virtual std::optional<uint32_t> loadModule(const std::string& name,
                                               const std::string& arguments,
                                               std::string* error = nullptr);
    // Unloads every loaded module `name` whose arguments contain `marker`; how many, or
    // nullopt with *error when the server could not be asked. Any thread; blocks.
    virtual std::optional<int> unloadModules(const std::string& name, const std::string& marker,
                                             std::string* error = nullptr);
    // A stream on the output device `deviceId`, 16-bit stereo at 44100 Hz: `input` reads
    // what the device plays (its monitor), otherwise it plays what `proc` writes.
    // Not started; nullptr with *error. Any thread; blocks.
    virtual std::unique_ptr<ZVAudioStream> openStream(uint32_t deviceId, bool input,
                                                      ZVAudioIOProc proc, void* clientData,
                                                      std::string* error = nullptr);
};
