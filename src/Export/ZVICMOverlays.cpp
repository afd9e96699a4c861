#include "Export/ZVICMOverlays.h"

#include <algorithm>
#include <cmath>

#include "Foundation/ZVBundle.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/SRKeyboardLayout.h"
#include "Media/ZVMediaToolkit.h"
#include "Video/ZVMovieFrame.h"

namespace {
constexpr float kNone = -1.0f;
constexpr float kMarkStart = 3.0f;
constexpr double kFadePerSecond = -4.0;
// The strip's lower edge lies this far above the picture's bottom.
constexpr int32_t kStripBottomMargin = 30;

std::shared_ptr<ZVImage> loadMark(const char* name) {
    const std::string path = ZVBundle::resourcePath(name);
    return path.empty() ? nullptr : ZVImage::readPNG(path);
}

// Blends `image` (rows top first) with its top-left corner at `at`, counted from the
// picture's top-left; in a buffer stored bottom row first the image is walked upwards.
void drawImage(ZVMovieFrame& frame, const ZVImage& image, float opacity, ZVPoint at,
               bool bottomRowFirst) {
    const auto rowBytes = static_cast<int32_t>(image.bytesPerRow());
    const uint8_t* bytes = image.data();
    if (bottomRowFirst && image.height() > 0) {
        at.y = static_cast<float>(frame.pixelsHeight() - image.height()) - std::trunc(at.y);
        bytes += static_cast<ptrdiff_t>(image.height() - 1) * rowBytes;
    }
    frame.drawRGBAImage(bytes, bottomRowFirst ? -rowBytes : rowBytes, image.width(), image.height(),
                        opacity, at);
}

float blended(float opacity) {
    return std::clamp(opacity, 0.0f, 1.0f);
}

// A side `scale` times longer, at least a pixel.
int32_t scaledSide(double side, double scale) {
    return std::max(1, static_cast<int32_t>(std::lround(side * scale)));
}

// Whether the cursor's record matches its bytes in this byte order and holds 32-bit pixels.
bool readableCursor(const ZVCursorEntry& cursor) {
    const ZVCursorInfo& info = cursor.info;
    const int64_t w = static_cast<int64_t>(info.bounds.size.width);
    const int64_t h = static_cast<int64_t>(info.bounds.size.height);
    return cursor.data && info.size == static_cast<int64_t>(cursor.data->size()) &&
           info.components == 4 && info.bitsPerComponent == 8 && info.depth == 32 && w > 0 &&
           h > 0 && w <= 1024 && h <= 1024 && info.bytesPerRow >= w * 4 &&
           int64_t{info.bytesPerRow} * (h - 1) + w * 4 <= info.size;
}

// `rect` grown to whole pixels and a margin, its corners on even pixels (where the
// encoders' half-size colour samples begin), and kept inside the picture.
std::optional<ZVRect> evenArea(ZVRect rect, int32_t width, int32_t height) {
    constexpr float kMargin = 2;
    const float x0 = std::max(0.0f, std::floor((rect.minX() - kMargin) / 2) * 2);
    const float y0 = std::max(0.0f, std::floor((rect.minY() - kMargin) / 2) * 2);
    const float x1 = std::min(float(width & ~1), std::ceil((rect.maxX() + kMargin) / 2) * 2);
    const float y1 = std::min(float(height & ~1), std::ceil((rect.maxY() + kMargin) / 2) * 2);
    if (!(x1 > x0) || !(y1 > y0)) return std::nullopt;
    return ZVRect{{x0, y0}, {x1 - x0, y1 - y0}};
}

ZVRect united(const ZVRect& a, const ZVRect& b) {
    const float x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    return {{x0, y0}, {std::max(a.maxX(), b.maxX()) - x0, std::max(a.maxY(), b.maxY()) - y0}};
}
}  // namespace

