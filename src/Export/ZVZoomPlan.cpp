#include "Export/ZVZoomPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Export/ZVSpring.h"
#include "Foundation/ZVLog.h"

namespace {
// Times of the automatic plan are kept to the millisecond and centres to the pixel: what
// a person reads in its file.
double milliseconds(double seconds) {
    return std::round(seconds * 1000) / 1000;
}

// A stretch of actions before it becomes a segment.
struct Run {
    double first, last;
    float minX, minY, maxX, maxY;  // where its actions happened
    void take(const ZVInputAction& a) {
        last = a.time;
        minX = std::min(minX, a.at.x), maxX = std::max(maxX, a.at.x);
        minY = std::min(minY, a.at.y), maxY = std::max(maxY, a.at.y);
    }
};

// How many keys each key action's burst holds (keys each within `gap` of the previous key;
// clicks between them do not part them); 0 for clicks.
std::vector<int> burstSizes(const std::vector<ZVInputAction>& actions, double gap) {
    std::vector<int> sizes(actions.size(), 0);
    std::vector<size_t> burst;
    auto close = [&] {
        for (size_t k : burst) sizes[k] = int(burst.size());
        burst.clear();
    };
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actions[i].kind != ZVInputAction::Kind::key) continue;
        if (!burst.empty() && actions[i].time - actions[burst.back()].time > gap) close();
        burst.push_back(i);
    }
    close();
    return sizes;
}

// A rectangle's numbers, worked with in double precision.
struct Box {
    double x, y, w, h;
    Box(const ZVRect& r) : x(r.origin.x), y(r.origin.y), w(r.size.width), h(r.size.height) {}
    void add(const Box& to, const Box& from, double f) {
        x += (to.x - from.x) * f, y += (to.y - from.y) * f;
        w += (to.w - from.w) * f, h += (to.h - from.h) * f;
    }
};
}  // namespace

ZVZoomPlan ZVZoomPlan::automatic(const ZVRecordedInput& input, const ZVZoomOptions& options) {
    const auto& actions = input.actions();
    const std::vector<int> bursts = burstSizes(actions, options.mergeGap);
    const double duration = input.duration();
    std::vector<Run> runs;
    bool open = false;
    for (size_t i = 0; i < actions.size(); ++i) {
        const ZVInputAction& a = actions[i];
        if (open && a.time - runs.back().last <= options.mergeGap) {
            runs.back().take(a);
            continue;
        }
        open = a.kind == ZVInputAction::Kind::click || bursts[i] >= options.burstKeys;
        if (open) runs.push_back({a.time, a.time, a.at.x, a.at.y, a.at.x, a.at.y});
    }
    // The camera needs a lead-in to go out and another to come back: segments closer than
    // both are one, so it never bounces.
    std::vector<ZVZoomSegment> segments;
    std::vector<Run> merged;
    for (const Run& r : runs) {
        const double start = milliseconds(std::clamp(r.first, 0.0, duration));
        const double end = milliseconds(std::clamp(r.last + options.hold, start, duration));
        if (!segments.empty() && start - segments.back().end < 2 * options.leadIn) {
            segments.back().end = end;
            Run& m = merged.back();
            m.minX = std::min(m.minX, r.minX), m.maxX = std::max(m.maxX, r.maxX);
            m.minY = std::min(m.minY, r.minY), m.maxY = std::max(m.maxY, r.maxY);
        } else {
            segments.push_back({start, end, options.level, std::nullopt});
            merged.push_back(r);
        }
    }
    // Actions that all fit in the view's dead zone keep it still on their middle; others
    // have the view follow the pointer.
    const ZVSize size = input.size();
    for (size_t i = 0; i < segments.size(); ++i) {
        const Run& m = merged[i];
        const double deadWidth = kDeadZone * size.width / options.level;
        const double deadHeight = kDeadZone * size.height / options.level;
        if (m.maxX - m.minX <= deadWidth && m.maxY - m.minY <= deadHeight)
            segments[i].centre =
                ZVPoint{std::round((m.minX + m.maxX) / 2), std::round((m.minY + m.maxY) / 2)};
    }
    return ZVZoomPlan(std::move(segments), input, options);
}

ZVZoomPlan::ZVZoomPlan(std::vector<ZVZoomSegment> segments, const ZVRecordedInput& input,
                       const ZVZoomOptions& options)
    : _segments(std::move(segments)),
      _size(input.size()),
      _duration(input.duration()),
      _leadIn(std::max(options.leadIn, 0.001)) {
    planMoves(input);
}

