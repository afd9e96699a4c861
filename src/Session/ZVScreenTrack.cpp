#include "Session/ZVScreenTrack.h"

#include <chrono>
#include <cstdio>

#include "Foundation/ZVNotificationCenter.h"
#include "Pipeline/ZVQueue.h"
#include "Session/ZVWriterWatch.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixIO.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVScreenRecorder.h"

ZVScreenTrack::ZVScreenTrack(ZVRect rect, bool zlib)
    : _rect(rect),
      _zlib(zlib),
      _watch(std::make_unique<ZVWriterWatch>()),
      _recorderWatch(std::make_unique<ZVWriterWatch>()) {}

bool ZVScreenTrack::writerStarted() const {
    return _watch->started();
}

bool ZVScreenTrack::writerStopped() const {
    return _watch->stopped();
}

std::string ZVScreenTrack::writerFailure() const {
    return _watch->error();
}

std::string ZVScreenTrack::recorderFailure() const {
    return _recorderWatch->error();
}

ZVScreenTrack::~ZVScreenTrack() {
    // The recorder goes first (its destructor stops the link). A writer that never
    // stopped (the session gave up waiting) is told to stop now and given a moment, since
    // its worker reads the queue that goes last.
    _recorder.reset();
    if (_writer) _watch->stopAndWait([this] { _writer->stop(); });
    _writer.reset();
}

std::string ZVScreenTrack::prepare(ZVFomixXManager& package, const ZVPlatformServices& services) {
    auto videoPath = package.createPathForPackageResource(ZVFomixXResourceVideo);
    auto cursorsPath = package.createPathForPackageResource(ZVFomixXResourceCursors);
    if (!videoPath || !cursorsPath) return "cannot add tracks to the package " + package.path();
    _cursorsPath = *cursorsPath;

    _recorder = ZVScreenRecorder::initWithRect(_rect, services);
    if (!_recorder) return "cannot record the screen rectangle " + ZVStringFromRect(_rect);
    _recorder->setZlibCompression(_zlib);
    _recorderWatch->watch(_recorder.get(), ZVScreenRecorderDidStartNotification,
                          ZVScreenRecorderDidStopNotification);

    _queue = std::make_unique<ZVQueue>();
    _writer = ZVFomixIO::initWithFile(*videoPath, ZVFomixIO::kWriteMode);
    if (!_writer) return "cannot write " + *videoPath;

    _watch->watch(_writer.get(), ZVFomixIODidStartNotification, ZVFomixIODidStopNotification);

    _recorder->setDataDestination(_queue.get());
    _writer->setDataSource(_queue.get());
    _writer->start();
    return {};
}

void ZVScreenTrack::startAtTime(double absoluteTime) {
    _recorder->startAtTime(absoluteTime);
}

void ZVScreenTrack::keep() {
    using Clock = std::chrono::steady_clock;
    // The list is written as soon as the first cursor is seen and again, at most once a
    // second, when new ones come, so a crash keeps them.
    if (!_recorder || Clock::now() < _nextCursorWrite) return;
    auto cursors = _recorder->capturedCursors();
    if (cursors.size() == _keptCursors) return;
    // Written whole to a temporary file, synced and renamed into place: a crash leaves
    // the last complete list.
    std::string error;
    if (!ZVCursorListFile::write(_cursorsPath, cursors, &error)) return;
    _keptCursors = cursors.size();
    _nextCursorWrite = Clock::now() + std::chrono::seconds(1);
}

std::pair<ZVFomixXResource, ZVValue> ZVScreenTrack::entry() const {
    ZVValue values = ZVValue::dict();
    if (!_recorder || _recorder->capturedFrames() == 0) return {ZVFomixXResourceVideo, values};
    if (_recorder->cursorInFrames()) values.set(kCursorInFramesKey, true);
    if (const double scale = _recorder->pixelScale(); scale != 1) values.set(kPixelScaleKey, scale);
    values.set(ZVFomixXManager::kStartOffsetTimeKey, _recorder->startOffsetTime());
    // Frames the disk could not take, and those never made while the recorder stalled, so
    // a player or a user knows the picture has gaps.
    if (_writer && _writer->droppedFrames() > 0)
        values.set("DroppedFrames", int64_t(_writer->droppedFrames()));
    if (_recorder->missedFrames() > 0)
        values.set(kMissedFramesKey, int64_t(_recorder->missedFrames()));
    return {ZVFomixXResourceVideo, values};
}