ZVICMOverlays::ZVICMOverlays(const ZVPlatformServices& services)
    : _stripRenderer(services.keyStripRenderer),
      _scaler(services.mediaToolkit ? services.mediaToolkit->createPictureScaler() : nullptr) {
    // The key names follow the display server's layout.
    SRKeyboardLayout::offerKeymapSource(services.keymapSource);
    for (size_t i = 0; i < kMarkCount; ++i) _marks[i] = loadMark(kMarkFiles[i]);
}

void ZVICMOverlays::resetOpacities() {
    _curMouseStateOpacity = kNone;
    _keyStrip.reset();
    _seenPointer = false;
}

bool ZVICMOverlays::Scene::operator==(const Scene& other) const {
    const auto sameCursor = [](const std::optional<ZVCursorEntry>& a,
                               const std::optional<ZVCursorEntry>& b) {
        return a.has_value() == b.has_value() && (!a || (a->id == b->id && a->data == b->data));
    };
    // The points place the cursor and the mark only; where they are matters when they show.
    const bool marked = mark && markOpacity > 0;
    return sameCursor(cursor, other.cursor) && mark == other.mark &&
           markScaled == other.markScaled && markOpacity == other.markOpacity &&
           strip == other.strip && stripOpacity == other.stripOpacity &&
           (!cursor || pointer == other.pointer) && (!marked || markAt == other.markAt) &&
           view == other.view;
}

ZVICMOverlays::Scene ZVICMOverlays::plan(ZVMovieFrame& frame, double delta,
                                         const Switches& switches, const CursorLookup& cursors,
                                         ZVRect view) {
    Scene scene;
    const ZVFrameInfo info = frame.info();
    const ZVSize picture{float(frame.pixelsWidth()), float(frame.pixelsHeight())};
    const bool zoomed = view.size.width > 0 && view.size.height > 0;
    const double zoom = zoomed ? picture.width / view.size.width : 1;
    // From the recorded picture to the one shown.
    const auto shown = [&](ZVPoint p) {
        return zoomed ? ZVPoint{float((p.x - view.origin.x) * zoom),
                                float((p.y - view.origin.y) * zoom)}
                      : p;
    };
    scene.view = view;
    scene.pointer = scene.markAt = shown(info.mousePointerLocation);
    if (switches.cursor && info.mousePointerIndex != kZVNoCursorIndex) {
        planCursorLayer(info, delta, switches, cursors, scene);
        const std::optional<ZVPoint> place = cursorPlace(info, switches);
        if (!place) scene.cursor.reset();
        if (scene.cursor) {
            scene.pointer = shown(*place);
            const double scale = std::max(switches.cursorScale, 0.0) * zoom;
            if (scale != 1) scene.cursor = scaledCursor(*scene.cursor, scale);
        }
        if (scene.mark && zoom != 1) scene.markScaled = scaledMark(scene.mark, zoom);
        // A smoothed cursor leaves the recorded pointer; its mark stays where the button
        // went down, so the mark marks the place of the click while it fades.
        if (switches.cursorPath) scene.markAt = shown(_pressedAt);
    }
    gatherKeys(frame);
    if (switches.keys) planKeyStrip(frame, delta, scene);
    return scene;
}

void ZVICMOverlays::render(ZVMovieFrame& frame, const Scene& scene, bool cursorAsRGBA,
                           bool bottomRowFirst, Area area) {
    const int32_t height = area.pictureHeight > 0 ? area.pictureHeight : frame.pixelsHeight();
    if (scene.mark && scene.markOpacity > 0) {
        const ZVImage& mark = scene.markScaled ? *scene.markScaled : *scene.mark;
        const ZVPoint at{scene.markAt.x - mark.width() - area.x, height - scene.markAt.y - area.y};
        drawImage(frame, mark, scene.markOpacity, at, bottomRowFirst);
    }
    if (scene.cursor) {
        // The frame's own bottom-left, y up, lies this far from the picture's.
        const float below = area.pictureHeight > 0 ? height - area.y - frame.pixelsHeight() : 0;
        const ZVPoint at{scene.pointer.x - area.x, scene.pointer.y - below};
        frame.drawCursor(*scene.cursor, at, cursorAsRGBA, bottomRowFirst);
    }
    if (scene.strip && scene.stripOpacity > 0) {
        const ZVPoint at{
            static_cast<float>(-area.x),
            static_cast<float>(height - ZVKeyStripRenderer::kHeight - kStripBottomMargin - area.y)};
        drawImage(frame, *scene.strip, scene.stripOpacity, at, bottomRowFirst);
    }
}

