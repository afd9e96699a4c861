#include "Audio/ZVSoundInputRecorder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "Audio/ZVAudioDevice.h"
#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVOpenALProvider.h"
#include "Audio/ZVSoundPacket.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVTime.h"
#include "Pipeline/ZVNotificationNames.h"

namespace {

// The OpenAL calls through the provider of the moment; with none, each yields zero or
// nothing, so opening fails with error 0.
const ZVOpenALProvider* al() {
    return ZVOpenALGetProvider();
}

void* alOpen(const char* name, uint32_t frequency, int32_t format, int32_t bufferSize) {
    auto* p = al();
    return p ? p->alcCaptureOpenDevice(name, frequency, format, bufferSize) : nullptr;
}
int32_t alError(void* device) {
    auto* p = al();
    return p ? p->alcGetError(device) : 0;
}
void alStart(void* device) {
    if (auto* p = al()) p->alcCaptureStart(device);
}
void alStop(void* device) {
    if (auto* p = al()) p->alcCaptureStop(device);
}
int32_t alFramesReady(void* device) {
    int32_t frames = 0;
    if (auto* p = al()) p->alcGetIntegerv(device, kZVALCCaptureSamples, 1, &frames);
    return frames;
}
// A device that answers nothing counts as connected.
bool alConnected(void* device) {
    int32_t connected = 1;
    if (auto* p = al()) p->alcGetIntegerv(device, kZVALCConnected, 1, &connected);
    return connected != 0;
}
void alRead(void* device, void* buffer, int32_t frames) {
    if (auto* p = al()) p->alcCaptureSamples(device, buffer, frames);
}
void alClose(void* device) {
    if (auto* p = al()) p->alcCaptureCloseDevice(device);
}

// Frames that come later than the device's clock says by more than this were lost (a
// stall, an overflowing buffer): a frame is seen soon after it was captured, whatever
// the delivery's size, so a delayed delivery is never this late.
constexpr double kGapSeconds = 0.1;
// Shorter losses are told by every arrival coming at least this much late for a while.
constexpr double kShortGapSeconds = 0.02;
constexpr double kShortGapConfirmSeconds = 0.5;
// Silence goes out in packets of at most this many frames.
constexpr int64_t kSilenceFrames = 1 << 16;
// Frames are at most this wide in the four OpenAL capture formats.
constexpr size_t kMaxFrameBytes = 4;

// The rate as OpenAL takes it: truncated toward zero.
uint32_t alFrequency(float rate) {
    return rate >= 1 && rate < 4294967296.0f ? static_cast<uint32_t>(rate) : 0;
}

ZVSoundInputRecorderDelegateInformalProtocol gNoDelegate;

}  // namespace

std::vector<std::string> ZVSoundInputRecorder::availableDevices() {
    return availableDevicesIsInput(true);
}

std::vector<std::string> ZVSoundInputRecorder::availableDevicesIsInput(bool input) {
    auto hardware = ZVAudioHardware::shared();
    auto devices = hardware ? hardware->devices(input) : std::nullopt;
    return devices ? ZVAudioDeviceList::names(*devices) : std::vector<std::string>{};
}

uint32_t ZVSoundInputRecorder::deviceIdForDeviceName(const std::string& name, bool input) {
    auto hardware = ZVAudioHardware::shared();
    auto devices = hardware ? hardware->devices(input) : std::nullopt;
    return devices ? ZVAudioDeviceList::idForName(*devices, name) : 0;
}

ZVSoundFormat ZVSoundInputRecorder::ZVSoundFormatForALFormat(int32_t alFormat, float sampleRate) {
    // The four OpenAL capture formats; 8-bit sound is unsigned, 16-bit signed.
    static constexpr struct {
        int32_t code, channels, bits;
        uint32_t flags;
    } kFormats[] = {{0x1100, 1, 8, 0},
                    {0x1101, 1, 16, kZVSoundFormatSignedInteger},
                    {0x1102, 2, 8, 0},
                    {0x1103, 2, 16, kZVSoundFormatSignedInteger}};
    ZVSoundFormat f;  // unsupported codes: flags 0, no channels, no bits
    f.sampleRate = sampleRate;
    for (const auto& known : kFormats)
        if (known.code == alFormat) f = {known.channels, known.bits, sampleRate, known.flags};
    return f;
}

