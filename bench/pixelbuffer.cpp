// The per-frame costs of pixel buffers: the flip that runs once per exported frame
// (against a plain memcpy of the same bytes), blending a cursor, and taking and returning
// a pooled full-HD buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ZorvanInternal.h"

static void BM_FlipBufferContents1080p(benchmark::State& state) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({1920, 1080});
    std::memset(b->baseAddress(), 0x33, b->bufferSize());
    for (auto _ : state) {
        b->flipBufferContents();
        benchmark::ClobberMemory();
    }
    // Every pixel byte is read once and written once.
    state.SetBytesProcessed(state.iterations() * int64_t(1920) * 4 * 1080);
}
BENCHMARK(BM_FlipBufferContents1080p);

static void BM_Memcpy1080p(benchmark::State& state) {
    const size_t bytes = size_t(1920) * 4 * 1080;
    std::vector<uint8_t> from(bytes, 0x33), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_Memcpy1080p);

static void BM_FlipImageData1080p(benchmark::State& state) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({1920, 1080});
    for (auto _ : state) {
        b->flipImageData();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(b->bufferSize()));
}
BENCHMARK(BM_FlipImageData1080p);

static void BM_BlendCursor32(benchmark::State& state) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({1920, 1080});
    std::vector<uint8_t> cursor(32 * 32 * 4);
    for (size_t i = 0; i < cursor.size(); ++i) cursor[i] = uint8_t(i * 13);
    for (auto _ : state) {
        b->drawBGRAImage(cursor.data(), 32 * 4, 32, 32, 1.0f, {500, 400});
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 32 * 32);
}
BENCHMARK(BM_BlendCursor32);

static void BM_DrawCursorOnFreshFrame(benchmark::State& state) {
    // What the exporter pays per frame: a new frame object prepares its cursor once.
    auto data = std::make_shared<std::vector<uint8_t>>(32 * 32 * 4, 0x80);
    ZVCursorInfo info{32 * 32 * 4, 32 * 4, ZVMakeRect(0, 0, 32, 32), {4, 4}, 32, 4, 8};
    ZVCursorEntry cursor{0, info, data};
    for (auto _ : state) {
        auto frame = ZVMovieFrame::movieFrameWithSize({1920, 1080});
        frame->drawCursor(cursor, {500, 400});
        benchmark::DoNotOptimize(frame->baseAddress());
    }
}
BENCHMARK(BM_DrawCursorOnFreshFrame);

static void BM_PooledBuffer1080p(benchmark::State& state) {
    auto warm = ZVPixelBuffer::pixelBufferWithSize({1920, 1080});
    warm.reset();
    for (auto _ : state) {
        auto b = ZVPixelBuffer::pixelBufferWithSize({1920, 1080});
        benchmark::DoNotOptimize(b->baseAddress());
    }
}
BENCHMARK(BM_PooledBuffer1080p);

BENCHMARK_MAIN();
