#include "Export/ZVICM.h"

#include <cmath>

#include "Export/ZVICMOverlays.h"
#include "Export/ZVZoomPlan.h"
#include "Foundation/ZVLog.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVCompressionSession.h"
#include "Media/ZVEncodedMovieFrame.h"
#include "Media/ZVMediaToolkit.h"
#include "Media/ZVPictureScaler.h"
#include "Video/ZVMovieFrame.h"

namespace {
// Sets one session option; a refusal is logged and the session is made with the rest.
void setOption(long status, const char* what) {
    if (status != kZVMediaNoErr) ZVLog("%s failed with error %ld", what, status);
}

template <typename T>
long setProperty(ZVCompressionSessionOptions& options, uint32_t id, T value) {
    return options.setProperty(kZVCompressionSessionOptionsPropertyClass, id, &value, sizeof value);
}

// How long the compression output waits for room before looking at _tearingDown again.
constexpr auto kOutputWait = std::chrono::milliseconds(100);

int32_t truncated(double v) {
    return std::isfinite(v) && v > 0 && v < INT32_MAX ? static_cast<int32_t>(v) : 0;
}

// Pieces are made in sizes rounded up to this many pixels, so that a few pools of pixel
// buffers serve them however the cursor's size changes.
constexpr int32_t kPieceStep = 32;

// A frame that the session reads together with the pieces laid over it.
struct ZoomedFrame {
    std::shared_ptr<ZVMovieFrame> frame;
    std::vector<std::shared_ptr<ZVMovieFrame>> pieces;
};

// The pixels of `frame` as the session reads them: top row first, or read upwards.
ZVSourcePixels pixelsOf(const ZVMovieFrame& frame, bool bottomRowFirst) {
    ZVSourcePixels pixels;
    pixels.baseAddress = frame.baseAddress();
    pixels.width = frame.pixelsWidth();
    pixels.height = frame.pixelsHeight();
    pixels.bytesPerRow = frame.bytesPerRow();
    if (bottomRowFirst && pixels.height > 0) {
        pixels.baseAddress += static_cast<ptrdiff_t>(pixels.height - 1) * pixels.bytesPerRow;
        pixels.bytesPerRow = -pixels.bytesPerRow;
    }
    return pixels;
}

// The plan's view at `time` of a picture of `size`, or an empty one when the picture is
// shown whole: such a frame is encoded exactly as without a camera.
ZVRect viewOf(const ZVZoomPlan* plan, double time, ZVSize size) {
    if (!plan || !(plan->size() == size)) return {};
    const ZVRect view = plan->viewAt(time);
    constexpr float kWhole = 0.01f;  // of a pixel: no shift or scale that could show
    if (std::abs(view.size.width - size.width) < kWhole &&
        std::abs(view.size.height - size.height) < kWhole && std::abs(view.origin.x) < kWhole &&
        std::abs(view.origin.y) < kWhole)
        return {};
    return view;
}

// Draws the overlays of `scene` (a frame shown through its view) on pieces of the picture
// the view gives, scaled here the way the session scales the rest, and lays them over
// `pixels`.
void addOverlayPieces(ZVPictureScaler& scaler, const ZVICMOverlays::Scene& scene, bool cursorAsRGBA,
                      ZVSourcePixels& pixels, std::vector<std::shared_ptr<ZVMovieFrame>>& pieces) {
    const int32_t width = pixels.width, height = pixels.height;
    const double zoom = width / pixels.view.size.width;
    ZVSourcePixels source = pixels;
    source.view = {};
    for (const ZVRect& area : ZVICMOverlays::drawnAreas(scene, width, height)) {
        const auto w = static_cast<int32_t>(area.size.width);
        const auto h = static_cast<int32_t>(area.size.height);
        auto piece = ZVMovieFrame::movieFrameWithSize(
            {float((w + kPieceStep - 1) / kPieceStep * kPieceStep),
             float((h + kPieceStep - 1) / kPieceStep * kPieceStep)});
        const ZVRect part{{float(pixels.view.origin.x + area.origin.x / zoom),
                           float(pixels.view.origin.y + area.origin.y / zoom)},
                          {float(w / zoom), float(h / zoom)}};
        if (!piece || !scaler.scale(source, part, piece->baseAddress(), w, h, piece->bytesPerRow()))
            continue;
        const ZVICMOverlays::Area at{int32_t(area.origin.x), int32_t(area.origin.y), height};
        ZVICMOverlays::render(*piece, scene, cursorAsRGBA, false, at);
        ZVSourcePatch patch;
        patch.baseAddress = piece->baseAddress();
        patch.width = w;
        patch.height = h;
        patch.bytesPerRow = piece->bytesPerRow();
        patch.x = at.x;
        patch.y = at.y;
        pixels.patches.push_back(patch);
        pieces.push_back(std::move(piece));
    }
}
}  // namespace

