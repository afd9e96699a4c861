#include "Export/ZVInputTrack.h"

#include <algorithm>
#include <iterator>

#include "Keys/SRKeyNaming.h"
#include "Video/ZVMovieFrame.h"

namespace {
// Shift alone types a character; the other modifiers make a shortcut.
constexpr uint32_t kShortcutModifiers =
    kSRCocoaCommandKeyMask | kSRCocoaOptionKeyMask | kSRCocoaControlKeyMask;

// A chapter's name says a shortcut in the words printed on a PC keyboard ("Ctrl+S"), as
// players list chapters in plain text and the strip's glyphs are not on those keys.
std::string shortcutName(uint32_t flags, short keyCode) {
    std::string name;
    if (flags & kSRCocoaControlKeyMask) name += "Ctrl+";
    if (flags & kSRCocoaOptionKeyMask) name += "Alt+";
    if (flags & kSRCocoaShiftKeyMask) name += "Shift+";
    if (flags & kSRCocoaCommandKeyMask) name += "Super+";
    return name + SRStringForKeyCode(keyCode).value_or(std::string(kSRMissingKeyName));
}

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}
}  // namespace

void ZVInputTrack::addRecord(const ZVFrameInfo& info, const std::vector<uint8_t>* keyStrokes,
                             const std::string* keyText) {
    const double t = info.timestamp;
    // As the compressor: each frame's fade advances by the interval before it.
    const double delta = t - _previous;
    _interval = _any ? delta : 0;
    _previous = t;
    _any = true;

    if ((info.frameFlags & kZVFrameHasKeyStrokes) && keyStrokes) {
        for (const ZVKeyStroke& stroke : ZVMovieFrame::keyStrokesIn(*keyStrokes))
            if (stroke.modifierFlags & kShortcutModifiers)
                _text.chapters.push_back(
                    {t, shortcutName(stroke.modifierFlags, short(stroke.keyCode))});
    } else if (!(info.frameFlags & kZVFrameHasKeyStrokes) && info.keyCode != -1 &&
               info.keyCode != _previousKey && (info.flags & kShortcutModifiers)) {
        _text.chapters.push_back({t, shortcutName(info.flags, info.keyCode)});
    }
    _previousKey = info.keyCode;

    std::string typed;
    _strip.gather(
        info,
        [&]() -> const std::string& {
            typed = keyText      ? *keyText
                    : keyStrokes ? ZVMovieFrame::keyStrokesText(*keyStrokes)
                                 : "";
            return typed;
        },
        _width);
    show(t, _strip.shown() ? trimmed(_strip.keys()) : std::string());
    _strip.advance(delta);
}

void ZVInputTrack::show(double time, std::string text) {
    if (text == _shown) return;
    if (!_shown.empty() && time > _shownSince) _text.keys.push_back({_shownSince, time, _shown});
    _shown = std::move(text);
    _shownSince = time;
}

ZVMovieText ZVInputTrack::finish(const ZVRecordedInput& input) {
    show(_previous + _interval, {});
    // A click comes before a shortcut of the same record.
    std::vector<ZVChapterMark> clicks, chapters;
    for (const ZVInputAction& a : input.actions())
        if (a.kind == ZVInputAction::Kind::click) clicks.push_back({a.time, "Click"});
    std::merge(clicks.begin(), clicks.end(), _text.chapters.begin(), _text.chapters.end(),
               std::back_inserter(chapters),
               [](const ZVChapterMark& a, const ZVChapterMark& b) { return a.time < b.time; });
    _text.chapters = std::move(chapters);
    return std::move(_text);
}
