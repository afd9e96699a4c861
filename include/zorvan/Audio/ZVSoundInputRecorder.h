#pragma once
// Records one audio input device into sound packets through the capture provider (the
// sound server's own stream, or the OpenAL calls where no server answers). The device is
// opened at creation; its capture may start before the worker does (startCapture), and
// the worker holds back the track while the recorder is suspended, so that several
// recorders start in step.
//
// The packets keep one time line with the device's clock: startOffsetTime is when the
// device captured the track's first frame (after the time given to startAtTime), and
// frames the sound server reports lost later are logged and put in as silence of their
// length, so frame n was captured at startOffsetTime + n / measuredSampleRate. Nothing
// else is a loss: a late delivery is only late. What the device captured before the
// common start time, or while the recorder was suspended without one, is dropped; a
// paused stretch is left out, as the screen recorder leaves it out of its timestamps.
//
// Threads: the caller configures, starts, stops, pauses and lifts the suspension; the
// worker reads. Every call on the capture device after opening is made under _deviceLock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVRateFit.h"
#include "Audio/ZVSoundFormat.h"
#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVSyncStart.h"
#include "Pipeline/ZVWorkerStage.h"
#include "Platform/ZVPlatformDefaults.h"

inline constexpr int32_t kSoundInputRecorderDefultFormat = 0x1103;  // 16-bit stereo
inline constexpr float kSoundInputRecorderDefultSampleRate = 44100.0f;
inline constexpr int32_t kSoundInputRecorderDefultSliceSize = 4096;

class ZVSoundInputRecorder;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVSoundInputRecorderShouldStartNotification =
    "ZVSoundInputRecorderShouldStartNotification";
inline constexpr std::string_view ZVSoundInputRecorderWillStartNotification =
    "ZVSoundInputRecorderWillStartNotification";
inline constexpr std::string_view ZVSoundInputRecorderDidStartNotification =
    "ZVSoundInputRecorderDidStartNotification";
inline constexpr std::string_view ZVSoundInputRecorderDidChangePauseStateNotification =
    "ZVSoundInputRecorderDidChangePauseStateNotification";
inline constexpr std::string_view ZVSoundInputRecorderShouldStopNotification =
    "ZVSoundInputRecorderShouldStopNotification";
inline constexpr std::string_view ZVSoundInputRecorderWillStopNotification =
    "ZVSoundInputRecorderWillStopNotification";
