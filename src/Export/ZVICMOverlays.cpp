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
constexpr float kStripStart = 6.0f;
constexpr double kFadePerSecond = -4.0;
// The strip shows the latest keys and cuts the rest at its head. A glyph of its font is
// more than 4 pixels wide and at most 4 bytes long, so a picture's width in bytes holds
// more than the strip can show: text beyond it is dropped from the front, and keys typed
// without pause for a long time cost no more to lay out.
constexpr size_t kMinKeptKeys = 256;
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
    _curKeyStringOpacity = kNone;
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
    const ZVFrameInfo info = frame.info();
    if (info.frameFlags & kZVFrameHasKeyStrokes) {
        const std::string& typed = frame.keyStrokesString();
        if (!typed.empty()) {
            appendKeys(typed, frame.pixelsWidth());
            _curKeyStringOpacity = kStripStart;
        }
    } else if (info.keyCode != -1) {
        if (auto name = SRStringForKeyCode(info.keyCode)) {
            _curKeyStringOpacity = kStripStart;
            const std::string modifiers = SRStringForCocoaModifierFlags(info.flags);
            appendKeys((modifiers.empty() ? "" : " " + modifiers) + *name, frame.pixelsWidth());
        }
    }
    // The strip stays while a modifier is held.
    if (info.flags & kZVKeyStrokeModifierMask) _curKeyStringOpacity = kStripStart;
}

void ZVICMOverlays::appendKeys(const std::string& text, int32_t pictureWidth) {
    _displayedKeys += text;
    const size_t kept = std::max(kMinKeptKeys, static_cast<size_t>(std::max(pictureWidth, 0)));
    if (_displayedKeys.size() <= kept) return;
    size_t cut = _displayedKeys.size() - kept;
    // Never cut inside a character: skip UTF-8 continuation bytes.
    while (cut < _displayedKeys.size() &&
           (static_cast<uint8_t>(_displayedKeys[cut]) & 0xC0) == 0x80)
        ++cut;
    _displayedKeys.erase(0, cut);
}

void ZVICMOverlays::planKeyStrip(const ZVMovieFrame& frame, double delta, Scene& scene) {
    if (_curKeyStringOpacity > 0 && _stripRenderer) {
        const int32_t width = frame.pixelsWidth();
        const std::string modifiers = SRStringForCocoaModifierFlags(frame.info().flags);
        if (!_strip || width != _stripWidth || _displayedKeys != _stripKeys ||
            modifiers != _stripModifiers) {
            _strip = _stripRenderer->drawStrip(width, _displayedKeys, modifiers);
            _stripWidth = width;
            _stripKeys = _displayedKeys;
            _stripModifiers = modifiers;
        }
        scene.strip = _strip;
        scene.stripOpacity = blended(_curKeyStringOpacity);
    }
    _curKeyStringOpacity += static_cast<float>(delta * kFadePerSecond);
    if (_curKeyStringOpacity < 0) {
        _displayedKeys.clear();
        _curKeyStringOpacity = kNone;
    }
}
