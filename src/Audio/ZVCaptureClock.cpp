#include "Audio/ZVCaptureClock.h"

#include <algorithm>
#include <cmath>
#include <tuple>

// Each arrival becomes a point (x, y): x the seconds since the first arrival, y how much
// later the frames came than the nominal rate says, x - frames / nominal. A device
// running at its nominal rate gives points on a flat line plus the (positive) delivery
// delay; a fast or slow one tilts the line by 1 - real / nominal per second.

namespace {
// A window minimum this far above the line was a late window (a busy system, a gap not
// yet seen), not the device's clock: the rate is fitted again without it.
constexpr double kOutlierSeconds = 0.003;
}  // namespace

ZVCaptureClock::ZVCaptureClock(double nominalRate)
    : _nominalRate(nominalRate > 0 ? nominalRate : 1) {}

void ZVCaptureClock::addArrival(double t, int64_t frames) {
    if (_arrivals++ == 0) {
        _t0 = t;
        _frames0 = frames;
    }
    const Point p{t - _t0, (t - _t0) - double(frames - _frames0) / _nominalRate};
    const auto index = int64_t(std::floor(p.x / kWindowSeconds));
    if (index != _windowIndex) {
        if (_windowIndex >= 0) closeWindow();
        _windowIndex = index;
        _window = p;
    } else if (p.y < _window.y) {
        _window = p;
    }
    // The line never passes above an arrival.
    _intercept = std::min(_intercept, p.y - _slope * p.x);
}

void ZVCaptureClock::closeWindow() {
    _minima.push_back(_window);
    fit();
}

void ZVCaptureClock::fit() {
    if (_minima.size() < 3 || _minima.back().x - _minima.front().x < kMinMeasureSeconds) return;
    auto leastSquares = [this](double slope, bool dropOutliers, double intercept) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const Point& p : _minima) {
            if (dropOutliers && p.y - (intercept + slope * p.x) > kOutlierSeconds) continue;
            n += 1, sx += p.x, sy += p.y, sxx += p.x * p.x, sxy += p.x * p.y;
        }
        const double d = n * sxx - sx * sx;
        if (n < 3 || d <= 0) return std::pair{slope, intercept};
        const double s = (n * sxy - sx * sy) / d;
        return std::pair{s, (sy - s * sx) / n};
    };
    auto [s, c] = leastSquares(0, false, 0);
    std::tie(s, c) = leastSquares(s, true, c);
    _slope = s;
    _intercept = _window.y - s * _window.x;
    for (const Point& p : _minima) _intercept = std::min(_intercept, p.y - s * p.x);
}

double ZVCaptureClock::captureTime(int64_t frame) const {
    return _t0 + (double(frame - _frames0) / _nominalRate + _intercept) / (1 - _slope);
}

double ZVCaptureClock::measuredRate() const {
    return _nominalRate * (1 - _slope);
}
