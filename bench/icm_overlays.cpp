// What the video compressor adds to each 1920 x 1080 frame before compressing it (the flip
// to top-row-first, click mark, cursor, key strip), alone. Their share of the encode is
// measured by bench/compressor_vs_ffmpeg.sh, which runs the compressor with and without
// them; this program is the one to profile them with.
#include <benchmark/benchmark.h>

#include "Export/ZVICMOverlays.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Video/ZVMovieFrame.h"
#include "overlay_scene.h"

namespace {
// Everything visible on every frame: a held button's mark, the cursor and a strip with a
// held modifier; `newTextEvery` frames a key is typed, so the strip is laid out again.
void runOverlays(benchmark::State& state, int newTextEvery) {
    ZVICMOverlays overlays(ZVPlatformDefaults());
    const ZVCursorEntry cursor = zvbench::arrow();
    auto frame = ZVMovieFrame::movieFrameWithInfo(zvbench::sceneInfo(0, 60, newTextEvery));
    zvbench::paint(frame->baseAddress(), frame->bytesPerRow(), 0);
    const ZVICMOverlays::CursorLookup lookup = [&](uint32_t) { return cursor; };
    int n = 0;
    for (auto _ : state) {
        frame->setInfo(zvbench::sceneInfo(++n, 60, newTextEvery));
        frame->flipBufferContents();
        overlays.draw(*frame, 1 / 60.0, {}, lookup, false);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
}  // namespace

// Ten keys a second at 60 frames a second.
static void BM_OverlaysTyping(benchmark::State& state) {
    runOverlays(state, 6);
}
BENCHMARK(BM_OverlaysTyping)->Unit(benchmark::kMillisecond);

// The bound: the strip is laid out again for every frame, its text as long as it gets.
static void BM_OverlaysNewKeyEveryFrame(benchmark::State& state) {
    runOverlays(state, 1);
}
BENCHMARK(BM_OverlaysNewKeyEveryFrame)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
