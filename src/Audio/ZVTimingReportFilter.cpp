#include "Audio/ZVTimingReportFilter.h"

#include <algorithm>
#include <cmath>

std::optional<ZVTimingReportFilter::Settled> ZVTimingReportFilter::add(double origin) {
    if (!_first) {
        _first = origin;
        return std::nullopt;
    }
    _origins.push_back(origin);
    ++_added;
    if (_origins.size() < kWindow) return std::nullopt;
    const double settled = *std::min_element(_origins.begin(), _origins.end());
    _origins.pop_front();
    const double moved = _settled ? settled - *_settled : 0;
    _settled = settled;
    return Settled{_added - int64_t(kWindow), settled, std::abs(moved) > _step ? moved : 0};
}

std::optional<double> ZVTimingReportFilter::current() const {
    if (_settled) return _settled;
    if (!_origins.empty()) return *std::min_element(_origins.begin(), _origins.end());
    return _first;
}

void ZVTimingReportFilter::restart() {
    _origins.clear();
    _first.reset();
    _settled.reset();
    _added = 0;
}
