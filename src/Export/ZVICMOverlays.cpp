#include "Export/ZVICMOverlays.h"

#include <algorithm>
#include <cmath>

#include "Foundation/ZVBundle.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/SRKeyboardLayout.h"
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
}  // namespace

ZVICMOverlays::ZVICMOverlays(const ZVPlatformServices& services)
    : _stripRenderer(services.keyStripRenderer) {
    // The key names follow the display server's layout.
    SRKeyboardLayout::offerKeymapSource(services.keymapSource);
    for (size_t i = 0; i < kMarkCount; ++i) _marks[i] = loadMark(kMarkFiles[i]);
}

void ZVICMOverlays::resetOpacities() {
    _curMouseStateOpacity = kNone;
    _keyStrip.reset();
}

bool ZVICMOverlays::Scene::operator==(const Scene& other) const {
    const auto sameCursor = [](const std::optional<ZVCursorEntry>& a,
                               const std::optional<ZVCursorEntry>& b) {
        return a.has_value() == b.has_value() && (!a || (a->id == b->id && a->data == b->data));
    };
    // The pointer places the cursor and the mark only; where it is matters when they show.
    const bool placed = cursor || (mark && markOpacity > 0);
    return sameCursor(cursor, other.cursor) && mark == other.mark &&
           markOpacity == other.markOpacity && strip == other.strip &&
           stripOpacity == other.stripOpacity && (!placed || pointer == other.pointer) &&
           view == other.view;
}

ZVICMOverlays::Scene ZVICMOverlays::plan(ZVMovieFrame& frame, double delta,
                                         const Switches& switches, const CursorLookup& cursors) {
    Scene scene;
    const ZVFrameInfo info = frame.info();
    scene.pointer = info.mousePointerLocation;
    if (switches.cursor && info.mousePointerIndex != kZVNoCursorIndex)
        planCursorLayer(info, delta, switches, cursors, scene);
    gatherKeys(frame);
    if (switches.keys) planKeyStrip(frame, delta, scene);
    return scene;
}

void ZVICMOverlays::render(ZVMovieFrame& frame, const Scene& scene, bool cursorAsRGBA,
                           bool bottomRowFirst) {
    if (scene.mark && scene.markOpacity > 0) {
        const ZVPoint at{scene.pointer.x - scene.mark->width(),
                         frame.pixelsHeight() - scene.pointer.y};
        drawImage(frame, *scene.mark, scene.markOpacity, at, bottomRowFirst);
    }
    if (scene.cursor) frame.drawCursor(*scene.cursor, scene.pointer, cursorAsRGBA, bottomRowFirst);
    if (scene.strip && scene.stripOpacity > 0) {
        const ZVPoint at{0, static_cast<float>(frame.pixelsHeight() - ZVKeyStripRenderer::kHeight -
                                               kStripBottomMargin)};
        drawImage(frame, *scene.strip, scene.stripOpacity, at, bottomRowFirst);
    }
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
