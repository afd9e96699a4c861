// The capture provider over the OpenAL calls. OpenAL says how many frames are ready but
// not when they were captured: the newest was captured just before it was seen, which
// places the others (the recorder's rate fit smooths what deliveries add). It knows
// nothing of losses, so it reports none: without the server's word, a late delivery is
// not a loss.
#include <algorithm>
#include <atomic>

#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVOpenALProvider.h"
#include "Foundation/ZVTime.h"

namespace {

class OpenALCaptureDevice : public ZVCaptureDevice {
  public:
    OpenALCaptureDevice(const ZVOpenALProvider* al, void* device, double rate)
        : _al(al), _device(device), _rate(rate) {}
    ~OpenALCaptureDevice() override {
        _al->alcCaptureStop(_device);
        _al->alcCaptureCloseDevice(_device);
    }

    bool start() override {
        _al->alcCaptureStart(_device);
        return true;
    }
    void stop() override { _al->alcCaptureStop(_device); }
    int32_t framesReady() override {
        int32_t ready = 0;
        _al->alcGetIntegerv(_device, kZVALCCaptureSamples, 1, &ready);
        if (ready > 0) _captured.store(true, std::memory_order_relaxed);
        return std::max(ready, 0);
    }
    ZVCaptureRun peek() override {
        const int32_t ready = framesReady();
        return {ready, ready > 0 ? ZVAbsoluteTimeGetCurrent() - ready / _rate : 0, 0};
    }
    void read(void* buffer, int32_t frames) override {
        _al->alcCaptureSamples(_device, buffer, frames);
    }
    // A device that answers nothing counts as connected.
    bool isConnected() override {
        int32_t connected = 1;
        _al->alcGetIntegerv(_device, kZVALCConnected, 1, &connected);
        return connected != 0;
    }
    bool hasCaptured() const override { return _captured.load(std::memory_order_relaxed); }

  private:
    const ZVOpenALProvider* _al;
    void* _device;
    double _rate;
    std::atomic<bool> _captured{false};
};

class OpenALCaptureProvider : public ZVCaptureProvider {
  public:
    explicit OpenALCaptureProvider(const ZVOpenALProvider* calls) : _calls(calls) {}

    std::unique_ptr<ZVCaptureDevice> open(const std::string& name, uint32_t rate, int32_t alFormat,
                                          int32_t bufferFrames, int32_t* error) const override {
        // Without OpenAL calls nothing opens, with error 0.
        const ZVOpenALProvider* al = _calls;
        void* device = al ? al->alcCaptureOpenDevice(name.empty() ? nullptr : name.c_str(), rate,
                                                     alFormat, bufferFrames)
                          : nullptr;
        if (!device) {
            if (error) *error = al ? al->alcGetError(nullptr) : 0;
            return nullptr;
        }
        return std::make_unique<OpenALCaptureDevice>(al, device, rate);
    }

  private:
    const ZVOpenALProvider* _calls;  // borrowed: outlives the provider
};

}  // namespace

std::shared_ptr<const ZVCaptureProvider> ZVOpenALCaptureProvider(const ZVOpenALProvider* calls) {
    return std::make_shared<OpenALCaptureProvider>(calls);
}
