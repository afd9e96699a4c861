#include "Audio/ZVAudioHardware.h"

#include "Foundation/ZVMutex.h"

namespace {
ZVMutex gHardwareLock;  // guards gHardware
std::shared_ptr<ZVAudioHardware> gHardware ZV_GUARDED_BY(gHardwareLock);
}  // namespace

uint32_t ZVAudioHardware::defaultDeviceId(bool input) {
    auto list = devices(input);
    if (!list) return 0;
    for (const ZVAudioDevice& device : *list)
        if (device.isDefault) return device.deviceId;
    return 0;
}

std::shared_ptr<ZVAudioHardware> ZVAudioHardware::shared() {
    ZVLockGuard<ZVMutex> g(gHardwareLock);
    return gHardware;
}

void ZVAudioHardware::setShared(std::shared_ptr<ZVAudioHardware> hardware) {
    ZVLockGuard<ZVMutex> g(gHardwareLock);
    gHardware = std::move(hardware);
}
