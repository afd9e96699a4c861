#pragma once
// Records one audio input device into sound packets through the OpenAL capture calls.
// The device is opened at creation and started by the worker, which then holds back its
// first read while the recorder is suspended, so that several recorders start in step.
//
// The packets keep one time line with the device's clock: startOffsetTime is when the
// device captured the track's first frame (after the time given to startAtTime), and
// frames the device lost later are logged and put in as silence of their length, so frame
// n was captured at startOffsetTime + n / measuredSampleRate. What the device captured
// while the recorder was suspended, or before the common start time, is dropped; a
// paused stretch is left out, as the screen recorder leaves it out of its timestamps.
//
// Threads: the caller configures, starts, stops, pauses and lifts the suspension; the
// worker reads. Every call on the capture device after opening is made under _deviceLock.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Audio/ZVCaptureClock.h"
#include "Audio/ZVSoundFormat.h"
#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVDelegates.h"
#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVSyncStart.h"
#include "Pipeline/ZVWorker.h"

inline constexpr int32_t kSoundInputRecorderDefultFormat = 0x1103;  // 16-bit stereo
inline constexpr float kSoundInputRecorderDefultSampleRate = 44100.0f;
inline constexpr int32_t kSoundInputRecorderDefultSliceSize = 4096;

class ZVSoundInputRecorder : public ZVStage {
  public:
    // The input devices' names, the default first. Any thread; asks the audio server.
    static std::vector<std::string> availableDevices();
    // The names of the input (true) or output (false) devices, the default first; empty
    // when the list cannot be read. A device with two or more data sources appears once
    // per source as "device: source". Any thread; asks the audio server.
    static std::vector<std::string> availableDevicesIsInput(bool input);
    // The id of the device of that direction named exactly `name` (a plain device name of
    // the list); 0 when there is none or the list cannot be read. Any thread.
    static uint32_t deviceIdForDeviceName(const std::string& name, bool input);
    // The packet format of an OpenAL capture format code (0x1100 to 0x1103); other codes
    // give flags 0 and no channels or bits. Any thread.
    static ZVSoundFormat ZVSoundFormatForALFormat(int32_t alFormat, float sampleRate);

    // The recorder with its capture device open, suspended; nullptr after "Could not
    // initialize input device: %d" when the device does not open. An empty name opens the
    // default input device. Main thread (any thread works).
    static std::shared_ptr<ZVSoundInputRecorder> initWithDevice(const std::string& deviceName,
                                                                int32_t alFormat, float frequency,
                                                                int32_t sliceSize);
    // The above with 16-bit stereo, 44100 Hz and slices of 4096 frames. Main thread.
    static std::shared_ptr<ZVSoundInputRecorder> initWithDevice(const std::string& deviceName);
    ~ZVSoundInputRecorder() override;

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
    void stop();
    // Ends the recording at the worker's next check, also while it still opens its device
    // or waits for the suspension to be lifted (which it lifts); did-stop follows. For a
    // host that must not wait for the worker to reach its read loop. Any thread.
    void endRecording();
    void pause(bool paused);
    bool isPaused() const { return _worker.isPaused(); }
    bool isRunning() const { return _worker.isRunning(); }
    bool isLaunched() const { return _worker.isLaunched(); }

    // When the device captured the track's first frame, minus the time given to
    // startAtTime (0 when start was used). Any thread; from DidStart on, refined as the
    // device's frames show their timing, final once the worker has ended.
    double startOffsetTime() const { return _sync.startOffsetTime(); }
    // The device's frames per second against the absolute clock (CLOCK_MONOTONIC), as
    // measured while recording; the nominal rate until enough time has passed. Any thread.
    double measuredSampleRate() const { return _measuredRate.load(std::memory_order_relaxed); }
    // Silence put in for frames the device lost, and the number of such gaps. Any thread.
    int64_t filledFrames() const { return _filledFrames.load(std::memory_order_relaxed); }
    int32_t filledGaps() const { return _filledGaps.load(std::memory_order_relaxed); }
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

    // Borrowed; nullptr means the do-nothing delegate. Any thread.
    void setDelegate(ZVSoundInputRecorderDelegateInformalProtocol* d) { _delegate.store(d); }
    ZVSoundInputRecorderDelegateInformalProtocol* delegate() const { return _delegate.load(); }

  private:
    ZVSoundInputRecorder(std::string deviceName, int32_t alFormat, float frequency,
                         int32_t sliceSize);

    void soundInputReader();  // worker only
    void readLoop();          // worker only
    // Follows the device's clock at one look at its buffer; answers the frames ready.
    // `keep`: frames lost now are put in as silence. Worker only.
    int32_t followClock(bool keep) ZV_REQUIRES(_deviceLock);
    void noteStartOffset();                                 // worker only
    void drop(int32_t frames) ZV_REQUIRES(_deviceLock);     // worker only
    bool deliver(int32_t frames) ZV_REQUIRES(_deviceLock);  // worker only; false: no packet
    void fillSilence(int64_t frames);                       // worker only
    void closeDevice() ZV_EXCLUDES(_deviceLock);

    const std::string _deviceName;
    const float _sampleRate;
    const int32_t _framesInSlice;
    std::atomic<int32_t> _safetyFramesInSilce{1024};
    const int32_t _alFormat;
    std::atomic<int32_t> _totalFramesRead{0};
    const ZVSoundFormat _zvFormat;
    ZVMutex _deviceLock;  // serialises every call on the capture device, and guards the handle
    void* _inputDevice ZV_GUARDED_BY(_deviceLock) = nullptr;
    ZVSyncStart _sync;

    // The time line, owned by the worker: frames on it are every frame the device
    // delivered plus those it lost.
    ZVCaptureClock _clock;
    int64_t _deviceFrames = 0;  // read from the device, kept or dropped
    int64_t _lostFrames = 0;    // lost (filled in, or the paused stretch)
    int64_t _framesInAll = 0;   // on the time line at the last look
    int32_t _readyBefore = 0;   // ready at the previous look
    int64_t _firstFrame = -1;   // the track's first frame on the time line
    double _usualLateness = 0;  // of arrivals, smoothed
    // The arrivals that came late in a row, for losses too short to tell at once.
    struct LateRun {
        double since = 0;
        double least = 1e300;  // the smallest lateness
        int arrivals = 0;
    } _lateRun;
    std::vector<uint8_t> _scratch;                     // for dropped frames
    bool _resumed ZV_GUARDED_BY(_deviceLock) = false;  // the next delay is a pause, not a loss
    std::atomic<double> _measuredRate;
    std::atomic<int64_t> _filledFrames{0};
    std::atomic<int32_t> _filledGaps{0};
    std::atomic<ZVSoundInputRecorderDelegateInformalProtocol*> _delegate{nullptr};
    ZVWorker _worker;
};