ZVSoundInputRecorder::ZVSoundInputRecorder(std::string deviceName, int32_t alFormat,
                                           float frequency, int32_t sliceSize)
    : _deviceName(std::move(deviceName)),
      _sampleRate(frequency),
      _framesInSlice(sliceSize),
      _alFormat(alFormat),
      _zvFormat(ZVSoundFormatForALFormat(alFormat, frequency)),
      _clock(frequency),
      _measuredRate(frequency) {}

std::shared_ptr<ZVSoundInputRecorder> ZVSoundInputRecorder::initWithDevice(
    const std::string& deviceName, int32_t alFormat, float frequency, int32_t sliceSize) {
    void* device = alOpen(deviceName.empty() ? nullptr : deviceName.c_str(), alFrequency(frequency),
                          alFormat, sliceSize);
    if (!device) {
        ZVLog("Could not initialize input device: %d", alError(nullptr));
        return nullptr;
    }
    std::shared_ptr<ZVSoundInputRecorder> r(
        new ZVSoundInputRecorder(deviceName, alFormat, frequency, sliceSize));
    {
        ZVLockGuard g(r->_deviceLock);
        r->_inputDevice = device;
    }
    ZVSoundInputRecorder* self = r.get();
    auto delegate = [self] {
        auto* d = self->delegate();
        return d ? d : &gNoDelegate;
    };
    r->forwardToDelegate(ZVSoundInputRecorderShouldStartNotification, [=](const ZVNotification&) {
        delegate()->ZVSoundInputRecorderShouldStart(self);
    });
    r->forwardToDelegate(ZVSoundInputRecorderWillStartNotification, [=](const ZVNotification&) {
        delegate()->ZVSoundInputRecorderWillStart(self);
    });
    r->forwardToDelegate(ZVSoundInputRecorderDidStartNotification, [=](const ZVNotification&) {
        delegate()->ZVSoundInputRecorderDidStart(self);
    });
    r->forwardToDelegate(ZVSoundInputRecorderDidStopNotification, [=](const ZVNotification&) {
        delegate()->ZVSoundInputRecorderDidStop(self);
    });
    r->forwardToDelegate(
        ZVSoundInputRecorderDidChangePauseStateNotification, [=](const ZVNotification& n) {
            const ZVValue* state = n.userInfo.get(kZVPauseStateKey);
            delegate()->ZVSoundInputRecorderDidChangePauseState(self, state && state->boolValue());
        });
    return r;
}

std::shared_ptr<ZVSoundInputRecorder> ZVSoundInputRecorder::initWithDevice(
    const std::string& deviceName) {
    return initWithDevice(deviceName, kSoundInputRecorderDefultFormat,
                          kSoundInputRecorderDefultSampleRate, kSoundInputRecorderDefultSliceSize);
}

ZVSoundInputRecorder::~ZVSoundInputRecorder() {
    // Only a recorder whose worker never ran still has its device; the worker holds the
    // recorder until it has closed its own.
    closeDevice();
}

void ZVSoundInputRecorder::closeDevice() {
    ZVLockGuard g(_deviceLock);
    if (!_inputDevice) return;
    alStop(_inputDevice);
    alClose(_inputDevice);
    _inputDevice = nullptr;
}

void ZVSoundInputRecorder::start() {
    {
        ZVLockGuard g(_deviceLock);
        if (!_inputDevice) return;  // recorded once already
    }
    if (!_worker.claimLaunch()) return;
    post(ZVSoundInputRecorderShouldStartNotification);
    _worker.launch(
        owner(), [this] { soundInputReader(); },
        [this] { postDidStop(ZVSoundInputRecorderDidStopNotification); }, [this] { stop(); });
}

void ZVSoundInputRecorder::startAtTime(double absoluteTime) {
    _sync.setRealStartTime(absoluteTime);
    start();
}

void ZVSoundInputRecorder::stop() {
    if (_worker.stop()) post(ZVSoundInputRecorderShouldStopNotification);
}

void ZVSoundInputRecorder::endRecording() {
    setSuspended(false);
    if (_worker.stop())
        post(ZVSoundInputRecorderShouldStopNotification);
    else
        _worker.requestStop();  // not reading yet: its read loop ends at once
}