inline constexpr std::string_view ZVSoundInputRecorderDidStopNotification =
    "ZVSoundInputRecorderDidStopNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVSoundInputRecorderDelegateInformalProtocol {
  public:
    virtual ~ZVSoundInputRecorderDelegateInformalProtocol() = default;
    virtual void ZVSoundInputRecorderDidStart(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderDidStop(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderDidChangePauseState(ZVSoundInputRecorder*, bool /*paused*/) {}
    virtual void ZVSoundInputRecorderShouldStart(ZVSoundInputRecorder*) {}
    virtual void ZVSoundInputRecorderWillStart(ZVSoundInputRecorder*) {}
};

class ZVSoundInputRecorder : public ZVWorkerStage<ZVSoundInputRecorderDelegateInformalProtocol> {
  public:
    // The input devices' names, the default first. Any thread; asks the services' audio
    // hardware.
    static std::vector<std::string> availableDevices(
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // The names of the input (true) or output (false) devices, the default first; empty
    // when the list cannot be read. A device with two or more data sources appears once
    // per source as "device: source". Any thread; asks the services' audio hardware.
    static std::vector<std::string> availableDevicesIsInput(
        bool input, const ZVPlatformServices& services = ZVPlatformDefaults());
    // The id of the device of that direction named exactly `name` (a plain device name of
    // the list); 0 when there is none or the list cannot be read. Any thread.
    static uint32_t deviceIdForDeviceName(
        const std::string& name, bool input,
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // The packet format of an OpenAL capture format code (0x1100 to 0x1103); other codes
    // give flags 0 and no channels or bits. Any thread.
    static ZVSoundFormat ZVSoundFormatForALFormat(int32_t alFormat, float sampleRate);

    // The recorder with its capture device open, suspended; nullptr after "Could not
    // initialize input device: %d" when the device does not open. An empty name opens the
    // default input device. The device is opened through the services' capture provider.
    // Main thread (any thread works).
    static std::shared_ptr<ZVSoundInputRecorder> initWithDevice(
        const std::string& deviceName, int32_t alFormat, float frequency, int32_t sliceSize,
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // The above with 16-bit stereo, 44100 Hz and slices of 4096 frames. Main thread.
    static std::shared_ptr<ZVSoundInputRecorder> initWithDevice(
        const std::string& deviceName, const ZVPlatformServices& services = ZVPlatformDefaults());
    ~ZVSoundInputRecorder() override;

    // Starts the device's capture now, before start, so that the track can begin at the
    // common start time; what it captures before then is dropped. false when the device
    // cannot start. Any thread.
    bool startCapture();
    // Whether the device has captured sound since its capture started, so that its first
    // frames can lie at the common start time. Any thread.
    bool hasCaptured() const;

    // The worker reads once at least slice - safety frames are ready (1024 by default).
    // Any thread.
    void setSafetySlice(int32_t frames) { _safetyFramesInSilce.store(frames); }

    // Suspended after creation; lifting it lets a started worker read. Any thread.
    bool isSuspended() const { return _sync.isSuspended(); }
    void setSuspended(bool suspended) { _sync.setSuspended(suspended); }

    // Lifecycle. start launches the worker once (a recorder records once: after its worker
    // ended, its device is closed and start does nothing); startAtTime notes the common
    // start time first. stop and pause act only while the worker is reading, so not
    // while it is held back by the suspension. Any thread.
    void start();
    void startAtTime(double absoluteTime);
    void stop() override;
    // Ends the recording at the worker's next check, also while it still opens its device
    // or waits for the suspension to be lifted (which it lifts); did-stop follows. For a
    // host that must not wait for the worker to reach its read loop. Any thread.
    void endRecording();
    void pause(bool paused) override;

    // When the device captured the track's first frame, minus the time given to
    // startAtTime (0 when start was used). Any thread; from DidStart on, refined as the
    // device's frames show their timing, final once the worker has ended.
    double startOffsetTime() const { return _sync.startOffsetTime(); }
    // The device's frames per second against the absolute clock (CLOCK_MONOTONIC), as
    // measured while recording; the nominal rate until enough time has passed. Any thread.
    double measuredSampleRate() const { return _measuredRate.load(std::memory_order_relaxed); }
    // Silence put in for frames the sound server reported lost, and the number of such
    // losses. Any thread.
    int64_t filledFrames() const { return _filledFrames.load(std::memory_order_relaxed); }
    int32_t filledGaps() const { return _filledGaps.load(std::memory_order_relaxed); }
    // Each loss the server reported: where it lies in the track and how long it is, in
    // seconds. Any thread.
    std::vector<std::pair<double, double>> losses() const;
    // The packets' format, and the name the device was opened by. Any thread.
    ZVSoundFormat format() const { return _zvFormat; }
    const std::string& deviceName() const { return _deviceName; }
    // What the device was opened with. Any thread.
    float sampleRate() const { return _sampleRate; }
    int32_t alFormat() const { return _alFormat; }
    int32_t framesInSlice() const { return _framesInSlice; }
    // Frames read since the worker started (silence put in for lost frames included).
    // Any thread.
    int32_t totalFramesRead() const { return _totalFramesRead.load(std::memory_order_relaxed); }

    // The delegate (ZVWorkerStage's): nullptr means the do-nothing one.

  private:
    ZVSoundInputRecorder(std::string deviceName, int32_t alFormat, float frequency,
                         int32_t sliceSize);

    void soundInputReader();  // worker only
    void readLoop();          // worker only
    // Takes every run ready; `keep`: into the track (after the common start), else
    // dropped. false when a packet could not be made. Worker only.
    // `until`: only frames captured before then (and _reachedEnd once a frame after it
    // was seen).
    bool takeRuns(bool keep, double until = 1e300) ZV_REQUIRES(_deviceLock);
    // After the read loop: takes what the device captured before now, as it comes, for
    // a moment. Worker only.
    void takeTheRest();
    // Notes when a run's first frame was captured, on the time line without pauses.
    void noteRun(const ZVCaptureRun& run) ZV_REQUIRES(_deviceLock);  // worker only
    void noteStartOffset();                                          // worker only
    void drop(int32_t frames) ZV_REQUIRES(_deviceLock);              // worker only
    bool deliver(int32_t frames) ZV_REQUIRES(_deviceLock);  // worker only; false: no packet
    void fillSilence(int64_t frames);                       // worker only
    void closeDevice() ZV_EXCLUDES(_deviceLock);
    // Worker only: until the device has news or a flag changes, or at most `atMostSeconds`.
    void idleUntilFrames(double atMostSeconds = 1);

    const std::string _deviceName;
    const float _sampleRate;
    const int32_t _framesInSlice;
    std::atomic<int32_t> _safetyFramesInSilce{1024};
    const int32_t _alFormat;
    std::atomic<int32_t> _totalFramesRead{0};
    const ZVSoundFormat _zvFormat;
    mutable ZVMutex
        _deviceLock;  // serialises every call on the capture device, and guards the handle
    std::unique_ptr<ZVCaptureDevice> _inputDevice ZV_GUARDED_BY(_deviceLock);
    bool _capturing ZV_GUARDED_BY(_deviceLock) = false;  // started and not paused
    ZVSyncStart _sync;

    // The time line, owned by the worker: frames on it are every frame the device
    // captured (read or lost), and capture times leave the paused stretches out.
    ZVRateFit _fit;
    int64_t _deviceFrames = 0;  // read from the device or lost, kept or dropped
    int64_t _firstFrame = -1;   // the track's first frame on the time line
    double _pausedSeconds = 0;  // left out of the capture times so far
    double _nextTime = 0;       // when the next frame was due, before a pause
    bool _resumed ZV_GUARDED_BY(_deviceLock) = false;  // the next run follows a pause
    bool _reachedEnd = false;  // takeRuns saw a frame captured after its `until`
    // The device wakes the worker when frames arrive, so it sleeps until then (worker
    // only); without it the device is asked again every ZVWorker::kForeignPoll.
    bool _deviceNotifies = false;
    std::vector<uint8_t> _scratch;  // for dropped frames
    std::atomic<double> _measuredRate;
    std::atomic<int64_t> _filledFrames{0};
    std::atomic<int32_t> _filledGaps{0};
    mutable ZVMutex _lossLock;  // guards _losses (the worker adds, anyone reads)
    std::vector<std::pair<double, double>> _losses ZV_GUARDED_BY(_lossLock);
};
