// Screen reads: the row copy alone, and a whole 1920x1080 read through ZVSnap when an X
// display is there (DISPLAY set; MIT-SHM makes it a few milliseconds), display by display
// with the copy, and straight into the buffer as the recorder reads.
#include <benchmark/benchmark.h>

#include <vector>

#include "Platform/X11/ZVX11ScreenReader.h"
#include "ZorvanInternal.h"

static void BM_CopyOpaqueRows1080p(benchmark::State& state) {
    const uint32_t w = 1920, h = 1080;
    std::vector<uint8_t> src(size_t(w) * h * 4, 0x42), dst(size_t(w) * h * 4);
    for (auto _ : state) {
        ZVX11CopyOpaqueRows(src.data(), w * 4, dst.data() + size_t(h - 1) * w * 4, -int64_t(w) * 4,
                            h, w, false);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_CopyOpaqueRows1080p);

// Reads 1920x1080 with `read` (true: it could) on a snapper of that rectangle, its lock
// held, until the state stops.
template <typename Read>
static void readFrames(benchmark::State& state, Read read) {
    if (!ZVPlatformDefaults().displayServer->unavailableReason().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    const ZVRect rect = ZVMakeRect(0, 0, 1920, 1080);
    auto snap = ZVSnap::initWithCaptureRect(rect);
    auto buffer = ZVPixelBuffer::initWithSize(rect.size);
    for (auto _ : state) {
        snap->lockFocus();
        const bool ok = read(*snap, *buffer);
        snap->unlockFocus();
        if (!ok) {
            state.SkipWithError("the display server cannot read that way");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 1920 * 1080 * 4);
}

// Display by display through the connection's segment and the copy.
static void BM_SnapRead1080p(benchmark::State& state) {
    readFrames(state, [](ZVSnap& snap, ZVPixelBuffer& buffer) ZV_NO_THREAD_SAFETY_ANALYSIS {
        snap.readRectToBuffer(buffer);
        return true;
    });
}
BENCHMARK(BM_SnapRead1080p)->Unit(benchmark::kMillisecond);

// The recorder's read: one request straight into a pooled buffer's shared memory, nothing
// copied or set afterwards.
static void BM_SnapStraightRead1080p(benchmark::State& state) {
    readFrames(state, [](ZVSnap& snap, ZVPixelBuffer& buffer) ZV_NO_THREAD_SAFETY_ANALYSIS {
        return snap.readRectStraightIntoBuffer(buffer);
    });
}
BENCHMARK(BM_SnapStraightRead1080p)->Unit(benchmark::kMillisecond);

static void BM_CursorSeed(benchmark::State& state) {
    auto server = ZVPlatformDefaults().displayServer;
    if (!server->unavailableReason().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(server->cursorSeed());
}
BENCHMARK(BM_CursorSeed)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
