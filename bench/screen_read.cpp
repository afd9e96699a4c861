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

static void BM_SnapRead1080p(benchmark::State& state) {
    if (!ZVPlatformDefaults().displayServer->unavailableReason().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    const ZVRect rect = ZVMakeRect(0, 0, 1920, 1080);
    auto snap = ZVSnap::initWithCaptureRect(rect);
    auto buffer = ZVPixelBuffer::initWithSize(rect.size);
    for (auto _ : state) {
        snap->lockFocus();
        snap->readRectToBuffer(*buffer);
        snap->unlockFocus();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 1920 * 1080 * 4);
}
BENCHMARK(BM_SnapRead1080p)->Unit(benchmark::kMillisecond);

// The recorder's read: one request straight into a pooled buffer's shared memory, nothing
// copied or set afterwards.
static void BM_SnapStraightRead1080p(benchmark::State& state) {
    if (!ZVPlatformDefaults().displayServer->unavailableReason().empty()) {
        state.SkipWithError("no X display");
        return;
    }
    const ZVRect rect = ZVMakeRect(0, 0, 1920, 1080);
    auto snap = ZVSnap::initWithCaptureRect(rect);
    auto buffer = ZVPixelBuffer::initWithSize(rect.size);
    for (auto _ : state) {
        snap->lockFocus();
        const bool read = snap->readRectStraightIntoBuffer(*buffer);
        snap->unlockFocus();
        if (!read) {
            state.SkipWithError("the server cannot write into the buffer");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 1920 * 1080 * 4);
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
