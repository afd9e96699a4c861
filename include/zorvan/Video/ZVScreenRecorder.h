#pragma once
// The stage that turns the screen into a stream of movie frames. It has no worker of its
// own: the display link calls it once per refresh of the primary monitor, and each tick
// reads the capture rectangle into a new frame, notes the cursor image and the pointer,
// asks the host application for buttons and keys, stamps the frame with recording time
// (paused spans left out), keeps the rate at or below 60 frames per second on average,
// and hands the frame to the data destination, waiting while the destination is full so
// that no frame is ever dropped. Along the way it builds the recording's cursor list.
//
// Notifications (object: the recorder): will-start, did-start (first active tick),
// captured-frame (per frame; reaches the delegate only when one is set, coalesced) and
// did-stop, with {"Error": reason} when a frame could not be made or the display server
// was lost (its connection broke: the recording cannot go on).
//
// A stall (no tick for longer than kStallSeconds: the process was stopped, the machine
// froze) is logged with its time and length, and the frames the display link would have
// made meanwhile are counted in missedFrames().
//
// Ownership: the display link's tick holds only a weak_ptr to the recorder and locks it
// for the length of one tick; the destructor stops the link first, so no tick runs on a
// recorder being destroyed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVSyncStart.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Video/ZVCursorEntry.h"
#include "Video/ZVFrameInfo.h"

class ZVDisplayLink;
class ZVDisplayServer;
struct ZVDisplayLinkTime;
class ZVSnap;
class ZVMovieFrame;

class ZVScreenRecorder;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVScreenRecorderWillStartNotification =
    "ZVScreenRecorderWillStartNotification";
inline constexpr std::string_view ZVScreenRecorderDidStartNotification =
    "ZVScreenRecorderDidStartNotification";
inline constexpr std::string_view ZVScreenRecorderCapturedFrameNotification =
    "ZVScreenRecorderCapturedFrameNotification";
