#pragma once
// The screen track of a recording: ZVScreenRecorder -> ZVQueue -> ZVFomixIO writing the
// package's capture file; at the end the recording's cursor list goes into the cursors
// track and the recorder's start offset into the video track's properties.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "Foundation/ZVGeometry.h"
#include "Session/ZVRecordingTrack.h"
#include "Session/ZVWriterWatch.h"

class ZVScreenRecorder;
class ZVFomixIO;
class ZVQueue;

class ZVScreenTrack : public ZVRecordingTrack {
  public:
    // `rect` in desktop space; `zlib`: frames are stored zlib-compressed. Main thread.
    ZVScreenTrack(ZVRect rect, bool zlib);
    ~ZVScreenTrack() override;

    std::string name() const override { return "screen"; }
    std::string prepare(ZVFomixXManager& package) override;
    void startAtTime(double absoluteTime) override;
    void resume() override;
    void pause(bool paused) override;
    void stopRecorder() override;
    bool writerStarted() const override { return _watch.started(); }
    void finalizeWriter() override;
    bool writerStopped() const override { return _watch.stopped(); }
    std::string writerFailure() const override { return _watch.error(); }
    std::string store(ZVFomixXManager& package) override;
    std::string status(double elapsedSeconds) const override;
    std::pair<double, double> span() const override;

    // Frames the recorder delivered. Main thread.
    int32_t capturedFrames() const;

  private:
    // The cursor keeper's loop: writes the cursor list as soon as the first cursor is seen
    // and again, at most once a second, when new ones come, so a crash keeps them.
    void keepCursors();
    void stopKeepingCursors();

    ZVRect _rect;
    bool _zlib;
    std::string _cursorsPath;
    std::unique_ptr<ZVQueue> _queue;  // outlives both stages (declared before them)
    std::shared_ptr<ZVFomixIO> _writer;
    std::shared_ptr<ZVScreenRecorder> _recorder;
    ZVWriterWatch _watch;
    // The keeper thread borrows _recorder and _cursorsPath, which stay fixed from its start
    // until stopKeepingCursors() has joined it (the main thread starts it; store() on the
    // session's stop thread joins it, or teardown does).
    std::thread _cursorKeeper;
    std::atomic<bool> _keepingCursors{false};
};
