#include "Video/ZVScreenRecorder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVTime.h"
#include "Pipeline/ZVWorker.h"
#include "Video/ZVCursorGrab.h"
#include "Video/ZVDisplayLink.h"
#include "Video/ZVDisplayServer.h"
#include "Video/ZVHostApplication.h"
#include "Video/ZVMovieFrame.h"
#include "Video/ZVSnap.h"
#include "Video/ZVVideoAllocation.h"

namespace {
ZVRect floorRect(ZVRect r) {
    return ZVMakeRect(std::floor(r.origin.x), std::floor(r.origin.y), std::floor(r.size.width),
                      std::floor(r.size.height));
}
}  // namespace

std::shared_ptr<ZVScreenRecorder> ZVScreenRecorder::initWithRect(
    ZVRect rect, const ZVPlatformServices& services) {
    rect = floorRect(rect);
    if (rect.isEmpty()) return nullptr;
    std::shared_ptr<ZVScreenRecorder> recorder(new ZVScreenRecorder());
    recorder->setCaptureRectField(rect);

    recorder->_server = ZVDisplayServer::from(services);
    int32_t error = 0;
    recorder->_displayLink = ZVDisplayLink::createWithActiveDisplays(*recorder->_server, &error);
    if (!recorder->_displayLink) {
        ZVLog("Failed to create display link (Error: %d)", error);
        return nullptr;
    }
    // The tick holds the recorder only while it runs; the destructor stops the link.
    recorder->_displayLink->setOutputTarget(std::weak_ptr<ZVScreenRecorder>(recorder),
                                            &ZVScreenRecorder::displayLinkCallback);
    recorder->_snapper = ZVSnap::initWithCaptureRect(rect, services);

    using D = ZVScreenRecorderDelegateInformalProtocol;
    auto forward = [&](std::string_view name, void (D::*op)(ZVScreenRecorder*)) {
        recorder->forwardToDelegate(name, [raw = recorder.get(), op](const ZVNotification&) {
            if (D* d = raw->delegate()) (d->*op)(raw);
        });
    };
    forward(ZVScreenRecorderWillStartNotification, &D::ZVScreenRecorderWillStart);
    forward(ZVScreenRecorderDidStartNotification, &D::ZVScreenRecorderDidStart);
    // Once per frame: handed over only to a delegate, and folded while one waits.
    recorder->forwardCoalescedToDelegate(
        ZVScreenRecorderCapturedFrameNotification,
        [raw = recorder.get()] { return raw->delegate() != nullptr; },
        [raw = recorder.get()](const ZVNotification&) {
            if (D* d = raw->delegate()) d->ZVScreenRecorderCapturedFrame(raw);
        });
    forward(ZVScreenRecorderDidStopNotification, &D::ZVScreenRecorderDidStop);
    return recorder;
}

ZVScreenRecorder::~ZVScreenRecorder() {
    // The link's stop waits for a tick in progress (or, when the last owner let go inside
    // a tick, returns at once), so no tick runs once this returns.
    if (_displayLink) {
        _displayLink->stop();
    }
}

bool ZVScreenRecorder::isRunning() const {
    return _displayLink->isRunning();
}

void ZVScreenRecorder::start() {
    if (isRunning()) return;
    post(ZVScreenRecorderWillStartNotification);
    clearFailure();
    // The link is stopped, so no tick touches these now.
    _isPrevCursorSeedInitialized = false;
    _captureDuration.store(0, std::memory_order_relaxed);
    _capturedFrames.store(0, std::memory_order_relaxed);
    _stalls.store(0, std::memory_order_relaxed);
    _stalledSeconds.store(0, std::memory_order_relaxed);
    _missedFrames.store(0, std::memory_order_relaxed);
    resetStallClock();
    _displayLink->start();  // running at return
}

void ZVScreenRecorder::startAtTime(double absoluteTime) {
    _sync.setRealStartTime(absoluteTime);
    start();
}

