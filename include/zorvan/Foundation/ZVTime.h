#pragma once
#include <chrono>
#include <thread>

// Seconds since 1 January 2001 UTC. Taken once from the wall clock and advanced by the
// monotonic clock afterwards, so recording times never jump when the wall clock is set.
// Any thread.
double ZVAbsoluteTimeGetCurrent();

// Seconds between 1970-01-01 and 2001-01-01.
inline constexpr double kZVAbsoluteTimeIntervalSince1970 = 978307200.0;

// Polls `done` every `step` until it is true or `seconds` have passed; whether it came
// true. For flags that other threads set (stages poll theirs every 10 ms). Any thread.
template <typename Done>
bool ZVPollUntil(Done done, double seconds,
                 std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}