ZVICM::ZVICM(const ZVEncodingPreset& preset)
    : _preset(std::make_shared<const ZVEncodingPreset>(preset)) {}

std::shared_ptr<ZVICM> ZVICM::initWithPreset(const ZVEncodingPreset& preset,
                                             ZVSize initialDimensions,
                                             const ZVPlatformServices& services,
                                             double nominalFrameRate) {
    auto stage = std::shared_ptr<ZVICM>(new ZVICM(preset));

    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    settings.setPreferenceFlags(kZVVideoSettingsPreferenceFlags);
    // An empty block gives no handle: the settings keep their defaults.
    if (auto handle = stage->_preset->videoSettings()) settings.load(*handle);
    ZVCompressionSessionOptions options;
    if (long status = settings.copyCompressionSessionOptions(options)) {
        ZVLog("SCCopyCompressionSessionOptions() failed with error %ld", status);
        if (!settings.loadError().empty()) ZVLog("%s", settings.loadError().c_str());
        return nullptr;
    }
    const uint32_t codecType = settings.codecType();
    stage->_frameRate = ZVFixedToDouble(settings.frameRate());

    setOption(
        setProperty(options, kZVCompressionSessionOptionsPropertyID_MultiPassStorage, uint32_t{0}),
        "ICMCompressionSessionOptionsSetProperty()");
    setOption(options.setAllowTemporalCompression(true),
              "ICMCompressionSessionOptionsSetAllowTemporalCompression()");
    // Frames that fold repeats last as long as the stretch they stand for. Reordered, such a
    // picture would be decoded after pictures shown later, and the movie's decode times
    // (the encoder's reordering delay, sized from those long gaps) would not add up to
    // its length: a movie of variable rate is coded in display order.
    setOption(options.setAllowFrameReordering(!stage->skipsRepeatedFrames()),
              "ICMCompressionSessionOptionsSetAllowFrameReordering()");
    setOption(options.setMaxKeyFrameInterval(kMaxKeyFrameInterval),
              "ICMCompressionSessionOptionsSetMaxKeyFrameInterval()");
    setOption(options.setAllowFrameTimeChanges(false),
              "ICMCompressionSessionOptionsSetAllowFrameTimeChanges()");
    setOption(options.setDurationsNeeded(true), "ICMCompressionSessionOptionsSetDurationsNeeded()");
    setOption(setProperty(options, kZVCompressionSessionOptionsPropertyID_MaxFrameDelayCount,
                          int32_t{kMaxFrameDelayCount}),
              "ICMCompressionSessionOptionsSetProperty(kICMCompressionSessionOptionsPropertyID_"
              "MaxFrameDelayCount)");
    setOption(
        setProperty(options, kZVCompressionSessionOptionsPropertyID_CPUTimeBudget, uint32_t{0}),
        "ICMCompressionSessionOptionsSetProperty(kICMCompressionSessionOptionsPropertyID_"
        "CPUTimeBudget)");
    setOption(setProperty(options, kZVCompressionSessionOptionsPropertyID_Quality,
                          int32_t{kZVCodecNormalQuality}),
              "ICMCompressionSessionOptionsSetProperty(kICMCompressionSessionOptionsPropertyID_"
              "Quality)");
    setOption(
        setProperty(options, kZVCompressionSessionOptionsPropertyID_AllowAsyncCompletion, true),
        "ICMCompressionSessionOptionsSetProperty(kICMCompressionSessionOptionsPropertyID_"
        "AllowAsyncCompletion)");
    setOption(setProperty(options, kZVCompressionSessionOptionsPropertyID_ScalingMode,
                          kZVScalingMode_Letterbox),
              "ICMCompressionSessionOptionsSetProperty(kICMCompressionSessionOptionsPropertyID_"
              "ScalingMode)");

    const ZVOutputSize size = stage->_preset->outputSizeForRecordedSize(initialDimensions);
    stage->_outputWidth = size.width;
    stage->_outputHeight = size.height;
    if (stage->_frameRate > 0) stage->_timeScale = truncated(stage->_frameRate * 100);
    options.setExpectedFrameRate(stage->_frameRate > 0 ? stage->_frameRate : nominalFrameRate);

    // The session calls back for as long as it lives; the stage owns it, so a plain
    // pointer suffices (the destructor drops outputs made while it runs).
    ZVICM* raw = stage.get();
    long error = kZVMediaNoErr;
    stage->_session = ZVCompressionSession::create(
        services.mediaToolkit.get(), stage->_outputWidth, stage->_outputHeight, codecType,
        stage->_timeScale, options,
        [raw](long status, ZVEncodedFrameRef frame) { return raw->frameOutput(status, frame); },
        &error);
    if (error != kZVMediaNoErr || !stage->_session)
        ZVLog("ICMCompressionSessionCreate() failed with error %ld", error);
    if (!stage->_session) return nullptr;

    stage->_overlays = std::make_unique<ZVICMOverlays>(services);
    if (services.mediaToolkit) stage->_cameraScaler = services.mediaToolkit->createPictureScaler();
    using D = ZVICMDelegateInformalProtocol;
    auto forward = [&](std::string_view name, void (D::*op)(ZVICM*)) {
        stage->forwardToDelegate(name, [raw, op](const ZVNotification&) {
            if (D* d = raw->delegate()) (d->*op)(raw);
        });
    };
    forward(ZVICMDidStartNotification, &D::ZVICMDidStart);
    // Once per frame: handed over only to a delegate, and folded while one waits, so an
    // export never fills the main run loop faster than the host drains it.
    stage->forwardCoalescedToDelegate(
        ZVICMDidEncodeFrameNotification, [raw] { return raw->delegate() != nullptr; },
        [raw](const ZVNotification&) {
            if (D* d = raw->delegate()) d->ZVICMDidEncodeFrame(raw);
        });
    forward(ZVICMDidStopNotification, &D::ZVICMDidStop);
    return stage;
}

