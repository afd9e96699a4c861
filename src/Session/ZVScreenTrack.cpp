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
    stopKeepingCursors();
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
    if (!_cursorKeeper.joinable()) {
        _keepingCursors.store(true);
        _cursorKeeper = std::thread([this] { keepCursors(); });
    }
}

void ZVScreenTrack::keepCursors() {
    using Clock = std::chrono::steady_clock;
    size_t written = 0;
    Clock::time_point nextWrite{};
    while (_keepingCursors.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (Clock::now() < nextWrite) continue;
        auto cursors = _recorder->capturedCursors();
        if (cursors.size() == written) continue;
        // Written whole to a temporary file, synced and renamed into place: a crash leaves
        // the last complete list.
        std::string error;
        if (!ZVCursorListFile::write(_cursorsPath, cursors, &error)) continue;
        written = cursors.size();
        nextWrite = Clock::now() + std::chrono::seconds(1);
    }
}

void ZVScreenTrack::stopKeepingCursors() {
    _keepingCursors.store(false);
    if (_cursorKeeper.joinable()) _cursorKeeper.join();
}

void ZVScreenTrack::resume() {
    _recorder->setSuspended(false);
}

void ZVScreenTrack::pause(bool paused) {
    _recorder->pause(paused);
}

void ZVScreenTrack::stopRecorder() {
    // The keeper may be syncing its file on a slow disk: it is only told to end here, and
    // joined by store() on the session's stop thread, so the capture ends at once.
    _keepingCursors.store(false);
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
    stopKeepingCursors();  // the final list below is the last write of the file
    package.setStartOffsetTime(_recorder->startOffsetTime(), ZVFomixXResourceVideo);
    // Frames the disk could not take, so a player or a user knows the picture has gaps.
    if (_writer && _writer->droppedFrames() > 0)
        package.setPropertie("DroppedFrames", ZVValue(int64_t(_writer->droppedFrames())),
                             ZVFomixXResourceVideo);
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