inline constexpr std::string_view ZVScreenRecorderDidStopNotification =
    "ZVScreenRecorderDidStopNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVScreenRecorderDelegateInformalProtocol {
  public:
    virtual ~ZVScreenRecorderDelegateInformalProtocol() = default;
    virtual void ZVScreenRecorderCapturedFrame(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderDidStop(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderDidStart(ZVScreenRecorder*) {}
    virtual void ZVScreenRecorderWillStart(ZVScreenRecorder*) {}
};

class ZVScreenRecorder : public ZVStage {
  public:
    // A suspended recorder of `rect` (desktop space; each component is floored); nullptr
    // when the floored rectangle is empty or no display link can be made (logged). It reads
    // the screens of the services' display server. Main thread.
    static std::shared_ptr<ZVScreenRecorder> initWithRect(
        ZVRect rect, const ZVPlatformServices& services = ZVPlatformDefaults());
    // Stops the display link (waiting for a tick in progress) before anything goes.
    ~ZVScreenRecorder() override;

    // If the link does not run: post WillStart, reset the frame count, the duration and
    // the cursor-seed bookkeeping, start the link and wait (10 ms polls) until it runs.
    // Ticks produce nothing while suspended. Main thread.
    void start();
    // Stores the common start time of a synchronised start, then start(). Main thread.
    void startAtTime(double absoluteTime);
    // If the link runs: stop it, wait until it stopped, post DidStop. A paused recorder
    // is not running, so this does nothing. From inside a tick it does not wait for that
    // tick. Main thread (or tick).
    void stop();
    // true stops the link and notes when; false starts it again and adds the paused span
    // to the time taken out of timestamps. Nothing when the state already matches.
    // Main thread.
    void pause(bool paused);
    // Whether the display link runs. Any thread.
    bool isRunning() const;

    // Any thread.
    void setSuspended(bool suspended) { _sync.setSuspended(suspended); }
    bool isSuspended() const { return _sync.isSuspended(); }
    double startOffsetTime() const { return _sync.startOffsetTime(); }

    // Changing the rectangle while recording: startSetRect() (waits for a tick's screen
    // read to end), setRect(), endSetRect(); frames made after that have the new size.
    // setRect floors the components and ignores an empty result. Main thread.
    // The snapper's lock is held from startSetRect to endSetRect, across calls, which the
    // compiler's lock analysis cannot follow.
    void startSetRect() ZV_NO_THREAD_SAFETY_ANALYSIS;
    void setRect(ZVRect rect) ZV_NO_THREAD_SAFETY_ANALYSIS;
    void endSetRect() ZV_NO_THREAD_SAFETY_ANALYSIS;
    // The rectangle frames are made of. Any thread.
    ZVRect captureRect() const;

    // Not owned; nullptr: no delegate. Any thread.
    void setDelegate(ZVScreenRecorderDelegateInformalProtocol* delegate) {
        _delegate.store(delegate);
    }
    ZVScreenRecorderDelegateInformalProtocol* delegate() const { return _delegate.load(); }

    // Timestamp of the last delivered frame, and frames delivered since the last start.
    // Any thread.
    double captureDuration() const { return _captureDuration.load(std::memory_order_relaxed); }
    int32_t capturedFrames() const { return _capturedFrames.load(std::memory_order_relaxed); }

    // A gap between two ticks longer than this is a stall of the recorder. Any thread.
    static constexpr double kStallSeconds = 0.5;
    // Stalls since the last start, their length in all, and the frames missed in them.
    // Any thread.
    int32_t stalls() const { return _stalls.load(std::memory_order_relaxed); }
    double stalledSeconds() const { return _stalledSeconds.load(std::memory_order_relaxed); }
    int32_t missedFrames() const { return _missedFrames.load(std::memory_order_relaxed); }

    // The cursor list: each distinct cursor image once, "Id" = position. A snapshot whose
    // entries share their image bytes with the recorder's own list; entries are never
    // changed, so it stays valid. Any thread.
    std::vector<ZVCursorEntry> capturedCursors();

    // Whether the display server draws the cursor into the frames themselves (then the
    // cursor list stays empty and a player must not draw one). Any thread.
    bool cursorInFrames() const;
    // The display's pixels per desktop unit under the capture rectangle: a HiDPI output
    // is read at 1 pixel per unit, so its picture is scaled down. Any thread.
    double pixelScale() const;

    // Frames are marked for zlib storage (flags 0xA0). Any thread.
    void setZlibCompression(bool enabled) {
        _zlibCompression.store(enabled, std::memory_order_relaxed);
    }
    bool isZlibCompressionEnabled() const {
        return _zlibCompression.load(std::memory_order_relaxed);
    }

    // One display-link tick: 0, or ZVDisplayLink::kError when no frame could be made.
    // Tick only (tests may call it directly on a recorder whose link is stopped).
    int32_t displayLinkCallback();
    // The same, as the display link calls it (its time stamp is not used). Tick only.
    int32_t displayLinkCallback(const ZVDisplayLinkTime& time);

    // How long a tick sleeps before handing its frame on: with `frames` delivered over
    // `duration` seconds, an average rate above `desiredFPS` costs the difference of the
    // two frame periods, in whole microseconds; 0 otherwise. Any thread.
    static int64_t pacingDelay(int32_t frames, double duration, float desiredFPS);

  private:
    ZVScreenRecorder() = default;
    void trackCursor(bool& visible);
    uint16_t composeFrameFlags(class ZVHostApplication* host, int16_t& keyCode, uint32_t& flags,
                               std::vector<uint8_t>& keyStrokes);
    // Counts and logs the gap since the last tick's end when it is a stall. Tick only.
    void noteStall(double now);
    // Fails and stops when the tick's connection to the display server broke; true then.
    // Tick only.
    bool displayServerLost();
    // Forgets the last tick, so that the gap until the next one is no stall. Link stopped.
    void resetStallClock() { _lastTickEnd = 0; }
    void setCaptureRectField(ZVRect rect);

    ZVSyncStart _sync;
    std::atomic<ZVScreenRecorderDelegateInformalProtocol*> _delegate{nullptr};
    std::shared_ptr<ZVDisplayLink> _displayLink;
    std::shared_ptr<ZVSnap> _snapper;
    std::shared_ptr<ZVDisplayServer> _server;  // set by initWithRect, never nullptr
    // Changes come under the snapper's lock too (startSetRect), so a tick that holds it
    // reads the same rectangle as its snapper. Lock order: snapper, then _rectLock.
    mutable ZVMutex _rectLock;  // guards _captureRect
    ZVRect _captureRect ZV_GUARDED_BY(_rectLock);
    const float _desiredFPS = 60.0f;

    std::atomic<double> _captureDuration{0};
    std::atomic<int32_t> _capturedFrames{0};
    std::atomic<double> _startTime{0};
    std::atomic<double> _pauseTime{0};
    std::atomic<double> _prevPauseTime{0};
    std::atomic<bool> _zlibCompression{false};
    std::atomic<int32_t> _stalls{0};
    std::atomic<double> _stalledSeconds{0};
    std::atomic<int32_t> _missedFrames{0};

    ZVRecursiveMutex _cursorMonitor;  // guards _cursors
    std::vector<ZVCursorEntry> _cursors ZV_GUARDED_BY(_cursorMonitor);

    // Tick only; start() resets them while the link is stopped.
    uint32_t _currentCursorIndex = kZVNoCursorIndex;
    int64_t _prevCursorSeed = -1;
    bool _isPrevCursorSeedInitialized = false;
    double _lastTickEnd = 0;  // when the last delivering tick ended; 0: none yet
};
