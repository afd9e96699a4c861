#pragma once
// Seconds since 1 January 2001 UTC. Taken once from the wall clock and advanced by the
// monotonic clock afterwards, so recording times never jump when the wall clock is set.
// Any thread.
double ZVAbsoluteTimeGetCurrent();

// Seconds between 1970-01-01 and 2001-01-01.
inline constexpr double kZVAbsoluteTimeIntervalSince1970 = 978307200.0;
