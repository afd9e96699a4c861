// Frames per second of the compression session on 1920x1080 pictures: conversion,
// letterbox fitting and encoding, session set-up and the final drain included, timed on
// the wall clock (the encoder works on threads of its own). The pictures come from the raw
// BGRA file named by ZV_BENCH_RAW (what bench/session_vs_ffmpeg.sh gives ffmpeg too), read
// as they are encoded, or are drawn here: a desktop-like gradient with a moving window.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Media/ZVCompressionSession.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"

namespace {
constexpr int kWidth = 1920, kHeight = 1080, kDrawn = 10;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 4;

// The drawn pictures, made once.
const std::vector<std::vector<uint8_t>>& drawnFrames() {
    static const std::vector<std::vector<uint8_t>> all = [] {
        std::vector<std::vector<uint8_t>> out;
        for (int i = 0; i < kDrawn; i++) {
            std::vector<uint8_t> frame(kFrameBytes);
            for (int y = 0; y < kHeight; y++)
                for (int x = 0; x < kWidth; x++) {
                    uint8_t* p = &frame[(size_t(y) * kWidth + x) * 4];
                    bool window = x >= 300 + i * 20 && x < 1100 + i * 20 && y >= 200 && y < 800;
                    p[0] = window ? 240 : uint8_t(x / 8);
                    p[1] = window ? uint8_t((x ^ y) & 0x1F) + 200 : uint8_t(y / 5);
                    p[2] = window ? 240 : 90;
                    p[3] = 0xFF;
                }
            out.push_back(std::move(frame));
        }
        return out;
    }();
    return all;
}

// Calls `each` with every picture: read one at a time from ZV_BENCH_RAW into one buffer
// (as ffmpeg reads raw video; the session has let go of a picture when encodeFrame
// returns), or the drawn ones. Answers how many there were.
template <typename Each>
int64_t forEachPicture(Each each) {
    int64_t n = 0;
    if (const char* path = std::getenv("ZV_BENCH_RAW")) {
        static std::vector<uint8_t> buffer(kFrameBytes);
        FILE* f = std::fopen(path, "rb");
        while (f && std::fread(buffer.data(), 1, kFrameBytes, f) == kFrameBytes) {
            each(buffer.data());
            n++;
        }
        if (f) std::fclose(f);
        return n;
    }
    for (const auto& p : drawnFrames()) {
        each(p.data());
        n++;
    }
    return n;
}

void BM_Session(benchmark::State& state, uint32_t codec, const char* preset) {
    ZVRegisterFFmpegMediaToolkit();
    ZVCompressionSessionOptions options;
    options.setMaxKeyFrameInterval(250);
    uint32_t lett = kZVScalingMode_Letterbox;
    options.setProperty(kZVCompressionSessionOptionsPropertyClass,
                        kZVCompressionSessionOptionsPropertyID_ScalingMode, &lett, 4);
    if (preset) options.setCodecOption("preset", preset);
    int64_t bytes = 0, frames = 0;
    for (auto _ : state) {
        auto session = ZVCompressionSession::create(kWidth, kHeight, codec, 2500, options,
                                                    [&](long, ZVEncodedFrameRef f) {
                                                        if (f) bytes += f->dataSize();
                                                        return 0L;
                                                    });
        if (!session) {
            state.SkipWithError("no session");
            return;
        }
        int64_t t = 0;
        frames += forEachPicture([&](const uint8_t* p) {
            session->encodeFrame({p, kWidth, kHeight, kWidth * 4}, t, 0,
                                 kZVValidTimeFlag_DisplayTimeStampIsValid, nullptr, nullptr);
            t += 100;  // 25 frames a second
        });
        session->completeFrames();
    }
    if (frames == 0) {
        state.SkipWithError("no frames in ZV_BENCH_RAW");
        return;
    }
    state.SetItemsProcessed(frames);
    state.counters["bytes/frame"] = double(bytes) / double(frames);
}
}  // namespace

BENCHMARK_CAPTURE(BM_Session, h264_veryfast, kZVVideoCodecType_H264, "veryfast")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Session, prores, kZVVideoCodecType_ProRes422, nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