void ZVScreenRecorder::stop() {
    if (!isRunning()) return;
    // From another thread this returns after the last tick; from inside a tick (the
    // frame-failure path) the link stops without waiting for that same tick.
    _displayLink->stop();
    postDidStop(ZVScreenRecorderDidStopNotification);
}

void ZVScreenRecorder::pause(bool paused) {
    if (isRunning() == !paused) return;
    if (paused) {
        _displayLink->stop();
        _prevPauseTime.store(ZVAbsoluteTimeGetCurrent(), std::memory_order_relaxed);
    } else {
        // The span is taken out before the link runs again, so no tick stamps a frame with
        // it. Resuming a recorder that was stopped rather than paused adds nothing.
        double pausedAt = _prevPauseTime.exchange(0, std::memory_order_relaxed);
        if (pausedAt > 0) {
            _pauseTime.store(_pauseTime.load(std::memory_order_relaxed) +
                                 (ZVAbsoluteTimeGetCurrent() - pausedAt),
                             std::memory_order_relaxed);
        }
        resetStallClock();  // a pause is no stall
        _displayLink->start();
    }
}

void ZVScreenRecorder::startSetRect() {
    _snapper->lockFocus();
}

void ZVScreenRecorder::setRect(ZVRect rect) {
    rect = floorRect(rect);
    if (rect.isEmpty()) return;
    setCaptureRectField(rect);
    _snapper->setCaptureRect(rect);
}

void ZVScreenRecorder::endSetRect() {
    _snapper->unlockFocus();
}

ZVRect ZVScreenRecorder::captureRect() const {
    ZVLockGuard guard(_rectLock);
    return _captureRect;
}

void ZVScreenRecorder::setCaptureRectField(ZVRect rect) {
    ZVLockGuard guard(_rectLock);
    _captureRect = rect;
}

std::vector<ZVCursorEntry> ZVScreenRecorder::capturedCursors() {
    ZVLockGuard guard(_cursorMonitor);
    return _cursors;
}

bool ZVScreenRecorder::cursorInFrames() const {
    return _server->cursorInFrames();
}

double ZVScreenRecorder::pixelScale() const {
    return _server->pixelScale(captureRect());
}

void ZVScreenRecorder::trackCursor(bool& visible) {
    ZVDisplayServer& server = *_server;
    int64_t seed = server.cursorSeed();
    if (!_isPrevCursorSeedInitialized) {
        _isPrevCursorSeedInitialized = true;
        _prevCursorSeed = -1;
        _currentCursorIndex = kZVNoCursorIndex;
    }
    visible = server.isCursorVisible();
    if (!visible || seed == _prevCursorSeed) return;

    ZVCursorInfo info = ORVGetCurrentCursorDataSize(server);
    if (info.size <= 0) return;  // no image to be had now: asked again next tick
    std::unique_ptr<uint8_t, decltype(&std::free)> bytes(
        static_cast<uint8_t*>(ZVVideoMalloc(size_t(info.size))), &std::free);
    if (!bytes) {
        ZVLog("ME-9: displayLinkCallback failed with malloc error");
        return;
    }
    // A cursor that changed between the size and the pixels is looked up again on the
    // next tick rather than stored half-made.
    if (ORVGetCurrentCursor(server, &info, bytes.get()) != 0) return;
    _prevCursorSeed = seed;
    const size_t size = size_t(info.size);

    ZVLockGuard guard(_cursorMonitor);
    for (const ZVCursorEntry& entry : _cursors) {
        if (entry.info.size != info.size) continue;
        if (std::memcmp(entry.data->data(), bytes.get(), size) == 0) {
            _currentCursorIndex = uint32_t(entry.id);
            return;
        }
    }
    auto data = std::make_shared<const std::vector<uint8_t>>(bytes.get(), bytes.get() + size);
    _cursors.push_back(ZVCursorEntry{int32_t(_cursors.size()), info, std::move(data)});
    _currentCursorIndex = uint32_t(_cursors.size() - 1);
}

