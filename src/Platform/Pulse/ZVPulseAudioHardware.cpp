#include "Platform/Pulse/ZVPulseAudioHardware.h"

#include "Platform/Pulse/ZVPulseDevices.h"

std::optional<std::vector<ZVAudioDevice>> ZVPulseAudioHardware::devices(bool input,
                                                                        std::string* error) {
    return ZVPulseDevices::read(input, error);
}
