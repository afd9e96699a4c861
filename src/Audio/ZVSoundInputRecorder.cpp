#include "Audio/ZVSoundInputRecorder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "Audio/ZVAudioDevice.h"
#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVSoundPacket.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVTime.h"

namespace {

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

std::vector<std::string> ZVSoundInputRecorder::availableDevices(
    const ZVPlatformServices& services) {
    return availableDevicesIsInput(true, services);
}

std::vector<std::string> ZVSoundInputRecorder::availableDevicesIsInput(
    bool input, const ZVPlatformServices& services) {
    const auto& hardware = services.audioHardware;
    auto devices = hardware ? hardware->devices(input) : std::nullopt;
    return devices ? ZVAudioDeviceList::names(*devices) : std::vector<std::string>{};
}

uint32_t ZVSoundInputRecorder::deviceIdForDeviceName(const std::string& name, bool input,
                                                     const ZVPlatformServices& services) {
    const auto& hardware = services.audioHardware;
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
      _fit(frequency),
      _measuredRate(frequency) {}

std::shared_ptr<ZVSoundInputRecorder> ZVSoundInputRecorder::initWithDevice(
    const std::string& deviceName, int32_t alFormat, float frequency, int32_t sliceSize,
    const ZVPlatformServices& services) {
    const ZVCaptureProvider* provider = services.capture.get();
    int32_t error = 0;
    std::unique_ptr<ZVCaptureDevice> device =
        provider ? provider->open(deviceName, alFrequency(frequency), alFormat, sliceSize, &error)
                 : nullptr;
    if (!device) {
        ZVLog("Could not initialize input device: %d", error);
        return nullptr;
    }
    std::shared_ptr<ZVSoundInputRecorder> r(
        new ZVSoundInputRecorder(deviceName, alFormat, frequency, sliceSize));
    {
        ZVLockGuard g(r->_deviceLock);
        r->_inputDevice = std::move(device);
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
    const std::string& deviceName, const ZVPlatformServices& services) {
    return initWithDevice(deviceName, kSoundInputRecorderDefultFormat,
                          kSoundInputRecorderDefultSampleRate, kSoundInputRecorderDefultSliceSize,
                          services);
}

ZVSoundInputRecorder::~ZVSoundInputRecorder() {
    // Only a recorder whose worker never ran still has its device; the worker holds the
    // recorder until it has closed its own.
    closeDevice();
}

void ZVSoundInputRecorder::closeDevice() {
    ZVLockGuard g(_deviceLock);
    _inputDevice.reset();
}

bool ZVSoundInputRecorder::startCapture() {
    ZVLockGuard g(_deviceLock);
    if (!_inputDevice) return false;
    if (!_capturing) _capturing = _inputDevice->start();
    return _capturing;
}

std::vector<std::pair<double, double>> ZVSoundInputRecorder::losses() const {
    ZVLockGuard g(_lossLock);
    return _losses;
}

bool ZVSoundInputRecorder::hasCaptured() const {
    ZVLockGuard g(_deviceLock);
    return _inputDevice && _inputDevice->hasCaptured();
}

void ZVSoundInputRecorder::start() {
    {
        ZVLockGuard g(_deviceLock);
        if (!_inputDevice) return;  // recorded once already
    }
    launchWorker([this] { soundInputReader(); }, ZVSoundInputRecorderDidStopNotification,
                 [this] { post(ZVSoundInputRecorderShouldStartNotification); });
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
        if (paused) {
            _inputDevice->stop();
        } else {
            _inputDevice->start();
            _resumed = true;
        }
        _capturing = !paused;
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
        // The device lives until closeDevice, and the worker with it.
        ZVLockGuard g(_deviceLock);
        _deviceNotifies = _inputDevice->notifyWhenReady([this] { _worker.nudge(); });
    }
    startCapture();
    // Capture already runs; the track waits for the host to lift the suspension, so that
    // recorders started together begin together. Meanwhile what was captured before the
    // common start time is dropped, and with no common time everything is.
    while (_sync.isSuspended()) {
        {
            ZVLockGuard g(_deviceLock);
            if (!takeRuns(false)) break;
        }
        // The suspension lasts from prepare to the session's start (a moment): what the
        // device captured meanwhile is dropped every kForeignPoll, and the lift wakes the
        // worker at once.
        _sync.waitWhileSuspended(ZVWorker::kForeignPoll);
    }
    {
        ZVLockGuard g(_deviceLock);
        // With no common time the track begins with the first frame after the release.
        if (_sync.realStartTime() <= 0) takeRuns(false);
    }
    _worker.running();
    // Provisional until the track's first frame is in.
    _sync.markFirstActiveMoment();
    post(ZVSoundInputRecorderDidStartNotification);
    readLoop();
    if (failureReason().empty()) takeTheRest();
    post(ZVSoundInputRecorderWillStopNotification);
}

void ZVSoundInputRecorder::noteRun(const ZVCaptureRun& run) {
    if (run.captureTime == 0) return;  // the device cannot tell
    double t = run.captureTime - _pausedSeconds;
    if (_resumed && _fit.hasPoints()) {
        // The stretch since the pause is left out of the time line, as from the picture.
        _pausedSeconds += std::max(0.0, t - _nextTime);
        t = run.captureTime - _pausedSeconds;
    }
    _resumed = false;
    _fit.add(t, _deviceFrames);
    _nextTime = t + double(run.frames) / _sampleRate;
    _measuredRate.store(_fit.rate(), std::memory_order_relaxed);
}

bool ZVSoundInputRecorder::takeRuns(bool keep, double until) {
    const double common = _sync.realStartTime();
    for (ZVCaptureRun run = _inputDevice->peek(); run.frames > 0; run = _inputDevice->peek()) {
        if (run.captureTime > 0 && run.captureTime + double(run.frames) / _sampleRate > until) {
            // Only what was captured before `until`.
            run.frames = int32_t(std::clamp<double>(
                std::ceil((until - run.captureTime) * _sampleRate), 0, run.frames));
            _reachedEnd = true;
            if (run.frames == 0) break;
        }
        // Before the track's first frame: what was captured before the common start time
        // is not the track's, and without one nothing before the release is.
        int32_t skip = 0;
        if (_firstFrame < 0 && common <= 0) {
            skip = keep ? 0 : run.frames;
        } else if (_firstFrame < 0 && run.captureTime > 0) {
            const double early = common - run.captureTime;
            skip = int32_t(std::clamp<double>(std::ceil(early * _sampleRate), 0, run.frames));
        }
        // Frames after the common start, before the release: held back (unread, so the
        // run still carries its loss).
        const bool hold = _firstFrame < 0 && !keep && skip < run.frames;
        if (hold && skip == 0) break;
        if (run.lostBefore > 0) {
            if (_firstFrame >= 0) {
                ZVLog(
                    "ZVSoundInputRecorder: the sound server lost %.3f s of sound from \"%s\" "
                    "%.3f s into the recording; kept as silence",
                    double(run.lostBefore) / _sampleRate, _deviceName.c_str(),
                    double(_totalFramesRead.load(std::memory_order_relaxed)) / _sampleRate);
                {
                    ZVLockGuard g(_lossLock);
                    _losses.emplace_back(
                        double(_totalFramesRead.load(std::memory_order_relaxed)) / _sampleRate,
                        double(run.lostBefore) / _sampleRate);
                }
                _filledGaps.fetch_add(1, std::memory_order_relaxed);
                fillSilence(run.lostBefore);
            }
            _deviceFrames += run.lostBefore;
        }
        noteRun(run);
        drop(skip);
        if (hold) break;
        const int32_t frames = run.frames - skip;
        if (frames == 0) continue;
        if (_firstFrame < 0) _firstFrame = _deviceFrames;
        if (!deliver(frames)) return false;
        if (_reachedEnd) break;
    }
    if (_firstFrame >= 0) noteStartOffset();
    return true;
}

void ZVSoundInputRecorder::takeTheRest() {
    // A source that delivers in bursts still holds sound captured before the stop; it is
    // the track's, so it is waited for a moment.
    const double end = ZVAbsoluteTimeGetCurrent();
    double wait = 0;
    {
        ZVLockGuard g(_deviceLock);
        if (_inputDevice->hasCaptured()) wait = _inputDevice->lateSoundSeconds();
    }
    while (ZVAbsoluteTimeGetCurrent() < end + wait) {
        {
            ZVLockGuard g(_deviceLock);
            if (_worker.isPaused() || !_inputDevice->isConnected() || !takeRuns(true, end) ||
                _reachedEnd)
                return;
        }
        idleUntilFrames(end + wait - ZVAbsoluteTimeGetCurrent());
    }
}

void ZVSoundInputRecorder::noteStartOffset() {
    // With a common start time the frames captured before it were dropped; the fit's
    // refinements (a millisecond or so) must not put the track before it again.
    if (!_fit.hasPoints()) return;
    const double common = _sync.realStartTime();
    const double offset = _fit.timeAt(_firstFrame) - common;
    _sync.setStartOffsetTime(common > 0 ? std::max(offset, 0.0) : offset);
}

void ZVSoundInputRecorder::drop(int32_t frames) {
    if (frames <= 0) return;
    _scratch.resize(size_t(frames) * kMaxFrameBytes);
    _inputDevice->read(_scratch.data(), frames);
    _deviceFrames += frames;
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
    _inputDevice->read(packet->baseAddres(), frames);
    _deviceFrames += frames;
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

void ZVSoundInputRecorder::idleUntilFrames(double atMostSeconds) {
    // A device that tells when frames arrive is still asked now and then: the wake-up is
    // a courtesy of its server, and a lost one must not end the track.
    if (!_deviceNotifies) return _worker.idle(ZVWorker::kForeignPoll);
    _worker.idle(std::chrono::duration_cast<ZVWaitTime>(
        std::chrono::duration<double>(std::clamp(atMostSeconds, 0.0, 1.0))));
}

void ZVSoundInputRecorder::readLoop() {
    while (_worker.shouldContinue()) {
        bool idle = true;
        {
            // Lock order: the device lock, then the destination's own lock.
            ZVLockGuard g(_deviceLock);
            const int32_t threshold = _framesInSlice - _safetyFramesInSilce.load();
            if (!_worker.isPaused() && !_inputDevice->isConnected()) {
                // Unplugged, or its server went away: nothing more will come, but what
                // was captured before goes into the track.
                takeRuns(true);
                const std::string why = ZVFormat(
                    "recording of \"%s\" ended: the device was disconnected after %.3f s",
                    _deviceName.c_str(),
                    double(_totalFramesRead.load(std::memory_order_relaxed)) / _sampleRate);
                ZVLog("ZVSoundInputRecorder: %s", why.c_str());
                fail(why);
                break;
            }
            if (_worker.isPaused()) {
                // Woken by the end of the pause or a stop, not by the clock.
                idle = false;
            } else if (destination().canAcceptObject()) {
                const int32_t ready = _inputDevice->framesReady();
                // Everything ready at once, so each packet holds at least a slice less
                // the safety margin (but where a loss splits it).
                if (ready > 0 && ready >= threshold) {
                    if (!takeRuns(true)) break;
                    idle = false;
                }
            }
        }
        // Waiting outside the lock: a mutex is not fair, and a worker that slept while
        // holding it would take it straight back and keep pause waiting indefinitely.
        if (_worker.isPaused())
            _worker.waitWhilePaused();
        else if (idle)
            idleUntilFrames();
    }
}