ZVICM::~ZVICM() {
    _tearingDown.store(true);
    // The session completes what it still holds as it goes; nothing is added any more.
    _session.reset();
}

void ZVICM::start() {
    launchWorker([this] { frameCompressor(); }, ZVICMDidStopNotification);
}

void ZVICM::setCursors(std::vector<ZVCursorEntry> cursors) {
    ZVLockGuard guard(_cursorsLock);
    _cursors = std::move(cursors);
}

void ZVICM::setZoomPlan(std::shared_ptr<const ZVZoomPlan> plan) {
    ZVLockGuard guard(_planLock);
    _plan = std::move(plan);
}

std::vector<ZVCursorEntry> ZVICM::cursors() const {
    ZVLockGuard guard(_cursorsLock);
    return _cursors;
}

struct ZVICM::Run {
    double previousTimestamp = 0.0;  // of the frame before, encoded or not
    double lastInterval = 0.0;       // between the last two frames
    bool anyFrame = false;
    bool encodedAny = false;
    ZVICMOverlays::Scene encodedScene;       // what the last encoded frame got drawn into it
    std::shared_ptr<const ZVZoomPlan> plan;  // the camera's, for the whole run
};

// The worker. It owns the overlay state for the run; each frame it takes is handed on to
// the session, which lets go of it through the tracking callback.
void ZVICM::frameCompressor() {
    _overlays->resetOpacities();
    _worker.running();
    post(ZVICMDidStartNotification);
    // The source of this run; one set later is used from the next run on.
    ZVDataSource& input = source();
    Run run;
    {
        ZVLockGuard guard(_planLock);
        run.plan = _plan;
    }
    // Every frame handed to the session goes out before did-stop, also when a pass threw.
    // Frames folded at the end still count: the last picture lasts as long as they did.
    struct Completion {
        ZVICM& stage;
        const Run& run;
        ~Completion() {
            const double end = run.previousTimestamp + run.lastInterval;
            if (stage.skipsRepeatedFrames() && run.encodedAny && run.lastInterval > 0)
                stage._session->setEndTimeStamp(static_cast<int64_t>(end * stage._timeScale));
            stage._session->completeFrames();
            stage._endTime.store(end);
        }
    } completion{*this, run};
    _worker.loop([&] {
        return _worker.consume(input, [&](ZVObjectRef object) {
            if (auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(std::move(object)))
                compress(std::move(frame), run);
        });
    });
}

