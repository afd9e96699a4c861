// The smoothed cursor's path over an hour of recording at 60 records a second (216,000
// records), made once before an export's movie starts: moves of a second at 300 px/s with
// the jitter of a hand, each ending in a click and a second at rest.
#include <benchmark/benchmark.h>

#include <random>

#include "Export/ZVCursorPath.h"
#include "Video/ZVFrameInfo.h"

namespace {
ZVRecordedInput anHour() {
    ZVRecordedInput input(ZVSize{1920, 1080});
    std::mt19937 random(1);
    std::uniform_real_distribution<float> jitter(-3, 3);
    ZVPoint at{100, 100};
    for (int i = 0; i < 3600 * 60; ++i) {
        const int inMove = i % 120;
        if (inMove < 60) at = {100 + 5.0f * float(inMove), 100 + 2.5f * float(inMove)};
        ZVFrameInfo info{};
        info.timestamp = i / 60.0;
        info.keyCode = -1;
        info.mousePointerLocation =
            inMove < 60 ? ZVPoint{at.x + jitter(random), at.y + jitter(random)} : at;
        info.frameFlags = inMove == 60 ? kZVFrameLeftButton : 0;
        input.addRecord(info, 0);
    }
    return input;
}
}  // namespace

static void BM_CursorPathOfAnHour(benchmark::State& state) {
    const ZVRecordedInput input = anHour();
    for (auto _ : state) {
        ZVCursorPath path(input);
        benchmark::DoNotOptimize(path.points().data());
    }
}
BENCHMARK(BM_CursorPathOfAnHour)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
