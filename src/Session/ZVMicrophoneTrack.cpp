#include "Session/ZVMicrophoneTrack.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "Audio/ZVSoundInputRecorder.h"
#include "Audio/ZVWavIO.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Foundation/ZVTime.h"
#include "Pipeline/ZVQueue.h"
#include "Session/ZVWriterWatch.h"
#include "Storage/ZVFomixXManager.h"

namespace {
// The device's rate as measured against the monotonic clock, for export to stretch the
// sound to the picture.
constexpr std::string_view kMeasuredSampleRateKey = "MeasuredSampleRate";
}  // namespace

ZVMicrophoneTrack::ZVMicrophoneTrack(std::string device)
    : ZVMicrophoneTrack(std::move(device), ZVFomixXResourceAudio, "mic") {}

ZVMicrophoneTrack::ZVMicrophoneTrack(std::string device, ZVFomixXResource resource,
                                     std::string label)
    : _device(device == "default" ? std::string() : std::move(device)),
      _resource(resource),
      _label(std::move(label)),
      _watch(std::make_unique<ZVWriterWatch>()),
      _recorderWatch(std::make_unique<ZVWriterWatch>()) {}

bool ZVMicrophoneTrack::writerStarted() const {
    return _watch->started();
}

bool ZVMicrophoneTrack::writerStopped() const {
    return _watch->stopped();
}

std::string ZVMicrophoneTrack::writerFailure() const {
    return _watch->error();
}

std::string ZVMicrophoneTrack::recorderFailure() const {
    return _recorderWatch->error();
}

ZVMicrophoneTrack::~ZVMicrophoneTrack() {
    // As for the screen: the recorder stops first; a writer the session gave up on is
    // told to stop and given a moment, since its worker reads the queue that goes last.
    if (_recorder) {
        stopRecorder();
        waitForRecorder();  // its worker adds to the queue that goes below
    }
    if (_writer) _watch->stopAndWait([this] { _writer->stop(); });
    _recorder.reset();
    _writer.reset();
}

std::string ZVMicrophoneTrack::prepare(ZVFomixXManager& package,
                                       const ZVPlatformServices& services) {
    const std::string shown = _device.empty() ? "the default input device" : "'" + _device + "'";
    _recorder = ZVSoundInputRecorder::initWithDevice(_device, services);
    if (!_recorder) return "cannot open " + shown + " for recording (see 'zorvan devices')";
    _recorderWatch->watch(_recorder.get(), ZVSoundInputRecorderDidStartNotification,
                          ZVSoundInputRecorderDidStopNotification);

    auto wavPath = package.createPathForPackageResource(_resource);
    if (!wavPath) return "cannot add an audio track to the package " + package.path();
    _wavPath = *wavPath;

    _queue = std::make_unique<ZVQueue>();
    _writer = ZVWavIO::wavIOForWriting(_wavPath, _recorder->format());
    if (!_writer) return "cannot write " + _wavPath;

    _watch->watch(_writer.get(), ZVWavIODidStartNotification, ZVWavIODidStopNotification);

    _recorder->setDataDestination(_queue.get());
    _writer->setDataSource(_queue.get());
    _writer->start();
    // Capturing from now on, so that the track can begin right at the common start time;
    // what comes before it is dropped.
    if (!_recorder->startCapture()) ZVLog("ZVMicrophoneTrack: %s did not start", shown.c_str());
    _shown = shown;
    return {};
}

std::string ZVMicrophoneTrack::waitingFor() const {
    return _recorder && !_recorder->hasCaptured() ? _shown : std::string();
}

void ZVMicrophoneTrack::startAtTime(double absoluteTime) {
    _recorderStarted = true;
    _recorder->startAtTime(absoluteTime);
}

void ZVMicrophoneTrack::resume() {
    _recorder->setSuspended(false);
}

void ZVMicrophoneTrack::pause(bool paused) {
    _recorder->pause(paused);
}

void ZVMicrophoneTrack::stopRecorder() {
    // Returns at once, even for a recorder still opening its capture (which stop() would
    // ignore): the waiting is the stop thread's, in finalizeWriter.
    if (_recorder) _recorder->endRecording();
}