void ZVICM::compress(std::shared_ptr<ZVMovieFrame> frame, Run& run) {
    const double t = frame->timestamp();
    const bool bottomRowFirst = _needsToFlipBufferContents.load();

    ZVICMOverlays::Switches switches;
    switches.cursor = _preset->includesCursorTrack();
    switches.clicks = _preset->showsMouseClicks();
    switches.keys = _preset->showsKeysPressed();
    switches.smoothing = _preset->cursorSmoothing();
    switches.cursorScale = _preset->cursorScale();
    switches.hideIdle = _preset->hideIdleCursor();
    const ZVSize size{float(frame->pixelsWidth()), float(frame->pixelsHeight())};
    const ZVRect view = _cameraScaler ? viewOf(run.plan.get(), t, size) : ZVRect{};
    const ZVICMOverlays::Scene scene = _overlays->plan(
        *frame, t - run.previousTimestamp, switches,
        [this](uint32_t id) -> std::optional<ZVCursorEntry> {
            ZVLockGuard guard(_cursorsLock);
            for (const ZVCursorEntry& c : _cursors)
                if (static_cast<uint32_t>(c.id) == id) return c;
            return std::nullopt;
        },
        view);
    run.lastInterval = run.anyFrame ? t - run.previousTimestamp : 0.0;
    run.previousTimestamp = t;
    run.anyFrame = true;
    if (skipsRepeatedFrames() && run.encodedAny && frame->pixelsRepeatPrevious() &&
        scene == run.encodedScene) {
        _skippedFrames.fetch_add(1);
        return;
    }
    const bool zoomed = view.size.width > 0;
    if (!zoomed) ZVICMOverlays::render(*frame, scene, _cursorAsRGBA.load(), bottomRowFirst);

    if (auto* d = delegate()) d->ZVICMWillEncodeFrame(this, frame.get());

    int64_t timeStamp = 0;
    uint32_t flags = 0;
    if (t >= 0) {
        timeStamp = static_cast<int64_t>(t * _timeScale);
        flags = kZVValidTimeFlag_DisplayTimeStampIsValid;
    }
    ZVSourcePixels pixels = pixelsOf(*frame, bottomRowFirst);
    ZVSourceReference source = frame;
    if (zoomed) {
        // The view from the picture's top-left, as the session reads it.
        pixels.view = {{view.origin.x, size.height - view.maxY()}, view.size};
        auto zoomedFrame = std::make_shared<ZoomedFrame>();
        addOverlayPieces(*_cameraScaler, scene, _cursorAsRGBA.load(), pixels, zoomedFrame->pieces);
        zoomedFrame->frame = std::move(frame);
        source = std::move(zoomedFrame);
    }
    // The session keeps the frame (and so its pixels, and the pieces laid over them) until
    // it hands it back; the result is not checked, as a frame the session refused is
    // simply not in the movie.
    _session->encodeFrame(
        pixels, timeStamp, 0, flags,
        [](uint32_t trackingFlags, ZVSourceReference source) {
            if (trackingFlags & kZVSourceTrackingFlag_ReleasedPixelBuffer) source.reset();
        },
        std::move(source));
    run.encodedAny = true;
    run.encodedScene = scene;
}

long ZVICM::frameOutput(long status, ZVEncodedFrameRef frame) {
    // A frame the codec could not encode is lost without a message.
    if (status != kZVMediaNoErr || !frame || _tearingDown.load()) return status;
    auto wrapped = ZVEncodedMovieFrame::encodedMovieFrameWithICMEncodedFrame(std::move(frame));
    ZVDataDestination& out = destination();
    // No frame is dropped: the output holds here until there is room (a flush makes room
    // at once). The destructor sets _tearingDown without a wake, so it is looked at again
    // after each timeout.
    const auto interrupted = [this] { return _tearingDown.load(); };
    while (!ZVWaitUntilAccepts(out, kOutputWait, interrupted))
        if (interrupted()) return status;
    out.addObject(std::move(wrapped));
    post(ZVICMDidEncodeFrameNotification);
    return status;
}
