#pragma once
#include "ZVPrivate.h"  // library-internal

// The OpenAL capture calls the microphone recorder makes, as a table of functions. The
// recorder looks the provider up on every use, so a host or a test may swap it; with none
// installed every call yields zero or nothing, and opening fails with error 0.
#include <cstdint>

inline constexpr int32_t kZVALCCaptureSamples = 0x312;  // ALC_CAPTURE_SAMPLES
inline constexpr int32_t kZVALCConnected = 0x313;       // ALC_CONNECTED (ALC_EXT_disconnect)

struct ZVOpenALProvider {
    // A device handle, or nullptr. `name` nullptr opens the default capture device.
    void* (*alcCaptureOpenDevice)(const char* name, uint32_t frequency, int32_t format,
                                  int32_t bufferSize);
    int32_t (*alcGetError)(void* device);
    void (*alcCaptureStart)(void* device);
    void (*alcCaptureStop)(void* device);
    void (*alcGetIntegerv)(void* device, int32_t param, int32_t size, int32_t* values);
    void (*alcCaptureSamples)(void* device, void* buffer, int32_t frames);
    bool (*alcCaptureCloseDevice)(void* device);
};

// The provider in use: the platform's (openal-soft) unless another was installed.
// Any thread.
const ZVOpenALProvider* ZVOpenALGetProvider();
// Installs `provider` (borrowed; it must outlive its use); nullptr installs none.
// Not while a recorder is between opening and closing its device.
void ZVOpenALSetProvider(const ZVOpenALProvider* provider);
// The platform's provider, the one that calls libopenal (openal-soft); defined in the
// platform layer. Any thread.
const ZVOpenALProvider* ZVOpenALSoftProvider();
