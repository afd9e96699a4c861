#include "Foundation/ZVTime.h"

#include <time.h>

namespace {
double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Epoch {
    double wallAtStart = seconds(CLOCK_REALTIME) - kZVAbsoluteTimeIntervalSince1970;
    double monoAtStart = seconds(CLOCK_MONOTONIC);
};
}  // namespace

double ZVAbsoluteTimeGetCurrent() {
    static const Epoch epoch;  // thread-safe once-initialisation
    return epoch.wallAtStart + (seconds(CLOCK_MONOTONIC) - epoch.monoAtStart);
}
