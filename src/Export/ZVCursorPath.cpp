#include "Export/ZVCursorPath.h"

#include <algorithm>
#include <cmath>

namespace {
// The window across the motion spreads over this many time constants, and over at least
// this many records: at 30 records a second the jitter of a hand (+-3 px) needs the
// records of half a second to average out to under a pixel.
constexpr double kAcrossSpread = 4;
constexpr double kAcrossRecords = 16;
// Slower than this (pixels a second) the direction of motion is lost in the jitter, and
// the wider window smooths along the motion as well: there is hardly a timing to keep.
constexpr double kSlow = 20;
// The most records a window takes on either side of its point (some 150 at 240 records
// a second): records crowded into a moment by a damaged file cost no more.
constexpr size_t kMostRecords = 512;
// A record this close in time to a frame's is that frame's record.
constexpr double kSameTime = 1e-6;

// The window's weights are (1 - u²)² over -1 < u < 1, whose spread is its half-width
// over √7.
const double kWidthPerSpread = std::sqrt(7.0);

struct Vec {
    double x = 0, y = 0;
};

// A straight line fitted by weighted least squares to the records around a moment.
struct LineFit {
    double s0 = 0, s1 = 0, s2 = 0, x = 0, y = 0, tx = 0, ty = 0;

    // The record `dt` seconds from the moment, in a window `width` seconds either side.
    void add(double dt, double width, ZVPoint p) {
        const double u = dt / width;
        if (!(u * u < 1)) return;
        const double w = (1 - u * u) * (1 - u * u);
        s0 += w;
        s1 += w * dt;
        s2 += w * dt * dt;
        x += w * p.x;
        y += w * p.y;
        tx += w * dt * p.x;
        ty += w * dt * p.y;
    }
    // The line at the moment, and its speed; a window with records at one time alone
    // gives their mean, at rest.
    void line(Vec& at, Vec& speed) const {
        const double det = s0 * s2 - s1 * s1;
        if (!(det > 1e-9 * s0 * s2)) {
            at = {x / s0, y / s0};
            speed = {};
            return;
        }
        at = {(s2 * x - s1 * tx) / det, (s2 * y - s1 * ty) / det};
        speed = {(s0 * tx - s1 * x) / det, (s0 * ty - s1 * y) / det};
    }
};

// 1 at 0, falling smoothly to 0 at 1 and after.
double fade(double u) {
    if (!(u < 1)) return 0;
    return 1 - u * u * (3 - 2 * u);
}

bool finite(ZVPoint p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}
}  // namespace

ZVCursorPath::ZVCursorPath(const ZVRecordedInput& input, double timeConstant)
    : _path(input.pointer()) {
    const size_t n = _path.size();
    if (!(timeConstant > 0) || n < 3) return;
    // The recording's usual interval between records, pauses and stalls left out.
    std::vector<double> steps;
    steps.reserve(n - 1);
    for (size_t i = 1; i < n; ++i)
        if (double dt = _path[i].time - _path[i - 1].time; dt > 0) steps.push_back(dt);
    double interval = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + long(steps.size() / 2), steps.end());
        interval = steps[steps.size() / 2];
    }
    _alongWidth = timeConstant * kWidthPerSpread;
    _acrossWidth =
        std::max(kAcrossSpread * timeConstant, kAcrossRecords * interval) * kWidthPerSpread;

    // The records drawn as recorded: the ends, both sides of a jump, a pointer at rest and
    // the record before it, every press, and a point that is no number with its neighbours.
    const ZVSize size = input.size();
    const double jump = std::min(size.width, size.height) / 3.0;
    std::vector<bool> kept(n, false);
    kept[0] = kept[n - 1] = true;
    for (size_t i = 1; i < n; ++i) {
        const ZVPoint p = _path[i - 1].at, q = _path[i].at;
        if (!finite(p) || !finite(q)) {
            kept[i - 1] = kept[i] = true;
            if (i + 1 < n) kept[i + 1] = true;
        } else if (p == q || std::hypot(q.x - p.x, q.y - p.y) > jump) {
            kept[i - 1] = kept[i] = true;
        }
    }
    for (const ZVInputAction& action : input.actions()) {
        if (action.kind != ZVInputAction::Kind::click) continue;
        auto after =
            std::upper_bound(_path.begin(), _path.end(), action.time,
                             [](double t, const ZVPointerSample& s) { return t < s.time; });
        if (after != _path.begin()) kept[size_t(std::prev(after) - _path.begin())] = true;
    }
    size_t first = 0;
    for (size_t i = 1; i < n; ++i) {
        if (!kept[i]) continue;
        if (i - first >= 2) smoothPiece(first, i);
        first = i;
    }
}

