#pragma once
#include "ZVPrivate.h"  // library-internal

// A capture device over a libpulse record stream, on a connection of its own. The server's
// timing reports say when each fragment was captured: the report's time, less what the
// source still held then (plus, for a monitor, what its sink will play later), along the
// stream from the report's write index. Fragments wait until the timing report current when
// they came is settled by the few after it, so that late reports are left out
// (ZVTimingReportFilter) and a lasting step in the reports is a loss: frames the server
// never delivered (PipeWire's graph missing cycles on a busy machine, a reader that fell
// behind) are kept as silence where they were missing, and the sound after them stays in
// step. A hole in the stream is a loss too, and so is what the server skipped without a
// hole (PipeWire's server, whose queue for us overflowed, goes on at the newest fragment
// and says so only by its read index in the next timing report, which then runs ahead of
// ours).
//
// Threads: the main loop's thread receives fragments, holds them until they are timed and
// moves them into the queue; the reader (the recorder's worker) takes them. _lock guards
// the queue; the main loop's lock is taken before it, never after.
#include <pulse/pulseaudio.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVTimingReportFilter.h"
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

    // A step of the stream's origin beyond this is made good. PipeWire's server reports
    // from its graph's clock: the earliest of a few reports is within a fraction of a
    // millisecond; on a busy machine the graph loses tens to hundreds of milliseconds at a
    // time, which no client hears of otherwise. Its time line also moves by a few
    // milliseconds now and then (a cycle, the resampler), which the measured rate absorbs
    // without a silence in the track.
    static constexpr double kGraphLossSeconds = 0.01;
    // PulseAudio's reports move by several milliseconds and stay there for a few reports
    // without any loss (a monitor of a sink fed at the default latency), and PulseAudio
    // loses sound only when we do not read: then whole pushes of the source.
    static constexpr double kLossSeconds = 0.1;
    // What the server keeps for us while we do not read (more than a source that delivers
    // in bursts hands over at once: PulseAudio's sine source, 2 s), and what we keep for
    // the reader. PulseAudio drops only what does not fit; PipeWire's server, once it
    // overflows, drops all it kept but the newest fragment (a reader stopped for 4.5 s
    // loses 4.3 s there).
    static constexpr double kServerBufferSeconds = 3;
    static constexpr double kQueueSeconds = 10;
    // Timing reports are asked for this often, beside libpulse's own (which grow sparse):
    // a loss is placed within this much of where it happened, and fragments wait about
    // ZVTimingReportFilter::kWindow times this for their time.
    static constexpr double kTimingSeconds = 0.1;
    // Fragments wait at most this long for a timing report; then they go on as the
    // reports so far time them.
    static constexpr double kHoldSeconds = 1;

  private:
    ZVPulseCapture(uint32_t rate, uint32_t frameBytes);
    static void onRead(pa_stream* s, size_t bytes, void* u);
    // The stream's origin (when its byte 0 would have been captured) as the newest timing
    // report gives it, if that report is new since the last call. Main-loop thread.
    std::optional<double> newReport(pa_stream* s);
    // When the fragment just received was captured, without a timing report: from the
    // stream's latency now. Main-loop thread.
    static double timeWithoutReport(pa_stream* s);
    // Asks for a fresh timing report unless one is on its way or came a moment ago.
    // Main-loop thread.
    void refreshTiming(pa_stream* s);
    // The stream bytes the server passed over before the fragment at _index: how far the
    // last timing report's read index (which libpulse moves on with our reads) runs ahead.
    // Main-loop thread.
    int64_t skippedBytes(pa_stream* s) const;
    // Makes good a step of the origin before the held fragments (a loss before them, or
    // frames more than time left out of their start), then times those that came before
    // report lastReport + 1 by the origin (or, without one, as they came) and hands them
    // to the reader. Main-loop thread or its lock held.
    void release(std::optional<double> origin, double stepSeconds, int64_t lastReport);
    // Hands all held fragments on as the reports so far time them.
    void releaseAll() { release(_reports.current(), 0, INT64_MAX); }
    void cork(bool corked);

    struct Fragment {
        std::vector<uint8_t> bytes;
        size_t at = 0;  // bytes already read
        double time = 0;
        int64_t lostBefore = 0;
        int64_t index = 0;   // its first byte's place in the stream
        int64_t report = 0;  // the timing report that times it (the newest when it came)
        double arrived = 0;  // when it came (absolute time)
    };

    ZVPulseConnection _connection{"Zorvan capture"};
    pa_stream* _stream = nullptr;  // changed only under the main loop's lock
    const double _rate;
    const uint32_t _frameBytes;

    // The main loop's, under its lock.
    int64_t _index = 0;  // stream bytes received, holes included
    ZVTimingReportFilter _reports{kLossSeconds};
    timeval _reportTime{};  // the last timing report seen, by its time and index
    int64_t _reportWriteIndex = -1;
    std::vector<Fragment> _held;  // received, waiting for their time
    int64_t _lostHeld = 0;        // frames lost after the last held fragment
    bool _timingAsked = false;    // a timing report is on its way
    double _timingAskedAt = 0;
    std::function<void()> _ready;  // the reader's wake-up, after fragments or a state change

    ZVMutex _lock;  // guards the queue
    std::deque<Fragment> _queue ZV_GUARDED_BY(_lock);
    int64_t _queuedFrames ZV_GUARDED_BY(_lock) = 0;
    bool _resumed ZV_GUARDED_BY(_lock) = false;  // the next fragment follows a pause
    std::atomic<bool> _captured{false};
};
