#include "Session/ZVScreenTrack.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "Foundation/ZVNotificationCenter.h"
#include "Pipeline/ZVNotificationNames.h"
#include "Pipeline/ZVQueue.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixIO.h"
#include "Storage/ZVFomixXManager.h"
#include "Video/ZVScreenRecorder.h"

ZVScreenTrack::ZVScreenTrack(ZVRect rect, bool zlib) : _rect(rect), _zlib(zlib) {}

ZVScreenTrack::~ZVScreenTrack() {
    // The recorder goes first (its destructor stops the link). A writer that never
    // stopped (the session gave up waiting) is told to stop now and given a moment, since
    // its worker reads the queue that goes last.
    _recorder.reset();
    if (_writer) _watch.stopAndWait([this] { _writer->stop(); });
    _writer.reset();
}

std::string ZVScreenTrack::prepare(ZVFomixXManager& package) {
    auto videoPath = package.createPathForPackageResource(ZVFomixXResourceVideo);
    auto cursorsPath = package.createPathForPackageResource(ZVFomixXResourceCursors);
    if (!videoPath || !cursorsPath) return "cannot add tracks to the package " + package.path();
    _cursorsPath = *cursorsPath;

    _recorder = ZVScreenRecorder::initWithRect(_rect);
    if (!_recorder) return "cannot record the screen rectangle " + ZVStringFromRect(_rect);
    _recorder->setZlibCompression(_zlib);

    _queue = std::make_unique<ZVQueue>();
    _writer = ZVFomixIO::initWithFile(*videoPath, ZVFomixIO::kWriteMode);
    if (!_writer) return "cannot write " + *videoPath;

    _watch.watch(_writer.get(), ZVFomixIODidStartNotification, ZVFomixIODidStopNotification);

    _recorder->setDataDestination(_queue.get());
    _writer->setDataSource(_queue.get());
    _writer->start();
    return {};
}

void ZVScreenTrack::startAtTime(double absoluteTime) {
    _recorder->startAtTime(absoluteTime);
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
    package.setStartOffsetTime(_recorder->startOffsetTime(), ZVFomixXResourceVideo);
    std::string error;
    if (!ZVCursorListFile::write(_cursorsPath, _recorder->capturedCursors(), &error)) return error;
    return {};
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
    char line[96];
    std::snprintf(line, sizeof line, "%d frames  %.1f fps  queue %.0f%%", frames, fps, fill);
    return line;
}