void ZVCursorPath::smoothPiece(size_t first, size_t last) {
    // Each point from the records of this piece only; written when all are known.
    const std::vector<ZVPointerSample>& recorded = _path;
    const auto fitted = [&](size_t i) {
        const double t = recorded[i].time;
        LineFit along, across;
        const auto add = [&](size_t j) {
            const double dt = recorded[j].time - t;
            along.add(dt, _alongWidth, recorded[j].at);
            across.add(dt, _acrossWidth, recorded[j].at);
        };
        add(i);
        const size_t from = i - std::min(i - first, kMostRecords);
        const size_t to = i + std::min(last - i, kMostRecords);
        for (size_t j = i; j > from && t - recorded[j - 1].time < _acrossWidth; --j) add(j - 1);
        for (size_t j = i + 1; j <= to && recorded[j].time - t < _acrossWidth; ++j) add(j);
        Vec a, b, unused, v;
        along.line(a, unused);
        across.line(b, v);
        // What the wider window adds, less its part along the motion (kept at the
        // narrower window's timing) as far as the direction is known.
        Vec d{b.x - a.x, b.y - a.y};
        if (const double v2 = v.x * v.x + v.y * v.y; v2 > 0) {
            const double share = v2 / (v2 + kSlow * kSlow) * (d.x * v.x + d.y * v.y) / v2;
            d.x -= share * v.x;
            d.y -= share * v.y;
        }
        if (const double len = std::hypot(d.x, d.y); len > kMaxAcross) {
            d.x *= kMaxAcross / len;
            d.y *= kMaxAcross / len;
        }
        return Vec{a.x + d.x, a.y + d.y};
    };
    std::vector<Vec> points(last - first + 1);
    for (size_t i = first; i <= last; ++i) points[i - first] = fitted(i);
    // The ends are kept as recorded; what the fit puts elsewhere fades in over the narrower
    // window (or the whole piece, when it is shorter).
    const Vec startOff{recorded[first].at.x - points.front().x,
                       recorded[first].at.y - points.front().y};
    const Vec endOff{recorded[last].at.x - points.back().x, recorded[last].at.y - points.back().y};
    const double t0 = recorded[first].time, t1 = recorded[last].time;
    const double blend = std::min(_alongWidth, t1 - t0);
    for (size_t i = first + 1; i < last; ++i) {
        const double t = recorded[i].time;
        const double s = blend > 0 ? fade((t - t0) / blend) : 0;
        const double e = blend > 0 ? fade((t1 - t) / blend) : 0;
        const Vec p = points[i - first];
        _path[i].at = {float(p.x + s * startOff.x + e * endOff.x),
                       float(p.y + s * startOff.y + e * endOff.y)};
    }
}

ZVPoint ZVCursorPath::at(double time, ZVPoint recorded) const {
    auto after = std::upper_bound(_path.begin(), _path.end(), time + kSameTime,
                                  [](double t, const ZVPointerSample& s) { return t < s.time; });
    if (after == _path.begin()) return recorded;
    const ZVPointerSample& s = *std::prev(after);
    return std::abs(s.time - time) <= kSameTime ? s.at : recorded;
}
