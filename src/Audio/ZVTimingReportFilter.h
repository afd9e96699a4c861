#pragma once
#include "ZVPrivate.h"  // library-internal

// A sound server's timing reports on one capture stream, each as the stream's origin: when
// its frame 0 would have been captured had the stream lost nothing. PipeWire's server
// stamps a report when it answers, but its stream position is the one its last cycle left,
// so a report is late now and then (by up to a cycle, 21 ms at its default quantum; two or
// three in a row after the reader was held up), never early but for the first of a time
// line (by up to 16 ms, before its stream settled), which is left out unless it is all
// there is. PulseAudio's reports wander both ways by a few milliseconds, far inside its
// step threshold. A lasting step means frames the server never delivered (a cycle its
// graph missed on a busy machine, a device's overrun) or, stepping back, more frames than
// time. So a report is settled once kWindow - 1 more have come, by the earliest origin
// among them: late reports in a row shorter than the window are left out, and a step is
// seen at the report it came with. A settled origin that moved by more than the step
// threshold since the one before is a step the stream must make good (silence for a loss,
// frames left out for a step back); smaller moves (clock drift, jitter) are followed as
// they are. Not thread-safe: one owner.
#include <cstdint>
#include <deque>
#include <optional>

class ZVTimingReportFilter {
  public:
    static constexpr size_t kWindow = 4;

    struct Settled {
        int64_t report;  // which report, counted from 0 since the start or the last restart
        double origin;   // what is timed by that report
        double step;     // how far it moved beyond the threshold since the last settled, else 0
    };

    explicit ZVTimingReportFilter(double stepSeconds) : _step(stepSeconds) {}

    // Adds the newest report's origin; returns the oldest report it settles, if any.
    std::optional<Settled> add(double origin);
    // The best origin known now: the last settled one, else the earliest report's on this
    // time line (the first only if alone); nullopt without a report.
    std::optional<double> current() const;
    // What follows is a new time line (the stream was paused): no loss across it.
    void restart();
    // Reports on this time line so far, the first left out.
    int64_t reports() const { return _added; }

  private:
    double _step;
    std::deque<double> _origins;   // the newest reports' origins, at most kWindow
    std::optional<double> _first;  // the time line's first report
    std::optional<double> _settled;
    int64_t _added = 0;
};