uint16_t ZVScreenRecorder::composeFrameFlags(ZVHostApplication* host, int16_t& keyCode,
                                             uint32_t& flags, std::vector<uint8_t>& keyStrokes) {
    uint16_t frameFlags = 0;
    keyCode = -1;
    flags = 0;
    if (host) {
        if (auto code = host->getKeyCode()) keyCode = int16_t(uint16_t(*code & 0xFFFF));
        if (auto f = host->getFlags()) flags = *f;
        if (host->isKeyRepeating().value_or(false)) frameFlags |= kZVFrameKeyRepeating;
        if (auto stack = host->getKeyStrokesStack()) {
            frameFlags |= kZVFrameHasKeyStrokes;
            keyStrokes = std::move(*stack);
        }
        if (auto buttons = host->getMouseButtonsState()) frameFlags |= uint16_t(*buttons & 0xF);
    }
    if (_server->isZoomed()) frameFlags |= kZVFrameDisplayZoomed;
    if (isZlibCompressionEnabled()) frameFlags |= kZVFrameCompress | kZVFrameHasKeyStrokes;
    return frameFlags;
}

int64_t ZVScreenRecorder::pacingDelay(int32_t frames, double duration, float desiredFPS) {
    if (frames <= 0) return 0;
    // The run's average rate up to the previous frame; frames that all share time 0 run
    // infinitely fast.
    double slowest = duration > 0 ? duration / frames : 0;  // 1 / rate
    double rate = slowest > 0 ? 1.0 / slowest : HUGE_VAL;
    if (!(rate > desiredFPS)) return 0;
    double wait = 1.0 / desiredFPS - slowest;
    return wait > 0 ? int64_t(wait * 1e6) : 0;
}

void ZVScreenRecorder::noteStall(double now) {
    // A full destination holds a tick on purpose (the disk is behind, counted apart);
    // every other second between two tick starts is time the recorder could not run.
    const double gap = _lastTickStart > 0 ? now - _lastTickStart - _lastTickWaited : 0;
    if (!(gap > kStallSeconds)) return;
    // The ticks the link would have made in the gap, less the one that ends it.
    const double rate = std::min(_displayLink->nominalRefreshRate(), double(_desiredFPS));
    const int32_t missed = std::max(int32_t(std::lround(gap * rate)) - 1, 0);
    _stalls.fetch_add(1, std::memory_order_relaxed);
    _stalledSeconds.store(_stalledSeconds.load(std::memory_order_relaxed) + gap,
                          std::memory_order_relaxed);
    _missedFrames.fetch_add(missed, std::memory_order_relaxed);
    const double at = _lastTickStart - _startTime.load(std::memory_order_relaxed) -
                      _pauseTime.load(std::memory_order_relaxed);
    ZVLog(
        "Screen recorder: stalled for %.3f s at %.3f s of the recording (the process was "
        "stopped or the machine froze); %d frames missed",
        gap, at, missed);
}

bool ZVScreenRecorder::displayServerLost() {
    const std::string why = _server->takeLostReason();
    if (why.empty()) return false;
    const std::string reason = "the screen can no longer be read: " + why;
    ZVLog("Screen recorder: %s", reason.c_str());
    fail(reason);
    stop();
    return true;
}

int32_t ZVScreenRecorder::displayLinkCallback(const ZVDisplayLinkTime&) {
    return displayLinkCallback();
}

