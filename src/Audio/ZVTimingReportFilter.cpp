#include "Audio/ZVTimingReportFilter.h"

#include <algorithm>
#include <cmath>

std::optional<double> ZVTimingReportFilter::add(double origin, double* step) {
    *step = 0;
    _origins.push_back(origin);
    if (_origins.size() > 3) _origins.pop_front();
    if (_origins.size() < 3) return std::nullopt;
    // The report before the newest, between its neighbours (the first of a time line waits
    // for two more, so that it too has company).
    const double a = _origins[0], b = _origins[1], c = _origins[2];
    const double settled = std::max(std::min(a, b), std::min(std::max(a, b), c));
    if (_settled && std::abs(settled - *_settled) > _step) *step = settled - *_settled;
    _settled = settled;
    return settled;
}

std::optional<double> ZVTimingReportFilter::current() const {
    if (_settled) return _settled;
    if (!_origins.empty()) return _origins.back();
    return std::nullopt;
}

void ZVTimingReportFilter::restart() {
    _origins.clear();
    _settled.reset();
}
