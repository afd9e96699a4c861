#include "Export/ZVRecordedInput.h"

#include <algorithm>
#include <cmath>

#include "Video/ZVMovieFrame.h"

namespace {
constexpr int16_t kButtons =
    kZVFrameLeftButton | kZVFrameRightButton | kZVFrameOtherButton | kZVFrameDoubleClick;
}  // namespace

void ZVRecordedInput::addRecord(const ZVFrameInfo& info, int keyStrokes) {
    const double time = info.timestamp;
    // A time that goes back (a damaged file) is left out: the samples stay in order.
    if (!std::isfinite(time) || (!_pointer.empty() && time < _pointer.back().time)) return;
    const ZVPoint at = info.mousePointerLocation;
    _duration = std::max(_duration, time);
    _pointer.push_back({time, at});
    // Buttons are held state: a press is a bit that the previous record did not have. A
    // second click within one frame (a double click) shows as the double-click bit.
    const int16_t buttons = info.frameFlags & kButtons;
    const int16_t pressed = _havePrevious ? int16_t(buttons & ~_previousFlags) : buttons;
    if (pressed) addAction({ZVInputAction::Kind::click, time, at});
    // The key code is the key held: it counts once, when it changes.
    int keys = keyStrokes;
    if (!(info.frameFlags & kZVFrameHasKeyStrokes) && info.keyCode != -1 &&
        info.keyCode != _previousKey)
        keys = 1;
    for (int i = 0; i < keys; ++i) addAction({ZVInputAction::Kind::key, time, at});
    _havePrevious = true;
    _previousFlags = buttons;
    _previousKey = info.keyCode;
}

void ZVRecordedInput::addAction(const ZVInputAction& action) {
    if (!std::isfinite(action.time)) return;
    auto at = std::upper_bound(_actions.begin(), _actions.end(), action.time,
                               [](double t, const ZVInputAction& a) { return t < a.time; });
    _actions.insert(at, action);
}

int ZVRecordedInput::keyStrokeCount(const std::vector<uint8_t>& entries) {
    return static_cast<int>(ZVMovieFrame::keyStrokesIn(entries).size());
}

ZVPoint ZVRecordedInput::pointerAt(double time) const {
    if (_pointer.empty()) return {_size.width / 2, _size.height / 2};
    auto after = std::upper_bound(_pointer.begin(), _pointer.end(), time,
                                  [](double t, const ZVPointerSample& s) { return t < s.time; });
    return after == _pointer.begin() ? after->at : std::prev(after)->at;
}
