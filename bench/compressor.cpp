// Frames per second of the video compressor (ZVICM, as an export runs it) on 1920 x 1080
// frames: taken from its source bottom row first as the capture-file reader gives them,
// flipped, the preset's overlays drawn (cursor, a held button's mark, the key strip with a
// held Command, a key typed every 6th frame) or none, converted, letterboxed and encoded;
// set-up and the final drain included, timed on the wall clock (the encoder works on
// threads of its own). The pictures come from the raw BGRA file named by ZV_BENCH_RAW
// (what bench/compressor_vs_ffmpeg.sh gives ffmpeg too), read as they are taken, or are
// the overlay scene's, painted once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Export/ZVICM.h"
#include "Foundation/ZVRunLoop.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Video/ZVMovieFrame.h"
#include "overlay_scene.h"

namespace {
using zvbench::kH;
using zvbench::kW;
constexpr double kFramesPerSecond = 25;
constexpr int kPainted = 10;
constexpr size_t kRowBytes = size_t(kW) * 4;

// The pictures used without ZV_BENCH_RAW, top row first.
const std::vector<std::vector<uint8_t>>& painted() {
    static const auto all = [] {
        std::vector<std::vector<uint8_t>> out(kPainted, std::vector<uint8_t>(kRowBytes * kH));
        for (int i = 0; i < kPainted; i++) zvbench::paint(out[i].data(), kRowBytes, i);
        return out;
    }();
    return all;
}

// The frames, each with the scene's record (the preset decides what is drawn of it).
class Pictures : public ZVDataSource {
  public:
    Pictures() {
        if (const char* path = std::getenv("ZV_BENCH_RAW")) _raw = std::fopen(path, "rb");
    }
    ~Pictures() override {
        if (_raw) std::fclose(_raw);
    }
    ZVObjectRef nextObject() override {
        if (!_raw && _n == kPainted) return nullptr;
        auto frame = ZVMovieFrame::movieFrameWithInfo(zvbench::sceneInfo(_n, kFramesPerSecond, 6));
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = frame->baseAddress() + size_t(kH - 1 - y) * frame->bytesPerRow();
            if (!_raw)
                std::memcpy(row, painted()[_n].data() + y * kRowBytes, kRowBytes);
            else if (std::fread(row, 1, kRowBytes, _raw) != kRowBytes)
                return nullptr;
        }
        _n++;
        return frame;
    }

  private:
    FILE* _raw = nullptr;
    int _n = 0;
};

// Counts what comes out; notes did-stop (delivered on the main thread).
struct Sink : ZVDataDestination, ZVICMDelegateInformalProtocol {
    void addObject(ZVObjectRef object) override {
        bytes += object->dataSize();
        frames++;
    }
    void ZVICMDidStop(ZVICM*) override { stopped = true; }
    std::atomic<int64_t> bytes{0}, frames{0};
    std::atomic<bool> stopped{false};
};

void BM_Compressor(benchmark::State& state, uint32_t codec, const char* speed, bool overlays) {
    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    settings.setCodecType(codec);
    settings.setFrameRate(ZVDoubleToFixed(kFramesPerSecond));
    if (speed) settings.setCodecOption("preset", speed);
    auto preset = ZVEncodingPreset::initWithName("bench");
    preset->setVideoSettings(settings.save());
    preset->setIncludesCursorTrack(overlays);
    preset->setShowsMouseClicks(overlays);
    preset->setShowsKeysPressed(overlays);
    if (!std::getenv("ZV_BENCH_RAW")) painted();  // before the clock runs
    int64_t bytes = 0, frames = 0;
    for (auto _ : state) {
        auto icm = ZVICM::initWithPreset(*preset, {kW, kH});
        if (!icm) {
            state.SkipWithError("no compressor");
            return;
        }
        Pictures pictures;
        Sink sink;
        icm->setCursors({zvbench::arrow()});
        icm->setDataSource(&pictures);
        icm->setDataDestination(&sink);
        icm->setDelegate(&sink);
        icm->start();
        icm->finalize();
        ZVRunLoop::main().runUntil([&] { return sink.stopped.load(); }, 3600);
        bytes += sink.bytes, frames += sink.frames;
    }
    if (frames == 0) {
        state.SkipWithError("no frames in ZV_BENCH_RAW");
        return;
    }
    state.SetItemsProcessed(frames);
    state.counters["bytes/frame"] = double(bytes) / double(frames);
}
}  // namespace

BENCHMARK_CAPTURE(BM_Compressor, h264_veryfast, kZVVideoCodecType_H264, "veryfast", false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Compressor, h264_veryfast_overlays, kZVVideoCodecType_H264, "veryfast", true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Compressor, prores, kZVVideoCodecType_ProRes422, nullptr, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Compressor, prores_overlays, kZVVideoCodecType_ProRes422, nullptr, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