void ZVScreenTrack::resume() {
    _recorder->setSuspended(false);
}

void ZVScreenTrack::pause(bool paused) {
    _recorder->pause(paused);
}

void ZVScreenTrack::stopRecorder() {
    if (!_recorder) return;
    // A paused recorder's link is stopped already; stop() then has nothing to do.
    _recorder->setSuspended(false);
    _recorder->stop();
}

void ZVScreenTrack::finalizeWriter() {
    if (_writer) _writer->finalize();
}

std::string ZVScreenTrack::store(ZVFomixXManager& package) {
    if (!_recorder) return {};
    auto [kind, values] = entry();
    // A recorder that made no frame still says when it started.
    if (!values.get(ZVFomixXManager::kStartOffsetTimeKey))
        values.set(ZVFomixXManager::kStartOffsetTimeKey, _recorder->startOffsetTime());
    package.setProperties(values, kind);
    std::string error;
    if (!ZVCursorListFile::write(_cursorsPath, _recorder->capturedCursors(), &error)) return error;
    return {};
}

std::string ZVScreenTrack::report(std::pair<double, double>) const {
    // Said only when the picture has gaps: a clean recording ends with its path alone.
    if (!_recorder) return {};
    const int32_t stalls = _recorder->stalls();
    const int32_t dropped = _writer ? _writer->droppedFrames() : 0;
    if (stalls == 0 && dropped == 0) return {};
    char line[256];
    int n = std::snprintf(line, sizeof line, "video.fomix: %d frames, %.3f s", capturedFrames(),
                          _recorder->captureDuration());
    if (stalls > 0 && n > 0 && size_t(n) < sizeof line)
        n += std::snprintf(line + n, sizeof line - size_t(n),
                           "; the recorder stalled %d time%s for %.3f s in all: %d frames missed",
                           stalls, stalls == 1 ? "" : "s", _recorder->stalledSeconds(),
                           _recorder->missedFrames());
    if (dropped > 0 && n > 0 && size_t(n) < sizeof line)
        std::snprintf(line + n, sizeof line - size_t(n),
                      "; the disk fell behind: %d frames dropped", dropped);
    return line;
}

std::pair<double, double> ZVScreenTrack::span() const {
    if (!_recorder) return {0, 0};
    return {_recorder->startOffsetTime(), _recorder->captureDuration()};
}

int32_t ZVScreenTrack::capturedFrames() const {
    return _recorder ? _recorder->capturedFrames() : 0;
}

std::string ZVScreenTrack::status(double elapsedSeconds) const {
    int32_t frames = capturedFrames();
    double fps = elapsedSeconds > 0 ? frames / elapsedSeconds : 0;
    double fill = 0;
    if (_queue && _queue->limit() > 0)
        fill = 100.0 * double(_queue->byteCount()) / double(_queue->limit());
    char line[160];
    int n =
        std::snprintf(line, sizeof line, "%d frames  %.1f fps  queue %.0f%%", frames, fps, fill);
    if (_writer && n > 0 && size_t(n) < sizeof line) {
        // The disk falling behind shows before anything is lost.
        const double disk = 100.0 * _writer->diskQueueFill();
        const int32_t dropped = _writer->droppedFrames();
        if (dropped > 0)
            std::snprintf(line + n, sizeof line - size_t(n),
                          "  disk behind %.0f%%  %d frames dropped", disk, dropped);
        else if (disk >= 25)
            std::snprintf(line + n, sizeof line - size_t(n), "  disk behind %.0f%%", disk);
    }
    return line;
}