std::string ZVZoomPlan::problem(const std::vector<ZVZoomSegment>& segments, ZVSize size,
                                double duration) {
    for (size_t i = 0; i < segments.size(); ++i) {
        const ZVZoomSegment& s = segments[i];
        const std::string name = ZVFormat("segment %zu: ", i + 1);
        for (auto [what, t] : {std::pair{"start", s.start}, {"end", s.end}}) {
            if (!(t >= 0 && t <= duration))
                return name + ZVFormat("%s %g s lies outside the recording (0 to %g s)", what, t,
                                       duration);
        }
        if (s.end < s.start)
            return name + ZVFormat("ends at %g s, before it starts at %g s", s.end, s.start);
        if (i > 0 && s.start < segments[i - 1].end)
            return name + ZVFormat("starts at %g s, before segment %zu ends at %g s", s.start, i,
                                   segments[i - 1].end);
        if (!(s.level >= kMinLevel && s.level <= kMaxLevel))
            return name + ZVFormat("level %g lies outside %g to %g", s.level, kMinLevel, kMaxLevel);
        if (s.centre && !(s.centre->x >= 0 && s.centre->x <= size.width && s.centre->y >= 0 &&
                          s.centre->y <= size.height))
            return name + "centre " + ZVStringFromPoint(*s.centre) + " lies outside the picture " +
                   ZVStringFromSize(size);
    }
    return {};
}

ZVRect ZVZoomPlan::viewCentredOn(ZVPoint centre, double level) const {
    const double w = _size.width / level, h = _size.height / level;
    const double x = std::clamp(centre.x - w / 2, 0.0, std::max(0.0, _size.width - w));
    const double y = std::clamp(centre.y - h / 2, 0.0, std::max(0.0, _size.height - h));
    return ZVMakeRect(float(x), float(y), float(w), float(h));
}

void ZVZoomPlan::moveTo(double start, const ZVRect& target) {
    if (_moves.empty() || !(_moves.back().target == target)) _moves.push_back({start, target});
}

void ZVZoomPlan::planMoves(const ZVRecordedInput& input) {
    const ZVRect whole{{0, 0}, _size};
    const auto& pointer = input.pointer();
    for (size_t i = 0; i < _segments.size(); ++i) {
        const ZVZoomSegment& s = _segments[i];
        // When the next segment's move in begins before this one ends, the camera goes
        // from this view straight to that one.
        const double nextIn = i + 1 < _segments.size() ? _segments[i + 1].start - _leadIn
                                                       : std::numeric_limits<double>::infinity();
        const double until = std::min(s.end, nextIn);
        ZVPoint centre = s.centre.value_or(input.pointerAt(s.start));
        moveTo(s.start - _leadIn, viewCentredOn(centre, s.level));
        if (!s.centre) {
            // The view moves when the pointer leaves the middle of the view it is going to,
            // towards where the pointer will be when the move ends (the recording is known
            // ahead), so a pointer that keeps going arrives near the middle instead of at
            // the edge it is about to leave again; yet not so far that the place where it
            // left would not be in the middle of the new view.
            const double halfDeadWidth = kDeadZone * _size.width / s.level / 2;
            const double halfDeadHeight = kDeadZone * _size.height / s.level / 2;
            auto p =
                std::upper_bound(pointer.begin(), pointer.end(), s.start,
                                 [](double t, const ZVPointerSample& q) { return t < q.time; });
            for (; p != pointer.end() && p->time < until; ++p) {
                if (std::abs(p->at.x - centre.x) <= halfDeadWidth &&
                    std::abs(p->at.y - centre.y) <= halfDeadHeight)
                    continue;
                const ZVPoint ahead = input.pointerAt(std::min(p->time + _leadIn, until));
                centre = {std::clamp(ahead.x, float(p->at.x - halfDeadWidth),
                                     float(p->at.x + halfDeadWidth)),
                          std::clamp(ahead.y, float(p->at.y - halfDeadHeight),
                                     float(p->at.y + halfDeadHeight))};
                moveTo(p->time, viewCentredOn(centre, s.level));
            }
        }
        if (nextIn >= s.end) moveTo(s.end, whole);
    }
}

ZVRect ZVZoomPlan::viewAt(double time) const {
    // The moves finished by `time` are a prefix: the view is the last one's target, and
    // each move still under way adds its share of the way from its predecessor's target.
    auto open = std::partition_point(_moves.begin(), _moves.end(),
                                     [&](const Move& m) { return m.start + _leadIn <= time; });
    Box from = open == _moves.begin() ? ZVRect{{0, 0}, _size} : std::prev(open)->target;
    Box view = from;
    for (auto m = open; m != _moves.end() && m->start < time; ++m) {
        const Box to = m->target;
        view.add(to, from, ZVSpring::ease((time - m->start) / _leadIn));
        from = to;
    }
    return ZVMakeRect(float(view.x), float(view.y), float(view.w), float(view.h));
}
