#include "Export/ZVKeyStripTimeline.h"

#include <algorithm>

#include "Keys/SRKeyNaming.h"

namespace {
constexpr float kStripStart = 6.0f;
constexpr double kFadePerSecond = -4.0;
// The strip shows the latest keys and cuts the rest at its head. A glyph of its font is
// more than 4 pixels wide and at most 4 bytes long, so a picture's width in bytes holds
// more than the strip can show: text beyond it is dropped from the front, and keys typed
// without pause for a long time cost no more to lay out.
constexpr size_t kMinKeptKeys = 256;
}  // namespace

void ZVKeyStripTimeline::gather(const ZVFrameInfo& info,
                                const std::function<const std::string&()>& typed,
                                int32_t pictureWidth) {
    if (info.frameFlags & kZVFrameHasKeyStrokes) {
        const std::string& text = typed();
        if (!text.empty()) {
            append(text, pictureWidth);
            _opacity = kStripStart;
        }
    } else if (info.keyCode != -1) {
        if (auto name = SRStringForKeyCode(info.keyCode)) {
            _opacity = kStripStart;
            const std::string modifiers = SRStringForCocoaModifierFlags(info.flags);
            append((modifiers.empty() ? "" : " " + modifiers) + *name, pictureWidth);
        }
    }
    // The strip stays while a modifier is held.
    if (info.flags & kZVKeyStrokeModifierMask) _opacity = kStripStart;
}

void ZVKeyStripTimeline::append(const std::string& text, int32_t pictureWidth) {
    _keys += text;
    const size_t kept = std::max(kMinKeptKeys, static_cast<size_t>(std::max(pictureWidth, 0)));
    if (_keys.size() <= kept) return;
    size_t cut = _keys.size() - kept;
    // Never cut inside a character: skip UTF-8 continuation bytes.
    while (cut < _keys.size() && (static_cast<uint8_t>(_keys[cut]) & 0xC0) == 0x80) ++cut;
    _keys.erase(0, cut);
}

void ZVKeyStripTimeline::advance(double delta) {
    _opacity += static_cast<float>(delta * kFadePerSecond);
    if (_opacity < 0) {
        _keys.clear();
        _opacity = kNone;
    }
}
