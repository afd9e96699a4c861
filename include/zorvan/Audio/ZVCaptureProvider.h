#pragma once
// Where the microphone recorder gets its sound: a capture device opened by name, whose
// frames come in runs that say when their first frame was captured and how many frames
// the sound server lost just before them. The sound server's own stream (libpulse) is the
// provider where a server answers; the OpenAL calls are the fallback, which know no loss.
// The recorder opens its device through the provider of the services it was made with
// (ZVPlatformServices::capture), so a test hands in its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The oldest frames a device holds, up to the next loss: `frames` of them, the first
// captured at `captureTime` (absolute time, seconds), and `lostBefore` frames that the
// server captured and lost just before it.
struct ZVCaptureRun {
    int32_t frames = 0;
    double captureTime = 0;
    int64_t lostBefore = 0;
};

class ZVCaptureDevice {
  public:
    virtual ~ZVCaptureDevice() = default;  // closes the device

    // Capture runs (true) or cannot (false); after stop(), start() resumes it, and the
    // stretch between is no loss. Frames already captured stay readable after stop().
    // Worker thread (the reader's).
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Every frame captured and not yet read, across losses. Worker thread (the reader's).
    virtual int32_t framesReady() = 0;
    // The oldest run (frames 0 when nothing is ready). Worker thread (the reader's).
    virtual ZVCaptureRun peek() = 0;
    // Copies `frames` (at most the oldest run's) into `buffer` and lets go of them.
    // Worker thread (the reader's).
    virtual void read(void* buffer, int32_t frames) = 0;
    // False once the device or its server went away for good. Worker thread (the reader's).
    virtual bool isConnected() = 0;
    // Whether the device has captured anything since start(). Any thread.
    virtual bool hasCaptured() const = 0;
    // How long sound captured by now may take to be ready (a source that delivers in
    // bursts); 0 when what is ready is all there is. Any thread.
    virtual double lateSoundSeconds() const { return 0; }
    // Calls `ready`, on the device's own thread, whenever frames arrive or the device's
    // state changes (it went away), from now until it is closed, so that the reader can
    // sleep until then; false when the device cannot tell, and the reader asks it again
    // after a short while. Worker thread (the reader's).
    virtual bool notifyWhenReady(std::function<void()> /*ready*/) { return false; }
};

class ZVCaptureProvider {
  public:
    virtual ~ZVCaptureProvider() = default;
    // The device named as the device list names it (empty: the default input), opened for
    // `rate` frames per second of the OpenAL capture format `alFormat` (0x1100 to 0x1103),
    // keeping at least `bufferFrames`; nullptr and an error code in *error when it does not
    // open. Any thread.
    virtual std::unique_ptr<ZVCaptureDevice> open(const std::string& name, uint32_t rate,
                                                  int32_t alFormat, int32_t bufferFrames,
                                                  int32_t* error) const = 0;
};
