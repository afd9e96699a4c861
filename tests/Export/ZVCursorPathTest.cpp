// The smoothed cursor against pointer paths as a hand on a mouse makes them, at the rates
// screens are recorded at.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "ZorvanInternal.h"

TEST(ZVCursorPath, JitterIsDrawnOnTheLineAndMovesOnThePointerJumpsRestsAndPressesAsRecorded) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> jitter(-3, 3);
    // Along y = x / 2 at 300 px/s, jittered on both axes, and how far a point is off it.
    const auto jittered = [&](double rate) {
        return [&, rate](int i) {
            const float x = float(100 + 300 * i / rate);
            return ZVPoint{x + jitter(random), x / 2 + jitter(random)};
        };
    };
    const auto offLine = [](ZVPoint p) { return std::abs(p.x / 2 - p.y) / std::sqrt(1.25); };
    const auto steady = [](double rate, double speed) {
        return [=](int i) { return ZVPoint{float(100 + speed * i / rate), 300}; };
    };
    // Drawn exactly as recorded from record `from` to `to`.
    const auto exact = [](int from, int to) {
        return [=](int j, ZVPoint recorded, ZVPoint drawn) {
            return j < from || j > to || drawn == recorded;
        };
    };
    struct Row {
        const char* what;
        double rate;
        int records, press;
        std::function<ZVPoint(int)> pointer;
        std::function<bool(int, ZVPoint recorded, ZVPoint drawn)> holds;
    };
    std::vector<Row> rows;
    for (double rate : {30.0, 60.0, 120.0})  // the ends blend into the recorded points
        rows.push_back({"jitter", rate, int(5 * rate), -1, jittered(rate),
                        [rate, n = int(5 * rate), &offLine](int i, ZVPoint, ZVPoint drawn) {
                            return i < rate / 2 || i >= n - rate / 2 || offLine(drawn) < 1;
                        }});
    for (double rate : {30.0, 60.0, 144.0})
        for (double speed : {200.0, 2000.0})
            rows.push_back({"steady", rate, int(rate / 2), -1, steady(rate, speed),
                            [speed](int, ZVPoint recorded, ZVPoint drawn) {
                                return std::abs(recorded.x - drawn.x) / speed <= 0.08;
                            }});
    const auto line = jittered(60);
    rows.push_back({"a teleport", 60, 60, -1,
                    [&](int i) {
                        const ZVPoint p = line(i);
                        return i < 30 ? p : ZVPoint{p.x + 800, p.y + 400};
                    },
                    exact(29, 30)});
    rows.push_back({"at rest, then moving", 60, 60, -1,
                    [&](int i) {
                        return i < 30 ? ZVPoint{100, 100} : line(i);
                    },
                    exact(0, 29)});
    rows.push_back({"a press", 60, 120, 60, line, exact(60, 60)});
    // A right-angle turn at 300 px/s stays within 10 px of the path.
    rows.push_back(
        {"a turn", 60, 60, -1,
         [](int i) {
             return ZVPoint{float(100 + 5 * std::min(i, 30)), float(100 + 5 * std::max(i - 30, 0))};
         },
         [](int, ZVPoint, ZVPoint d) {
             return std::min(std::abs(d.y - 100), std::abs(d.x - 250)) <= 10;
         }});
    for (const Row& row : rows) {
        ZVRecordedInput input(ZVSize{1280, 720});
        std::vector<ZVPoint> recorded;
        for (int i = 0; i < row.records; ++i) {
            ZVFrameInfo info{};
            info.timestamp = i / row.rate;
            info.mousePointerLocation = row.pointer(i);
            info.keyCode = -1;
            info.frameFlags = i == row.press ? kZVFrameLeftButton : 0;
            input.addRecord(info, 0);
            recorded.push_back(info.mousePointerLocation);
        }
        const ZVCursorPath path(input);
        for (int i = 0; i < row.records; ++i) {
            const ZVPoint drawn = path.at(i / row.rate, recorded[size_t(i)]);
            EXPECT_TRUE(row.holds(i, recorded[size_t(i)], drawn))
                << row.what << " at " << row.rate << " Hz, record " << i << ": drawn at " << drawn.x
                << ", " << drawn.y << " for " << recorded[size_t(i)].x << ", "
                << recorded[size_t(i)].y;
        }
    }
}
