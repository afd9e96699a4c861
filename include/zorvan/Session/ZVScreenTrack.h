#pragma once
// The screen track of a recording: ZVScreenRecorder -> ZVQueue -> ZVFomixIO writing the
// package's capture file; the recording's cursor list goes into the cursors track and the
// recorder's start offset, with the frames the disk dropped and the stalls missed, into
// the video track's properties (kept up to date while recording, final at the end).
#include <chrono>
#include <memory>
#include <string>

#include "Foundation/ZVGeometry.h"
#include "Session/ZVRecordingTrack.h"

class ZVScreenRecorder;
class ZVFomixIO;
class ZVQueue;
class ZVWriterWatch;

class ZVScreenTrack : public ZVRecordingTrack {
  public:
    // `rect` in desktop space; `zlib`: frames are stored zlib-compressed. Main thread.
    ZVScreenTrack(ZVRect rect, bool zlib);
    ~ZVScreenTrack() override;

    std::string name() const override { return "screen"; }
    std::string prepare(ZVFomixXManager& package, const ZVPlatformServices& services) override;
    void startAtTime(double absoluteTime) override;
    void resume() override;
    void pause(bool paused) override;
    void stopRecorder() override;
    bool writerStarted() const override;
    void finalizeWriter() override;
    bool writerStopped() const override;
    std::string writerFailure() const override;
    std::string recorderFailure() const override;
    void keep() override;
    std::pair<ZVFomixXResource, ZVValue> entry() const override;
    std::string store(ZVFomixXManager& package) override;
    std::string report(std::pair<double, double> screen) const override;
    std::string status(double elapsedSeconds) const override;
    std::pair<double, double> span() const override;

    // Frames the recorder delivered. Main thread.
    int32_t capturedFrames() const;

    // The package's keys for a cursor drawn into the frames by the display server (a player
    // draws no second one) and for the display's pixels per desktop unit where it is not 1.
    static constexpr std::string_view kCursorInFramesKey = "CursorInFrames";
    static constexpr std::string_view kPixelScaleKey = "PixelScale";

  private:
    // The package's key for the frames the display link never made (the recorder stalled),
    // beside the writer's "DroppedFrames".
    static constexpr std::string_view kMissedFramesKey = "MissedFrames";

    ZVRect _rect;
    bool _zlib;
    std::string _cursorsPath;
    std::unique_ptr<ZVQueue> _queue;  // outlives both stages (declared before them)
    std::shared_ptr<ZVFomixIO> _writer;
    std::shared_ptr<ZVScreenRecorder> _recorder;
    const std::unique_ptr<ZVWriterWatch> _watch;          // the writer's did-start and did-stop
    const std::unique_ptr<ZVWriterWatch> _recorderWatch;  // its did-stop and the reason it carried
    // The keeper's: how many cursors cursors.dat holds, and when it may be written again.
    size_t _keptCursors = 0;
    std::chrono::steady_clock::time_point _nextCursorWrite{};
};
