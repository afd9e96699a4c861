#pragma once
#include "ZVPrivate.h"  // library-internal

// A critically damped spring: a value pulled towards a target as fast as it can be
// without ever passing it when it starts at rest. The camera and the smoothed cursor both
// move this way. Every step is the spring's exact solution over the time given, never an
// integration step, so the curve is the same however often it is asked.
//
// A value: no lock, one owner.
class ZVSpring {
  public:
    // A spring of stiffness `omega` (radians per second) at rest at 0. Any thread.
    explicit ZVSpring(double omega) : _omega(omega) {}

    // At rest at `position`. Owner's thread.
    void reset(double position) {
        _position = position;
        _velocity = 0;
    }
    // Moves `seconds` on towards `target` (held for that time) and returns the new
    // position; a time that is not positive moves nothing. Owner's thread.
    double advance(double target, double seconds);

    double position() const { return _position; }
    double velocity() const { return _velocity; }

    // The way from rest at 0 to rest at 1 over the unit time `u` (0 before, 1 after): the
    // spring's step response, stiff enough to be within 1 % at the end and scaled to arrive
    // exactly, so a move planned to end at a moment ends there. It rises monotonically and
    // leaves 0 with no speed. Any thread.
    static double ease(double u);

  private:
    double _omega;
    double _position = 0;
    double _velocity = 0;
};
