// The OpenAL provider backed by openal-soft: each entry passes its arguments through.
#include <AL/alc.h>

#include "Audio/ZVOpenALProvider.h"

namespace {
ALCdevice* dev(void* d) {
    return static_cast<ALCdevice*>(d);
}

const ZVOpenALProvider gOpenALSoft = {
    [](const char* name, uint32_t frequency, int32_t format, int32_t bufferSize) -> void* {
        return alcCaptureOpenDevice(name, frequency, format, bufferSize);
    },
    [](void* d) -> int32_t { return alcGetError(dev(d)); },
    [](void* d) { alcCaptureStart(dev(d)); },
    [](void* d) { alcCaptureStop(dev(d)); },
    [](void* d, int32_t param, int32_t size, int32_t* values) {
        alcGetIntegerv(dev(d), param, size, values);
    },
    [](void* d, void* buffer, int32_t frames) { alcCaptureSamples(dev(d), buffer, frames); },
    [](void* d) -> bool { return alcCaptureCloseDevice(dev(d)) == ALC_TRUE; },
};
}  // namespace

const ZVOpenALProvider* ZVOpenALSoftProvider() {
    return &gOpenALSoft;
}
