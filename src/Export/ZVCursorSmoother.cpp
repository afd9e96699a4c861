#include "Export/ZVCursorSmoother.h"

#include <algorithm>
#include <cmath>

namespace {
// Closer than this to a pointer at rest, the cursor is drawn on it: less than a pixel
// never shows, and a spring only ever approaches its target.
constexpr double kSettled = 0.25;
}  // namespace

ZVCursorSmoother::ZVCursorSmoother(ZVSize size, double timeConstant)
    : _jump(std::min(size.width, size.height) / 3.0),
      _x(2 / std::max(timeConstant, 1e-3)),
      _y(2 / std::max(timeConstant, 1e-3)) {}

void ZVCursorSmoother::jumpTo(double time, ZVPoint recorded) {
    _x.reset(recorded.x);
    _y.reset(recorded.y);
    _started = true;
    _time = time;
    _recorded = recorded;
}

ZVPoint ZVCursorSmoother::next(double time, ZVPoint recorded) {
    if (!std::isfinite(recorded.x) || !std::isfinite(recorded.y) || !std::isfinite(time))
        return recorded;
    if (!_started || std::hypot(recorded.x - _recorded.x, recorded.y - _recorded.y) > _jump) {
        jumpTo(time, recorded);
        return recorded;
    }
    const bool still = recorded == _recorded;
    // The pointer is taken to have gone where it is seen at the start of the interval
    // before it was seen: a record is the latest news of where it is.
    const double seconds = time - _time;
    if (seconds > 0) {
        _x.advance(recorded.x, seconds);
        _y.advance(recorded.y, seconds);
        _time = time;
    }
    _recorded = recorded;
    if (still && std::abs(_x.position() - recorded.x) < kSettled &&
        std::abs(_y.position() - recorded.y) < kSettled)
        jumpTo(time, recorded);
    return {float(_x.position()), float(_y.position())};
}
