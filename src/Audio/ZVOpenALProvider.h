#pragma once
#include "ZVPrivate.h"  // library-internal

// The OpenAL capture calls the microphone recorder makes, as a table of functions, and the
// capture provider over such a table. The platform's table calls openal-soft; a test makes
// a provider over a table of its own and hands it in with the services.
#include <cstdint>
#include <memory>

class ZVCaptureProvider;

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

// The capture provider over the OpenAL calls of `calls` (borrowed; it must outlive the
// provider and its devices; nullptr: nothing opens, with error 0). It times frames by when
// they arrive and never reports a loss. Any thread.
std::shared_ptr<const ZVCaptureProvider> ZVOpenALCaptureProvider(const ZVOpenALProvider* calls);
// The platform's table, the one that calls libopenal (openal-soft); defined in the
// platform layer. Any thread.
const ZVOpenALProvider* ZVOpenALSoftProvider();
