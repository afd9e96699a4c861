// The smoothed cursor against pointer paths as a hand on a mouse makes them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ZorvanInternal.h"

TEST(ZVCursorSmoother, JitterIsSmoothedASteadyMoveNeverTrailsBy80msAJumpStaysAJump) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> jitter(-3, 3);
    ZVCursorSmoother jittered(ZVSize{1280, 720});
    double squares = 0;
    for (int i = 0; i < 300; ++i) {
        // Along y = x / 2 at 300 px/s, jitter on both axes.
        const float x = 100 + i * 5.0f;
        const ZVPoint p = jittered.next(i / 60.0, {x + jitter(random), x / 2 + jitter(random)});
        const double off = (p.x / 2 - p.y) / std::sqrt(1.25);  // from the line
        if (i >= 15) squares += off * off;
    }
    EXPECT_LT(std::sqrt(squares / 285), 1.0);

    for (double rate : {30.0, 60.0, 144.0}) {
        for (double speed : {200.0, 2000.0}) {
            ZVCursorSmoother s(ZVSize{1280, 720});
            double trail = 0;
            for (int i = 0; i < rate; ++i) {
                const float x = float(100 + speed * i / rate);
                trail = std::max(trail, (x - s.next(i / rate, {x, 300}).x) / speed);
            }
            EXPECT_LE(trail, 0.08) << rate << " Hz " << speed << " px/s";
            EXPECT_GT(trail, 0.02) << rate << " Hz " << speed << " px/s";
        }
    }

    // At rest, then a jump, a short move that stops: drawn on the spot, as a jump, and
    // arriving without passing the pointer.
    ZVCursorSmoother s(ZVSize{1280, 720});
    for (int i = 0; i < 30; ++i) EXPECT_EQ(s.next(i / 60.0, {100, 100}), (ZVPoint{100, 100}));
    EXPECT_EQ(s.next(0.5, {1000, 600}), (ZVPoint{1000, 600}));
    for (int i = 1; i < 60; ++i) {
        const ZVPoint p = s.next(0.5 + i / 60.0, {float(1000 + std::min(i, 10) * 10), 600});
        EXPECT_LE(p.x, 1100);
        EXPECT_TRUE(i < 40 || p == (ZVPoint{1100, 600})) << i;
    }
}
