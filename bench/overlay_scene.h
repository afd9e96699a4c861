#pragma once
// The scene of the overlay benchmarks (icm_overlays.cpp times the overlays alone,
// compressor.cpp the compressor drawing and encoding them): a desktop-like 1920 x 1080
// picture, a 32 x 32 arrow cursor, and on every frame the cursor, a held left button's mark
// and the key strip with a held Command, a key typed every few frames.
#include <cstring>
#include <random>
#include <vector>

#include "Video/ZVCursorEntry.h"
#include "Video/ZVFrameInfo.h"

namespace zvbench {
constexpr int kW = 1920, kH = 1080;

// Picture `n`: gradients with a moving window of text-like noise, so an encoder has real
// work. `rows` points at the top row.
inline void paint(uint8_t* rows, size_t bytesPerRow, int n) {
    static const std::vector<uint8_t> noise = [] {
        std::vector<uint8_t> v(600 * 400);
        std::mt19937 rng(7);
        for (auto& b : v) b = (rng() % 5 == 0) ? 20 : 235;
        return v;
    }();
    for (int y = 0; y < kH; ++y) {
        uint8_t* row = rows + y * bytesPerRow;
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = row + 4 * x;
            p[0] = uint8_t(x / 8), p[1] = uint8_t(y / 5), p[2] = 120, p[3] = 255;
        }
    }
    const int left = 200 + (n * 7) % 800, top = 150 + (n * 3) % 400;
    for (int y = 0; y < 400; ++y) {
        uint8_t* row = rows + (top + y) * bytesPerRow + 4 * left;
        for (int x = 0; x < 600; ++x)
            std::memset(row + 4 * x, noise[(y * 600 + x + n) % noise.size()], 3);
    }
}

// The cursor the frames name (Id 1).
inline ZVCursorEntry arrow() {
    auto data = std::make_shared<std::vector<uint8_t>>(32 * 32 * 4, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x <= y / 2; ++x) std::memset(&(*data)[(y * 32 + x) * 4], 255, 4);
    ZVCursorInfo info{32 * 32 * 4, 32 * 4, ZVMakeRect(0, 0, 32, 32), {0, 0}, 32, 4, 8};
    return ZVCursorEntry{1, info, data};
}

// The record of frame `n` at `framesPerSecond`: the arrow at the same place, the left button
// and Command held, and every `newTextEvery`th frame a key typed (the strip is laid out again).
inline ZVFrameInfo sceneInfo(int n, double framesPerSecond, int newTextEvery) {
    ZVFrameInfo info{};
    info.dimensions = {kW, kH};
    info.mousePointerLocation = {900, 500};
    info.mousePointerIndex = 1;
    info.frameFlags = kZVFrameLeftButton;
    info.flags = 0x100000;  // Command
    info.keyCode = (n % newTextEvery == 0) ? 122 : -1;
    info.timestamp = n / framesPerSecond;
    return info;
}
}  // namespace zvbench
