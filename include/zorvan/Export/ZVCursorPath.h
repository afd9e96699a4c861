#pragma once
// Where the export draws the cursor: the recorded pointer path smoothed once, as a whole,
// before the movie starts, so the tremor of a hand on the mouse is drawn as a steady line.
// Having the whole recording, the smoothing looks ahead as far as behind: a steady move is
// drawn on the pointer, never after it.
//
// The path is cut into pieces where it must stay as recorded, and each piece between
// them is smoothed on its own:
// - a jump longer than a third of the picture's shorter side between two records (a
//   teleport, a trip to another screen) is drawn as the same jump;
// - a pointer at rest is drawn exactly where it is, also in the record before it starts
//   to move and the one where it comes to rest;
// - where a button is pressed the cursor is exactly on the recorded point, so it sits on
//   the click mark.
// Within a piece each point is a local straight-line fit of the records around it (a
// symmetric window: its time is the middle of the window, so a steady move is fitted
// exactly, also at the ends of a piece). Along the motion the window is the time constant
// wide (its weights have that spread); across the motion a wider one takes the jitter
// that carries the cursor off the line, by at most kMaxAcross pixels. A sharp turn at
// speed v is therefore cut by at most about 0.41 x time constant x v + kMaxAcross: at the
// default 0.06 s, 10 px at 300 px/s, 16 px at 500 px/s. Near the ends of a piece the fit
// blends into the recorded points.
//
// The curve is made of the recording's own records, the same at any export frame rate;
// a frame looks up its record's point by time. One entry per record.
//
// A value: no lock; any thread, one at a time.
#include <cstddef>
#include <vector>

#include "Export/ZVRecordedInput.h"
#include "Foundation/ZVGeometry.h"

class ZVCursorPath {
  public:
    static constexpr double kDefaultTimeConstant = 0.06;
    // How far the wider window may move the cursor across the motion, in pixels: enough
    // for the jitter of a hand, too little to cut a corner.
    static constexpr double kMaxAcross = 3.0;

    // The smoothed path of `input`'s pointer (its picture size says what is a jump; its
    // clicks are kept in place). A time constant that is not above 0 smooths nothing.
    // Any thread.
    explicit ZVCursorPath(const ZVRecordedInput& input, double timeConstant = kDefaultTimeConstant);

    // Where to draw the cursor for the record taken at `time` with the pointer at
    // `recorded`: `recorded` itself for a time the path has no record of. Any thread.
    ZVPoint at(double time, ZVPoint recorded) const;

    const std::vector<ZVPointerSample>& points() const { return _path; }

  private:
    // Smooths the records between `first` and `last` (both kept as recorded).
    void smoothPiece(size_t first, size_t last);

    std::vector<ZVPointerSample> _path;  // the drawn point of every record, in time order
    double _alongWidth = 0;              // half-widths of the fitting windows, seconds
    double _acrossWidth = 0;
};