void ZVMicrophoneTrack::waitForRecorder() {
    // The worker gives up its launch just before it posts did-stop, whose reason the
    // session reads: a recorder that was started is waited for until both happened.
    auto ended = [this] {
        return !_recorder->isLaunched() && (!_recorderStarted || _recorderWatch->stopped());
    };
    if (!ZVPollUntil(ended, 3))
        ZVLog("ZVMicrophoneTrack: the recorder of %s did not end within 3 s", _wavPath.c_str());
}

void ZVMicrophoneTrack::finalizeWriter() {
    // Once the recorder's worker has ended nothing more reaches the queue, and what
    // store() reads of the recorder is final.
    if (_recorder) waitForRecorder();
    if (_writer) _writer->finalize();
}

std::string ZVMicrophoneTrack::store(ZVFomixXManager& package) {
    if (!_recorder) return {};
    package.setStartOffsetTime(_recorder->startOffsetTime(), _resource);
    package.setPropertie(std::string(kMeasuredSampleRateKey),
                         ZVValue(_recorder->measuredSampleRate()), _resource);
    package.setPropertie(std::string(kLostSoundCountKey), ZVValue(int64_t(_recorder->filledGaps())),
                         _resource);
    package.setPropertie(std::string(kLostSoundSecondsKey),
                         ZVValue(double(_recorder->filledFrames()) / _recorder->sampleRate()),
                         _resource);
    return {};
}

std::pair<ZVFomixXResource, ZVValue> ZVMicrophoneTrack::entry() const {
    // Known once the device delivered its first sample; the rate is the one measured so far.
    ZVValue values = ZVValue::dict();
    if (!_recorder || _recorder->totalFramesRead() == 0) return {_resource, values};
    values.set(ZVFomixXManager::kStartOffsetTimeKey, _recorder->startOffsetTime());
    if (_recorder->measuredSampleRate() > 0)
        values.set(kMeasuredSampleRateKey, _recorder->measuredSampleRate());
    return {_resource, values};
}

std::pair<double, double> ZVMicrophoneTrack::span() const {
    if (!_recorder || !(_recorder->measuredSampleRate() > 0)) return {0, 0};
    return {_recorder->startOffsetTime(),
            _recorder->totalFramesRead() / _recorder->measuredSampleRate()};
}

std::string ZVMicrophoneTrack::report(std::pair<double, double> screen) const {
    if (!_recorder) return {};
    return reportLine(std::filesystem::path(_wavPath).filename().string(), span(), screen,
                      _recorder->losses(), _recorder->measuredSampleRate());
}

std::string ZVMicrophoneTrack::reportLine(const std::string& name, std::pair<double, double> audio,
                                          std::pair<double, double> screen,
                                          const std::vector<std::pair<double, double>>& losses,
                                          double measuredRate) {
    std::string text = ZVFormat(
        "%s: starts at %.3f s (screen %.3f s), %.3f s long (screen %.3f s), device clock %.1f Hz, ",
        name.c_str(), audio.first, screen.first, audio.second, screen.second, measuredRate);
    if (losses.empty()) return text + "no sound lost";
    double total = 0;
    for (const auto& loss : losses) total += loss.second;
    text += ZVFormat("the sound server lost %.3f s of sound (kept as silence) at", total);
    // The first few places; a recording with more has a log line for each.
    constexpr size_t kShown = 5;
    for (size_t i = 0; i < losses.size() && i < kShown; ++i)
        text += ZVFormat("%s %.3f s (%.3f s)", i ? "," : "", losses[i].first, losses[i].second);
    if (losses.size() > kShown) text += ZVFormat(" and %zu more places", losses.size() - kShown);
    return text;
}

std::string ZVMicrophoneTrack::status(double) const {
    double seconds = 0;
    if (_recorder && _recorder->sampleRate() > 0)
        seconds = _recorder->totalFramesRead() / double(_recorder->sampleRate());
    double fill = 0;
    if (_queue && _queue->limit() > 0)
        fill = 100.0 * double(_queue->byteCount()) / double(_queue->limit());
    char line[64];
    std::snprintf(line, sizeof line, "%s %.1f s  queue %.0f%%", _label.c_str(), seconds, fill);
    return line;
}