std::vector<ZVRect> ZVICMOverlays::drawnAreas(const Scene& scene, int32_t width, int32_t height) {
    std::vector<ZVRect> areas;
    std::optional<ZVRect> pointer;
    if (scene.cursor) {
        // A cursor that cannot be read here is given room enough for any cursor.
        ZVRect r{{scene.pointer.x - 64, height - scene.pointer.y - 64}, {128, 128}};
        if (readableCursor(*scene.cursor)) {
            const ZVCursorInfo& info = scene.cursor->info;
            r = {{std::trunc(scene.pointer.x - info.hotSpot.x),
                  std::trunc(height - scene.pointer.y - info.hotSpot.y)},
                 info.bounds.size};
        }
        pointer = r;
    }
    if (scene.mark && scene.markOpacity > 0) {
        const ZVImage& mark = scene.markScaled ? *scene.markScaled : *scene.mark;
        const ZVRect r{{scene.markAt.x - mark.width(), height - scene.markAt.y},
                       {float(mark.width()), float(mark.height())}};
        pointer = pointer ? united(*pointer, r) : r;
    }
    if (pointer)
        if (auto area = evenArea(*pointer, width, height)) areas.push_back(*area);
    if (scene.strip && scene.stripOpacity > 0) {
        const ZVRect r{{0, float(height - ZVKeyStripRenderer::kHeight - kStripBottomMargin)},
                       {float(scene.strip->width()), float(scene.strip->height())}};
        if (auto area = evenArea(r, width, height)) areas.push_back(*area);
    }
    return areas;
}

std::optional<ZVPoint> ZVICMOverlays::cursorPlace(const ZVFrameInfo& info,
                                                  const Switches& switches) {
    const double time = info.timestamp;
    const ZVPoint at = info.mousePointerLocation;
    if (!_seenPointer || at != _restingAt) {
        _seenPointer = true;
        _restingAt = at;
        _restingSince = time;
    }
    if (switches.hideIdle > 0 && time - _restingSince >= switches.hideIdle) return std::nullopt;
    return switches.cursorPath ? switches.cursorPath->at(time, at) : at;
}

ZVCursorEntry ZVICMOverlays::scaledCursor(const ZVCursorEntry& cursor, double scale) {
    if (cursor.data == _scaledCursorFrom && scale == _scaledCursorBy) return _scaledCursor;
    if (!_scaler || !readableCursor(cursor)) return cursor;
    const ZVCursorInfo& info = cursor.info;
    const int32_t w = scaledSide(info.bounds.size.width, scale);
    const int32_t h = scaledSide(info.bounds.size.height, scale);
    auto bytes = std::make_shared<std::vector<uint8_t>>(size_t(w) * size_t(h) * 4);
    const ZVSourcePixels from = ZVSourcePixels(cursor.data->data(), int32_t(info.bounds.size.width),
                                               int32_t(info.bounds.size.height), info.bytesPerRow);
    if (!_scaler->scale(from, {{0, 0}, info.bounds.size}, bytes->data(), w, h, w * 4))
        return cursor;
    ZVCursorEntry scaled = cursor;
    scaled.data = bytes;
    scaled.info.size = static_cast<int32_t>(bytes->size());
    scaled.info.bytesPerRow = w * 4;
    scaled.info.bounds.size = {float(w), float(h)};
    scaled.info.hotSpot = {float(info.hotSpot.x * scale), float(info.hotSpot.y * scale)};
    _scaledCursor = scaled;
    _scaledCursorFrom = cursor.data;
    _scaledCursorBy = scale;
    return scaled;
}

