#pragma once
// The video compressor: the export stage that turns captured movie frames into compressed
// video frames. It takes frames from its data source (normally a queue the capture-file
// reader fills), draws into each what the preset asks for (the cursor, a mark for pressed
// buttons, the strip of pressed keys; see ZVICMOverlays.h) and hands it, pixels and all,
// to a compression session made from the preset's video settings; a frame stored bottom
// row first is read upwards rather than turned over. Without a frame rate in the settings
// the movie's frame rate is variable: a frame whose pixels repeat the previous one's (the
// reader says so) and whose drawing is the same is not encoded; the previous picture lasts
// longer instead, and the last one lasts to the recording's end. With a frame rate every
// frame is encoded (the encoder codes a repeated picture in a few bytes).
//
// With a zoom plan the compressor is also the export camera: a frame the plan shows closer
// is encoded as its view, scaled to fill the picture by the session's own scaling, and the
// cursor and the mark are drawn at the view's scale on pieces laid over it (the key strip
// at the picture's own); the view is part of what a repeated frame must match. A frame
// the plan shows whole goes exactly the way it goes without a plan. Each compressed frame
// comes back on the session's thread, wrapped in a ZVEncodedMovieFrame, and is added to the data
// destination once it accepts.
//
// Notifications (object: the stage): ZVICMDidStartNotification when the worker runs,
// ZVICMDidEncodeFrameNotification after each compressed frame was added (on the session's
// thread), ZVICMDidStopNotification as the worker's last act, after every frame it took
// has been added. All three reach the delegate on the main thread; ZVICMWillEncodeFrame is
// called directly on the worker, after the drawing, before the frame is compressed (its
// rows in the order they came in).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Media/ZVEncodingPreset.h"
#include "Pipeline/ZVWorkerStage.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Video/ZVCursorEntry.h"

class ZVCompressionSession;
class ZVEncodedFrame;
class ZVICMOverlays;
class ZVMovieFrame;
class ZVPictureScaler;
class ZVZoomPlan;

class ZVICM;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVICMDidStartNotification = "ZVICMDidStartNotification";
inline constexpr std::string_view ZVICMDidEncodeFrameNotification =
    "ZVICMDidEncodeFrameNotification";
inline constexpr std::string_view ZVICMDidStopNotification = "ZVICMDidStopNotification";
// Declared for hosts, never posted.
inline constexpr std::string_view ZVICMWillStopNotification = "ZVICMWillStopNotification";
inline constexpr std::string_view ZVICMWillStartpNotification = "ZVICMWillStartpNotification";
inline constexpr std::string_view ZVICMShouldStopNotification = "ZVICMShouldStopNotification";
inline constexpr std::string_view ZVICMShouldStartNotification = "ZVICMShouldStartNotification";
inline constexpr std::string_view ZVICMDidChangePauseStateNotification =
    "ZVICMDidChangePauseStateNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVICMDelegateInformalProtocol {
  public:
    virtual ~ZVICMDelegateInformalProtocol() = default;
    virtual void ZVICMDidStop(ZVICM*) {}
    virtual void ZVICMDidStart(ZVICM*) {}
    virtual void ZVICMDidEncodeFrame(ZVICM*) {}
    // Called directly on the compressor's worker, just before the frame is compressed.
    virtual void ZVICMWillEncodeFrame(ZVICM*, ZVMovieFrame* /*frame*/) {}
};

class ZVICM : public ZVWorkerStage<ZVICMDelegateInformalProtocol> {
  public:
    // Time scale when the video settings choose no frame rate (ticks per second).
    static constexpr int32_t kDefaultTimeScale = 2500;
    // The options every session gets on top of the video settings.
    static constexpr int32_t kMaxKeyFrameInterval = 250;
    static constexpr int32_t kMaxFrameDelayCount = 15;

    // A compressor for frames recorded at `initialDimensions`, keeping its own copy of
    // `preset`. The output size follows the preset's scale rule; the time scale is the
    // settings' frame rate × 100 (kDefaultTimeScale without one). nullptr after a log line
    // when the settings are refused ("SCCopyCompressionSessionOptions() failed with error
    // %ld") or the session cannot be made ("ICMCompressionSessionCreate() failed with error
    // %ld"). It encodes through the services' media toolkit and draws the key strip with
    // their renderer. `nominalFrameRate` (the recording's rate) tells the encoder how
    // often frames come when the settings give no frame rate. Any thread.
    static std::shared_ptr<ZVICM> initWithPreset(
        const ZVEncodingPreset& preset, ZVSize initialDimensions,
        const ZVPlatformServices& services = ZVPlatformDefaults(), double nominalFrameRate = 0);
    ~ZVICM() override;

