// What the video compressor adds to each 1920 x 1080 frame before compressing it (the flip
// to top-row-first, click mark, cursor, key strip), against what compressing the frame
// with H.264 at the veryfast preset costs. The overlays must stay under a tenth of the
// encode. Frames are a desktop-like picture: gradients with a moving window of text-like
// noise, so the encoder has real work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVCompressionSession.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Video/ZVICMOverlays.h"
#include "Video/ZVMovieFrame.h"

namespace {
constexpr int kW = 1920, kH = 1080;

void paint(ZVMovieFrame& f, int n) {
    static std::vector<uint8_t> noise = [] {
        std::vector<uint8_t> v(600 * 400);
        std::mt19937 rng(7);
        for (auto& b : v) b = (rng() % 5 == 0) ? 20 : 235;
        return v;
    }();
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = f.baseAddress() + y * f.bytesPerRow();
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = row + 4 * x;
            p[0] = uint8_t(x / 8), p[1] = uint8_t(y / 5), p[2] = 120, p[3] = 255;
        }
    }
    const int left = 200 + (n * 7) % 800, top = 150 + (n * 3) % 400;
    for (int y = 0; y < 400; ++y) {
        uint8_t* row = f.baseAddress() + (top + y) * f.bytesPerRow() + 4 * left;
        for (int x = 0; x < 600; ++x)
            std::memset(row + 4 * x, noise[(y * 600 + x + n) % noise.size()], 3);
    }
}

std::shared_ptr<ZVMovieFrame> makeFrame(int n) {
    ZVFrameInfo info{};
    info.dimensions = {kW, kH};
    info.mousePointerLocation = {900, 500};
    info.mousePointerIndex = 1;
    info.keyCode = -1;
    auto f = ZVMovieFrame::movieFrameWithInfo(info);
    paint(*f, n);
    return f;
}

ZVCursorEntry arrow() {
    auto data = std::make_shared<std::vector<uint8_t>>(32 * 32 * 4, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x <= y / 2; ++x) std::memset(&(*data)[(y * 32 + x) * 4], 255, 4);
    ZVCursorInfo info{32 * 32 * 4, 32 * 4, ZVMakeRect(0, 0, 32, 32), {0, 0}, 32, 4, 8};
    return ZVCursorEntry{1, info, data};
}

// Everything visible on every frame: a held button's mark, the cursor and a strip with a
// held modifier; `newTextEvery` frames a key is typed, so the strip is laid out again.
void runOverlays(benchmark::State& state, int newTextEvery) {
    ZVRegisterCairoKeyStripRenderer();
    ZVICMOverlays overlays;
    const ZVCursorEntry cursor = arrow();
    auto frame = makeFrame(0);
    const ZVICMOverlays::CursorLookup lookup = [&](uint32_t) { return cursor; };
    int n = 0;
    for (auto _ : state) {
        ZVFrameInfo info = frame->info();
        info.frameFlags = kZVFrameLeftButton;
        info.flags = 0x100000;  // Command held
        info.keyCode = (++n % newTextEvery == 0) ? 122 : -1;
        info.timestamp = n / 60.0;
        frame->setInfo(info);
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

// The encode the overlays are measured against: batches of 30 frames through the same
// session kind the compressor makes, each batch completed.
static void BM_H264VeryfastEncode(benchmark::State& state) {
    ZVRegisterFFmpegMediaToolkit();
    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    settings.setCodecType(kZVVideoCodecType_H264);
    settings.setCodecOption("preset", "veryfast");
    ZVCompressionSessionOptions options;
    settings.copyCompressionSessionOptions(options);
    long error = 0;
    auto session = ZVCompressionSession::create(
        kW, kH, kZVVideoCodecType_H264, 6000, options,
        [](long, ZVEncodedFrameRef f) { return benchmark::DoNotOptimize(f), 0L; }, &error);
    if (!session) {
        state.SkipWithError("no H.264 session");
        return;
    }
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < 30; ++i) frames.push_back(makeFrame(i));
    int64_t t = 0;
    for (auto _ : state) {
        for (auto& f : frames) {
            ZVSourcePixels pixels{f->baseAddress(), kW, kH, f->bytesPerRow()};
            session->encodeFrame(pixels, t += 100, 0, kZVValidTimeFlag_DisplayTimeStampIsValid, {},
                                 f);
        }
        session->completeFrames();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(frames.size()));
}
BENCHMARK(BM_H264VeryfastEncode)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

BENCHMARK_MAIN();
