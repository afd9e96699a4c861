#pragma once
#include "ZVPrivate.h"  // library-internal

// A play-through stream over libpulse: a record stream on an output device's monitor, or
// a playback stream to the device, on a connection of its own. The IO procedure runs on
// that connection's main-loop thread.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Audio/ZVAudioStream.h"
#include "Platform/Pulse/ZVPulseConnection.h"

class ZVPulseStream : public ZVAudioStream {
  public:
    // Connects to the sink with index `sinkIndex` (corked); nullptr with *error.
    // Any thread but a main-loop thread; blocks for at most a few seconds.
    static std::unique_ptr<ZVPulseStream> open(uint32_t sinkIndex, bool input, ZVAudioIOProc proc,
                                               void* clientData, std::string* error);
    ~ZVPulseStream() override;

    bool start() override;
    void stop() override;

    // One IO cycle's buffer: 20 ms of 16-bit stereo at 44100 Hz.
    static constexpr size_t kFragmentBytes = 44100 / 50 * 4;

  private:
    ZVPulseStream(uint32_t device, ZVAudioIOProc proc, void* clientData);
    static void onRead(pa_stream* s, size_t bytes, void* u);
    static void onWrite(pa_stream* s, size_t bytes, void* u);

    ZVPulseConnection _connection{"Zorvan play-through"};
    pa_stream* _stream = nullptr;  // changed only under the main loop's lock
    uint32_t _device;
    ZVAudioIOProc _proc;
    void* _clientData;
    // Set by stop() on any thread; the IO callbacks skip the procedure once it is set.
    std::atomic<bool> _running{false};
    std::vector<uint8_t> _pending;  // captured bytes short of a whole buffer; IO thread only
};