    // Launches the worker (frameCompressor) unless one runs. After stop, frames already
    // given to the session are still completed and delivered before did-stop; finalize
    // compresses every frame the source still holds, then stops; pause posts nothing.
    // Any thread.
    void start();

    // Whether frames come bottom row first (default true: the capture-file reader gives
    // them so); they are drawn into and read upwards, not turned over. The name is spelled
    // as it always was. Any thread.
    void setNeedsToFlipBufferContetns(bool flip) { _needsToFlipBufferContents.store(flip); }
    // The recording's cursor list (kept as a copy); frames name their cursor by its Id.
    // Any thread.
    void setCursors(std::vector<ZVCursorEntry> cursors);
    std::vector<ZVCursorEntry> cursors() const;
    // The camera's plan for the next runs (none: every frame whole); its picture is the
    // frames' own. Any thread.
    void setZoomPlan(std::shared_ptr<const ZVZoomPlan> plan);

    // Whether the cursors' pixels are RGBA rather than BGRA (default false). Any thread.
    void setCursorAsRGBA(bool rgba) { _cursorAsRGBA.store(rgba); }
    bool isCursorAsRGBA() const { return _cursorAsRGBA.load(); }

    // Frames of the runs so far that repeated the encoded picture before them and were
    // folded into it instead of being encoded. Any thread.
    int64_t skippedFrames() const { return _skippedFrames.load(); }
    // Where the last picture of the last run ends, in recording seconds: the last frame's
    // time stamp plus the interval before it (0 before a run ends). Any thread.
    double endTime() const { return _endTime.load(); }
    // Whether such frames are folded (no frame rate in the settings). Any thread.
    bool skipsRepeatedFrames() const { return _frameRate <= 0; }

    // What the session was made with. Any thread.
    double frameRate() const { return _frameRate; }
    int32_t timeScale() const { return _timeScale; }
    int32_t outputWidth() const { return _outputWidth; }
    int32_t outputHeight() const { return _outputHeight; }
    const ZVEncodingPreset& preset() const { return *_preset; }

  private:
    explicit ZVICM(const ZVEncodingPreset& preset);
    // What the worker carries from frame to frame in one run.
    struct Run;
    void frameCompressor();
    // Draws and hands one frame to the session, or folds it into the previous one. Worker
    // only.
    void compress(std::shared_ptr<ZVMovieFrame> frame, Run& run);
    // The session's output: wraps and adds one frame, waiting for the destination.
    long frameOutput(long status, std::shared_ptr<const ZVEncodedFrame> frame);

    const std::shared_ptr<const ZVEncodingPreset> _preset;  // the stage's own copy
    double _frameRate = 0;
    int32_t _timeScale = kDefaultTimeScale;
    int32_t _outputWidth = 0;
    int32_t _outputHeight = 0;
    std::atomic<bool> _needsToFlipBufferContents{true};
    std::atomic<bool> _cursorAsRGBA{false};
    // Set when the stage is being destroyed: the session's last outputs are dropped.
    std::atomic<bool> _tearingDown{false};
    std::atomic<int64_t> _skippedFrames{0};
    std::atomic<double> _endTime{0};
    mutable ZVMutex _cursorsLock;  // guards _cursors
    std::vector<ZVCursorEntry> _cursors ZV_GUARDED_BY(_cursorsLock);
    mutable ZVMutex _planLock;  // guards _plan
    std::shared_ptr<const ZVZoomPlan> _plan ZV_GUARDED_BY(_planLock);
    // Scales the picture under the overlays' pieces. Used only by the worker.
    std::unique_ptr<ZVPictureScaler> _cameraScaler;
    // Used only by the worker (one run at a time).
    std::unique_ptr<ZVICMOverlays> _overlays;
    // Made in the factory; encodeFrame and completeFrames are called by the worker only.
    // Declared last so that it completes its frames while the rest of the stage exists.
    std::shared_ptr<ZVCompressionSession> _session;
};