void ZVSoundInputRecorder::pause(bool paused) {
    {
        // The worker checks the pause flag under this lock, so it never reads from a
        // device that pause has just stopped.
        ZVLockGuard g(_deviceLock);
        if (!_inputDevice || !_worker.pause(paused)) return;
        if (paused)
            alStop(_inputDevice);
        else
            alStart(_inputDevice);
        _resumed = !paused;
    }
    ZVValue info = ZVValue::dict();
    info.set(kZVPauseStateKey, paused);
    post(ZVSoundInputRecorderDidChangePauseStateNotification, std::move(info));
}

void ZVSoundInputRecorder::soundInputReader() {
    // The device is closed however the worker leaves.
    struct Closer {
        ZVSoundInputRecorder* r;
        ~Closer() { r->closeDevice(); }
    } closer{this};

    post(ZVSoundInputRecorderWillStartNotification);
    _totalFramesRead.store(0, std::memory_order_relaxed);
    {
        ZVLockGuard g(_deviceLock);
        alStart(_inputDevice);
    }
    // Capture already runs; reading waits for the host to lift the suspension, so that
    // recorders started together begin together. Meanwhile the device's clock is
    // followed, and full slices are dropped so that its buffer never overflows.
    while (_sync.isSuspended()) {
        {
            ZVLockGuard g(_deviceLock);
            const int32_t ready = followClock(false);
            if (ready >= _framesInSlice - _safetyFramesInSilce.load()) drop(ready);
        }
        std::this_thread::sleep_for(ZVWorker::kSuspendSleep);
    }
    {
        // The track begins with the first frame after the release.
        ZVLockGuard g(_deviceLock);
        drop(followClock(false));
        _firstFrame = _framesInAll;
    }
    _worker.running();
    // Provisional: the device's first frames tell when its first frame was captured.
    _sync.markFirstActiveMoment();
    post(ZVSoundInputRecorderDidStartNotification);
    readLoop();
    post(ZVSoundInputRecorderWillStopNotification);
}

int32_t ZVSoundInputRecorder::followClock(bool keep) {
    int32_t ready = std::max(alFramesReady(_inputDevice), 0);
    const double now = ZVAbsoluteTimeGetCurrent();
    int64_t inAll = _deviceFrames + _lostFrames + ready;
    if (ready > 0 && inAll > _framesInAll) {
        // New frames came: their newest was captured just before now.
        if (_clock.hasArrivals()) {
            const double late = _clock.lateness(now, inAll) - _usualLateness;
            // A loss too short to tell from a slow delivery shows as every arrival coming
            // late by its length for a while.
            if (late > kShortGapSeconds) {
                if (_lateRun.arrivals++ == 0) _lateRun.since = now;
                _lateRun.least = std::min(_lateRun.least, late);
            } else {
                _lateRun = LateRun{};
            }
            const bool shortLoss =
                keep && _lateRun.arrivals >= 5 && now - _lateRun.since >= kShortGapConfirmSeconds;
            if (_resumed) {
                // The paused stretch is left out of the track, as the screen leaves it out.
                const auto paused = std::max<int64_t>(0, std::llround(late * _sampleRate));
                _lostFrames += paused;
                inAll += paused;
                _resumed = false;
            } else if (late > kGapSeconds || shortLoss) {
                const double seconds = late > kGapSeconds ? late : _lateRun.least;
                // What was ready at the previous look came before a loss seen at once.
                const int32_t before = late > kGapSeconds ? std::min(_readyBefore, ready) : 0;
                const auto lost = std::llround(seconds * _sampleRate);
                if (keep && (before <= 0 || deliver(before))) {
                    ready -= before;
                    ZVLog(
                        "ZVSoundInputRecorder: \"%s\" lost %.3f s of sound %.3f s into the "
                        "recording; filled with silence",
                        _deviceName.c_str(), double(lost) / _sampleRate,
                        double(_totalFramesRead.load(std::memory_order_relaxed)) / _sampleRate);
                    fillSilence(lost);
                    _filledGaps.fetch_add(1, std::memory_order_relaxed);
                }
                _lostFrames += lost;
                inAll += lost;
                _lateRun = LateRun{};
            } else if (late < kShortGapSeconds) {
                _usualLateness += 0.05 * late;
            }
        }
        _clock.addArrival(now, inAll);
        _framesInAll = inAll;
        _measuredRate.store(_clock.measuredRate(), std::memory_order_relaxed);
        if (_firstFrame >= 0) noteStartOffset();
    }
    _readyBefore = ready;
    return ready;
}

