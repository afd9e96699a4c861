#pragma once
#include "ZVPrivate.h"  // library-internal

// A capture device over a libpulse record stream, on a connection of its own. The server's
// timing reports say when each fragment was captured: the report's time, less what the
// source still held then (plus, for a monitor, what its sink will play later), along the
// stream from the report's write index. A fragment that comes later than the one before
// it ends by more than kLossSeconds follows frames the server lost (its queue for us
// overflowed while we did not read); a hole in the stream is a loss too, and so is what the
// server skipped without a hole (PipeWire's server, whose queue for us overflowed, goes on
// at the newest fragment and says so only by its read index in the next timing report,
// which then runs ahead of ours); nothing else is.
//
// Threads: the main loop's thread receives fragments into the queue; the reader (the
// recorder's worker) takes them. _lock guards the queue; the main loop's lock is taken
// before it, never after.
#include <pulse/pulseaudio.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Audio/ZVCaptureProvider.h"
#include "Foundation/ZVMutex.h"
#include "Platform/Pulse/ZVPulseConnection.h"

class ZVPulseCapture : public ZVCaptureDevice {
  public:
    // The source listed as `name` (empty: the server's default source), corked; nullptr
    // with a libpulse error code in *error. Any thread but a main-loop thread; blocks for
    // at most a few seconds.
    static std::unique_ptr<ZVPulseCapture> open(const std::string& name, uint32_t rate,
                                                int32_t alFormat, int32_t* error);
    ~ZVPulseCapture() override;

    bool start() override;
    void stop() override;
    int32_t framesReady() override;
    ZVCaptureRun peek() override;
    void read(void* buffer, int32_t frames) override;
    bool isConnected() override;
    bool hasCaptured() const override { return _captured.load(std::memory_order_relaxed); }
    // PulseAudio's sine source delivers in bursts of about two seconds.
    double lateSoundSeconds() const override { return 2.5; }
    bool notifyWhenReady(std::function<void()> ready) override;

    // Whether a sound server answers here (a provider of this kind can work). Any thread
    // but a main-loop thread; blocks for at most a few seconds.
    static bool serverAnswers();
    // The provider that opens these devices. Any thread.
    static const ZVCaptureProvider* provider();

    // A fragment this much later than the one before it ends follows a loss. The reports
    // place fragments within a few milliseconds, but on a loaded machine a report now and
    // then is tens of milliseconds off; the server drops only after kServerBufferSeconds
    // without a read, and then whole pushes of the source.
    static constexpr double kLossSeconds = 0.1;
    // What the server keeps for us while we do not read (more than a source that delivers
    // in bursts hands over at once: PulseAudio's sine source, 2 s), and what we keep for
    // the reader. PulseAudio drops only what does not fit; PipeWire's server, once it
    // overflows, drops all it kept but the newest fragment (a reader stopped for 4.5 s
    // loses 4.3 s there).
    static constexpr double kServerBufferSeconds = 3;
    static constexpr double kQueueSeconds = 10;
    // Timing reports are asked for this often, beside libpulse's own (which grow sparse):
    // a loss is placed within this much of where it happened.
    static constexpr double kTimingSeconds = 0.25;

  private:
    ZVPulseCapture(uint32_t rate, uint32_t frameBytes);
    static void onRead(pa_stream* s, size_t bytes, void* u);
    // When the fragment starting at stream byte `index` was captured (absolute time).
    // Main-loop thread.
    double captureTime(pa_stream* s, int64_t index);
    // Asks for a fresh timing report unless one is on its way or came a moment ago.
    // Main-loop thread.
    void refreshTiming(pa_stream* s);
    // The stream bytes the server passed over before the fragment at _index: how far the
    // last timing report's read index (which libpulse moves on with our reads) runs ahead.
    // Main-loop thread.
    int64_t skippedBytes(pa_stream* s) const;
    void cork(bool corked);

    struct Fragment {
        std::vector<uint8_t> bytes;
        size_t at = 0;  // bytes already read
        double time = 0;
        int64_t lostBefore = 0;
    };

    ZVPulseConnection _connection{"Zorvan capture"};
    pa_stream* _stream = nullptr;  // changed only under the main loop's lock
    const double _rate;
    const uint32_t _frameBytes;

    // The main loop's, under its lock.
    int64_t _index = 0;         // stream bytes received, holes included
    double _nextTime = 0;       // when the frame after the last fragment was due; 0: none
    bool _timingAsked = false;  // a timing report is on its way
    double _timingAskedAt = 0;
    std::function<void()> _ready;  // the reader's wake-up, after fragments or a state change

    ZVMutex _lock;  // guards the queue
    std::deque<Fragment> _queue ZV_GUARDED_BY(_lock);
    int64_t _queuedFrames ZV_GUARDED_BY(_lock) = 0;
    int64_t _lostPending ZV_GUARDED_BY(_lock) = 0;  // lost before the next fragment
    bool _resumed ZV_GUARDED_BY(_lock) = false;     // the next fragment follows a pause
    std::atomic<bool> _captured{false};
};