int32_t ZVScreenRecorder::displayLinkCallback() {
    if (isSuspended()) return 0;

    if (_startTime.load(std::memory_order_relaxed) == 0) {
        _startTime.store(ZVAbsoluteTimeGetCurrent(), std::memory_order_relaxed);
        _sync.markFirstActiveMoment();
        post(ZVScreenRecorderDidStartNotification);
    }
    const double tickStart = ZVAbsoluteTimeGetCurrent();
    noteStall(tickStart);

    // One rectangle for the frame size, the read and the record.
    _snapper->lockFocus();
    ZVRect rect = captureRect();
    std::shared_ptr<ZVMovieFrame> frame;
    try {
        frame = ZVMovieFrame::movieFrameWithSize(rect.size);
    } catch (const ZVException&) {
        frame = nullptr;
    }
    if (!frame) {
        _snapper->unlockFocus();
        fail("Failed to create frame buffer");
        ZVRunAlertPanel("Failed to create frame buffer", "");
        stop();
        return ZVDisplayLink::kError;
    }
    // A rectangle wholly on displays is read straight into the frame where the server can;
    // otherwise display by display. Pixels on no active display are not read; a rectangle
    // wholly on displays overwrites every byte of an unpadded buffer, so clearing it first
    // would be wasted work.
    const bool whole = _snapper->captureRectLiesOnActiveDisplays();
    // What changed is asked before the pixels are read: a change made in between is in
    // this frame's pixels and again in the next frame's damage, which the writer compares
    // with what it stored (never with this frame), so no change is ever left out.
    std::optional<ZVDamage> damage = whole ? _server->takeDamage(rect) : std::nullopt;
    // The display server reads the pixels somewhere between asking and its answer (late in
    // it when the machine is busy and the server waits for a core): the frame's time is
    // the middle, which is never more than half the wait off.
    double askedAt = ZVAbsoluteTimeGetCurrent();
    if (!whole || !_snapper->readRectStraightIntoBuffer(*frame)) {
        if (!whole || frame->bytesPerRow() != frame->pixelsWidth() * 4) frame->clearBuffer();
        askedAt = ZVAbsoluteTimeGetCurrent();
        _snapper->readRectToBuffer(*frame);
    }
    const double captureTime = (askedAt + ZVAbsoluteTimeGetCurrent()) / 2;
    _snapper->unlockFocus();
    if (damage) {
        // The server counts lines from the top; the frame holds the bottom line first.
        const int32_t height = frame->pixelsHeight();
        for (ZVDamageRect& r : *damage) r.y = height - r.y - r.height;
        frame->setDamage(std::move(damage));
    }

    bool visible = false;
    trackCursor(visible);
    // A broken connection reads nothing: that frame is not handed on.
    if (displayServerLost()) return ZVDisplayLink::kError;

    double timestamp = captureTime - _startTime.load(std::memory_order_relaxed) -
                       _pauseTime.load(std::memory_order_relaxed);

    ZVPoint mouse = _server->mouseLocation();
    std::vector<uint8_t> keyStrokes;
    ZVFrameInfo info{};
    std::shared_ptr<ZVHostApplication> host = ZVSharedApplication();
    info.frameFlags = int16_t(composeFrameFlags(host.get(), info.keyCode, info.flags, keyStrokes));
    info.mousePointerLocation = {mouse.x - rect.origin.x, mouse.y - rect.origin.y};
    info.dimensions = rect.size;
    info.mousePointerIndex = visible ? _currentCursorIndex : kZVNoCursorIndex;
    info.timestamp = timestamp;
    frame->setInfo(info);
    if (!keyStrokes.empty()) frame->setKeyStrokes(std::move(keyStrokes));

    // No frame is ever dropped: the tick holds here while the destination is full (the
    // link keeps its own clock and skips the boundaries it missed).
    ZVDataDestination& dest = destination();
    const double waitStart = ZVAbsoluteTimeGetCurrent();
    ZVWaitUntilAccepts(dest, kZVWaitForever, {});
    const double waited = ZVAbsoluteTimeGetCurrent() - waitStart;
    // The link already ticks once per refresh: only a rate below it needs a pause. A pause
    // at the link's own rate (short, never quite zero) lets a busy machine run other work
    // past the next refresh, whose frame is then lost.
    if (int64_t us = _desiredFPS < _displayLink->nominalRefreshRate()
                         ? pacingDelay(capturedFrames(), captureDuration(), _desiredFPS)
                         : 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    dest.addObject(std::move(frame));
    _capturedFrames.fetch_add(1, std::memory_order_relaxed);
    _captureDuration.store(timestamp, std::memory_order_relaxed);
    post(ZVScreenRecorderCapturedFrameNotification);
    _lastTickStart = tickStart;
    _lastTickWaited = waited;
    return 0;
}
