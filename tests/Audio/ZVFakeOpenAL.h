#pragma once
// An OpenAL provider whose device is a script: the test says how many frames are ready
// (or lets a device of its own say it) and sees every call. It makes the recorder's thresholds and
// call order deterministic, beside the tests on a real PulseAudio server.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ZorvanInternal.h"

class ZVFakeOpenAL {
  public:
    ZVFakeOpenAL();  // the script that the services() below open their devices over
    ~ZVFakeOpenAL();

    // The platform's services with the capture provider over this script's OpenAL calls.
    const ZVPlatformServices& services() const { return _services; }

    std::atomic<bool> opens{true};
    std::atomic<int32_t> error{0};
    std::atomic<int32_t> ready{0};  // frames reported ready
    std::atomic<int32_t> reads{0};
    std::atomic<bool> connected{true};  // false: unplugged

    // A device of the test's own in place of the script (set before the recorder opens):
    // told of each start, it says how many frames are ready and fills what is read.
    std::function<void()> onStart;
    std::function<int32_t()> readyFrames;
    std::function<void(void* buffer, int32_t frames)> fill;

    std::vector<std::string> calls();  // "open NAME", "start", "stop", "close", "read N"

  private:
    static const ZVOpenALProvider kProvider;
    static ZVFakeOpenAL* current;
    void note(std::string call);
    ZVPlatformServices _services;
    std::mutex _lock;  // guards _calls
    std::vector<std::string> _calls;
};
