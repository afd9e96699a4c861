#pragma once
#include "ZVPrivate.h"  // library-internal

// Where the export draws the cursor: the recorded pointer path through a critically
// damped spring per axis, so the tremor of a hand on the mouse is drawn as a steady
// line. The time constant is how far the drawn cursor trails a steady move (the spring's
// stiffness is 2 / time constant); the spring never passes the pointer where it stops.
// A jump longer than a third of the picture's shorter side between two records (a
// teleport, a trip to another screen) is drawn as a jump, and a pointer at rest is drawn
// exactly where it is.
//
// A value: no lock, one owner (the compressor's worker).
#include "Export/ZVSpring.h"
#include "Foundation/ZVGeometry.h"

class ZVCursorSmoother {
  public:
    static constexpr double kDefaultTimeConstant = 0.06;

    // For a picture of `size`. Any thread.
    explicit ZVCursorSmoother(ZVSize size, double timeConstant = kDefaultTimeConstant);

    // The point to draw for the record taken at `time` with the pointer at `recorded`;
    // records come in recording order (a time that does not advance moves nothing). Owner's
    // thread.
    ZVPoint next(double time, ZVPoint recorded);

  private:
    void jumpTo(double time, ZVPoint recorded);

    double _jump;  // the shortest move kept as a jump
    ZVSpring _x, _y;
    bool _started = false;
    double _time = 0;
    ZVPoint _recorded;
};