std::shared_ptr<ZVImage> ZVICMOverlays::scaledMark(const ZVImage* mark, double scale) {
    if (mark == _scaledMarkFrom && scale == _scaledMarkBy) return _scaledMark;
    if (!_scaler) return nullptr;
    const int32_t w = scaledSide(mark->width(), scale), h = scaledSide(mark->height(), scale);
    std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 4);
    const ZVSourcePixels from =
        ZVSourcePixels(mark->data(), mark->width(), mark->height(), int32_t(mark->bytesPerRow()));
    const ZVSize size{float(mark->width()), float(mark->height())};
    if (!_scaler->scale(from, {{0, 0}, size}, bytes.data(), w, h, w * 4)) return nullptr;
    _scaledMark = ZVImage::create(w, h, mark->format(), bytes.data(), size_t(w) * 4);
    _scaledMarkFrom = mark;
    _scaledMarkBy = scale;
    return _scaledMark;
}

void ZVICMOverlays::draw(ZVMovieFrame& frame, double delta, const Switches& switches,
                         const CursorLookup& cursors, bool cursorAsRGBA) {
    render(frame, plan(frame, delta, switches, cursors), cursorAsRGBA);
}

void ZVICMOverlays::planCursorLayer(const ZVFrameInfo& info, double delta, const Switches& switches,
                                    const CursorLookup& cursors, Scene& scene) {
    const int16_t flags = info.frameFlags;
    if (!(flags & kZVFrameDisplayZoomed)) {
        if (switches.clicks) {
            const ZVImage* chosen = nullptr;
            if ((flags & kZVFrameLeftButton) && (flags & kZVFrameRightButton))
                chosen = _marks[kLeftRight].get();
            else if (flags & kZVFrameLeftButton)
                chosen = _marks[(flags & kZVFrameDoubleClick) ? kDoubleLeft : kLeft].get();
            else if (flags & kZVFrameRightButton)
                chosen = _marks[kRight].get();
            else if (flags & kZVFrameOtherButton)
                chosen = _marks[kOther].get();
            if (flags & (kZVFrameLeftButton | kZVFrameRightButton | kZVFrameOtherButton)) {
                _curMouseStateImage = chosen;
                _curMouseStateOpacity = kMarkStart;
                _pressedAt = info.mousePointerLocation;
            }
            if (_curMouseStateImage && _curMouseStateOpacity > 0) {
                scene.mark = _curMouseStateImage;
                scene.markOpacity = blended(_curMouseStateOpacity);
            }
        }
        if (cursors) scene.cursor = cursors(info.mousePointerIndex);
    }
    _curMouseStateOpacity += static_cast<float>(delta * kFadePerSecond);
    if (_curMouseStateOpacity < 0) _curMouseStateOpacity = kNone;
}

void ZVICMOverlays::gatherKeys(ZVMovieFrame& frame) {
    _keyStrip.gather(
        frame.info(), [&]() -> const std::string& { return frame.keyStrokesString(); },
        frame.pixelsWidth());
}

void ZVICMOverlays::planKeyStrip(const ZVMovieFrame& frame, double delta, Scene& scene) {
    if (_keyStrip.shown() && _stripRenderer) {
        const int32_t width = frame.pixelsWidth();
        const std::string modifiers = SRStringForCocoaModifierFlags(frame.info().flags);
        if (!_strip || width != _stripWidth || _keyStrip.keys() != _stripKeys ||
            modifiers != _stripModifiers) {
            _strip = _stripRenderer->drawStrip(width, _keyStrip.keys(), modifiers);
            _stripWidth = width;
            _stripKeys = _keyStrip.keys();
            _stripModifiers = modifiers;
        }
        scene.strip = _strip;
        scene.stripOpacity = blended(_keyStrip.opacity());
    }
    _keyStrip.advance(delta);
}
