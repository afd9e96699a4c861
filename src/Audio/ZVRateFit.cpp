#include "Audio/ZVRateFit.h"

#include <algorithm>
#include <cmath>

namespace {
// A window's average this far off the first line is left out of the second.
constexpr double kOutlierSeconds = 0.002;
}  // namespace

ZVRateFit::ZVRateFit(double nominalRate) : _nominal(nominalRate > 0 ? nominalRate : 1) {}

void ZVRateFit::add(double t, int64_t frame) {
    if (_points++ == 0) {
        _t0 = t;
        _frame0 = frame;
    }
    const Point p{t - _t0, (t - _t0) - double(frame - _frame0) / _nominal};
    const auto index = int64_t(std::floor(p.x / kWindowSeconds));
    if (index != _windowIndex && !_window.empty()) {
        _means.push_back(median());
        _window.clear();
        fit();
    }
    _windowIndex = index;
    _window.push_back(p);
    if (_means.size() < 3 || _means.back().x - _means.front().x < kMinMeasureSeconds) {
        // Not measured yet: along the nominal rate from the newest point.
        _slope = 0;
        _intercept = p.y;
    }
}

ZVRateFit::Point ZVRateFit::median() {
    auto mid = _window.begin() + long(_window.size() / 2);
    std::nth_element(_window.begin(), mid, _window.end(),
                     [](const Point& a, const Point& b) { return a.y < b.y; });
    return *mid;
}

void ZVRateFit::fit() {
    if (_means.size() < 3 || _means.back().x - _means.front().x < kMinMeasureSeconds) return;
    auto leastSquares = [this](bool dropOutliers) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const Point& p : _means) {
            if (dropOutliers && std::fabs(p.y - (_intercept + _slope * p.x)) > kOutlierSeconds)
                continue;
            n += 1, sx += p.x, sy += p.y, sxx += p.x * p.x, sxy += p.x * p.y;
        }
        const double d = n * sxx - sx * sx;
        if (n < 3 || d <= 0) return;
        _slope = (n * sxy - sx * sy) / d;
        _intercept = (sy - _slope * sx) / n;
    };
    leastSquares(false);
    leastSquares(true);
}

double ZVRateFit::timeAt(int64_t frame) const {
    return _t0 + (double(frame - _frame0) / _nominal + _intercept) / (1 - _slope);
}

double ZVRateFit::rate() const {
    return _nominal * (1 - _slope);
}