void ZVSoundInputRecorder::noteStartOffset() {
    // With a common start time the frames captured before it were dropped; the clock's
    // refinements (a millisecond or so) must not put the track before it again.
    const double common = _sync.realStartTime();
    const double offset = _clock.captureTime(_firstFrame) - common;
    _sync.setStartOffsetTime(common > 0 ? std::max(offset, 0.0) : offset);
}

void ZVSoundInputRecorder::drop(int32_t frames) {
    if (frames <= 0) return;
    _scratch.resize(size_t(frames) * kMaxFrameBytes);
    alRead(_inputDevice, _scratch.data(), frames);
    _deviceFrames += frames;
    _readyBefore = std::max(0, _readyBefore - frames);
}

bool ZVSoundInputRecorder::deliver(int32_t frames) {
    auto packet = ZVSoundPacket::soundPacketWithFormat(_zvFormat, frames);
    if (!packet) {
        // The packet reported the failure; never read into a missing buffer.
        const std::string why = ZVFormat("recording of \"%s\" ended: no packet for %d frames",
                                         _deviceName.c_str(), frames);
        ZVLog("ZVSoundInputRecorder: %s", why.c_str());
        fail(why);
        return false;
    }
    alRead(_inputDevice, packet->baseAddres(), frames);
    _deviceFrames += frames;
    _readyBefore = std::max(0, _readyBefore - frames);
    _totalFramesRead.fetch_add(frames, std::memory_order_relaxed);
    destination().addObject(std::move(packet));
    return true;
}

void ZVSoundInputRecorder::fillSilence(int64_t frames) {
    // Unsigned 8-bit sound is silent at its middle value, the signed formats at zero.
    const int fill = _zvFormat.bitsPerChannel == 8 ? 0x80 : 0;
    while (frames > 0) {
        const auto n = int32_t(std::min(frames, kSilenceFrames));
        auto packet = ZVSoundPacket::soundPacketWithFormat(_zvFormat, n);
        if (!packet) return;  // reported by the packet; the time line still counts them
        std::memset(packet->baseAddres(), fill, size_t(packet->bufferSize()));
        _totalFramesRead.fetch_add(n, std::memory_order_relaxed);
        _filledFrames.fetch_add(n, std::memory_order_relaxed);
        destination().addObject(std::move(packet));
        frames -= n;
    }
}

void ZVSoundInputRecorder::readLoop() {
    while (_worker.shouldContinue()) {
        bool idle = true;
        {
            // Lock order: the device lock, then the destination's own lock.
            ZVLockGuard g(_deviceLock);
            const int32_t threshold = _framesInSlice - _safetyFramesInSilce.load();
            if (!_worker.isPaused() && !alConnected(_inputDevice)) {
                // Unplugged, or its server went away: nothing more will come, but what
                // was captured before goes into the track.
                if (const int32_t ready = followClock(true); ready > 0) deliver(ready);
                const std::string why = ZVFormat(
                    "recording of \"%s\" ended: the device was disconnected after %.3f s",
                    _deviceName.c_str(),
                    double(_totalFramesRead.load(std::memory_order_relaxed)) / _sampleRate);
                ZVLog("ZVSoundInputRecorder: %s", why.c_str());
                fail(why);
                break;
            }
            if (!_worker.isPaused() && destination().canAcceptObject()) {
                int32_t ready = followClock(true);
                if (ready > 0 && ready >= threshold) {
                    // The first frames in may have been captured just before the common
                    // start time: the track starts after it, as every track does.
                    const double common = _sync.realStartTime();
                    if (_totalFramesRead.load(std::memory_order_relaxed) == 0 && common > 0) {
                        const double early = common - _clock.captureTime(_firstFrame);
                        const auto skip = int32_t(std::clamp<double>(std::ceil(early * _sampleRate),
                                                                     0, double(ready - 1)));
                        drop(skip);
                        _firstFrame += skip;
                        noteStartOffset();
                        ready -= skip;
                    }
                    // Everything ready at once, so each packet holds at least a slice less
                    // the safety margin.
                    if (!deliver(ready)) break;
                    idle = false;
                }
            }
        }
        // Sleeping outside the lock: a mutex is not fair, and a worker that slept while
        // holding it would take it straight back and keep pause waiting indefinitely.
        if (idle) std::this_thread::sleep_for(ZVWorker::kIdleSleep);
    }
}
