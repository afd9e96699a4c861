#include "Audio/ZVAudioHardware.h"

uint32_t ZVAudioHardware::defaultDeviceId(bool input) {
    auto list = devices(input);
    if (!list) return 0;
    for (const ZVAudioDevice& device : *list)
        if (device.isDefault) return device.deviceId;
    return 0;
}

namespace {
template <typename T>
T unsupported(std::string* error, T result) {
    if (error) *error = "not supported by this audio layer";
    return result;
}
}  // namespace

bool ZVAudioHardware::setDefaultOutputDevice(uint32_t, std::string* error) {
    return unsupported(error, false);
}

std::optional<uint32_t> ZVAudioHardware::loadModule(const std::string&, const std::string&,
                                                    std::string* error) {
    return unsupported<std::optional<uint32_t>>(error, std::nullopt);
}

std::optional<int> ZVAudioHardware::unloadModules(const std::string&, const std::string&,
                                                  std::string* error) {
    return unsupported<std::optional<int>>(error, std::nullopt);
}

std::unique_ptr<ZVAudioStream> ZVAudioHardware::openStream(uint32_t, bool, ZVAudioIOProc, void*,
                                                           std::string* error) {
    return unsupported<std::unique_ptr<ZVAudioStream>>(error, nullptr);
}
