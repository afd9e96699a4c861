#pragma once
#include "ZVPrivate.h"  // library-internal

// A sound server's timing reports on one capture stream, each as the stream's origin: when
// its frame 0 would have been captured had the stream lost nothing. A report now and then
// is a few milliseconds off and the next is right again; a lasting step means frames the
// server never delivered (a cycle its graph missed on a busy machine, a device's overrun)
// or, stepping back, more frames than time. So a report is settled only once the next one
// has come: the median of it and its two neighbours leaves a single report off out, and a
// settled origin that moved by more than the step threshold since the one before is a step
// the stream must make good (silence for a loss, frames left out for a step back).
// Smaller moves (clock drift, jitter) are followed as they are. Not thread-safe: one owner.
#include <deque>
#include <optional>

class ZVTimingReportFilter {
  public:
    explicit ZVTimingReportFilter(double stepSeconds) : _step(stepSeconds) {}

    // The stream's origin as the newest report gives it. Once the report before it can be
    // settled: the origin what arrived before this report is timed by, and in *step how
    // far it moved since the last settled one when that is beyond the threshold (positive:
    // frames lost before it; negative: frames more than time), else 0.
    std::optional<double> add(double origin, double* step);
    // The best origin known now: the last settled one, else the newest report's; nullopt
    // without a report.
    std::optional<double> current() const;
    // What follows is a new time line (the stream was paused): no loss across it.
    void restart();

  private:
    double _step;
    std::deque<double> _origins;  // the newest reports' origins, at most three
    std::optional<double> _settled;
};
