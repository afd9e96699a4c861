#include "Export/ZVSpring.h"

#include <cmath>

namespace {
// ω · T of the ease: (1 + 7) e^-7 leaves 0.7 % of the way at the end.
constexpr double kEaseStiffness = 7.0;
}  // namespace

double ZVSpring::advance(double target, double seconds) {
    if (!(seconds > 0)) return _position;
    // x(t) = target + (c1 + c2 t) e^(-ωt), the critically damped solution from the
    // present position and velocity.
    const double c1 = _position - target;
    const double c2 = _velocity + _omega * c1;
    const double decay = std::exp(-_omega * seconds);
    _position = target + (c1 + c2 * seconds) * decay;
    _velocity = (c2 - _omega * (c1 + c2 * seconds)) * decay;
    return _position;
}

double ZVSpring::ease(double u) {
    if (!(u > 0)) return 0;
    if (u >= 1) return 1;
    static const double whole = 1 - (1 + kEaseStiffness) * std::exp(-kEaseStiffness);
    const double k = kEaseStiffness * u;
    return (1 - (1 + k) * std::exp(-k)) / whole;
}
