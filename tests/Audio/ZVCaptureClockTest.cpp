// The capture clock against a simulated device whose crystal is off by 100 ppm, and one
// fast by 0.1 %: frames in 10 ms deliveries, each seen after a random delay by a reader
// polling every 10 ms, for a minute of simulated time.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Audio/ZVCaptureClock.h"

TEST(ZVCaptureClock, MeasuresADriftingDeviceAndPlacesItsFrames) {
    for (double drift : {100e-6, 1e-3}) {
        SCOPED_TRACE(drift);
        const double nominal = 44100, truth = nominal * (1 + drift);
        const double t0 = 800e6 + 0.123;  // when frame 0 was captured, on the absolute clock
        std::mt19937 random(7);
        std::uniform_real_distribution<double> delay(0.0005, 0.004), poll(0.009, 0.012);

        ZVCaptureClock clock(nominal);
        int64_t delivered = 0, seen = 0;
        double due = t0 + 441 / truth + delay(random);  // when the next delivery is in
        for (double t = t0; t < t0 + 60; t += poll(random)) {
            while (due <= t) {
                delivered += 441;
                due = t0 + double(delivered + 441) / truth + delay(random);
            }
            if (delivered > seen) clock.addArrival(t, seen = delivered);
            if (t < t0 + 5) {
                EXPECT_EQ(clock.measuredRate(), nominal);  // too early to tell
            }
        }
        EXPECT_NEAR(clock.measuredRate(), truth, truth * 5e-6);
        // Frames are placed within a millisecond of their capture, at the start and the end.
        EXPECT_NEAR(clock.captureTime(0), t0, 0.001);
        EXPECT_NEAR(clock.captureTime(delivered), t0 + double(delivered) / truth, 0.001);
    }
}
