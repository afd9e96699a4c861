#include "Platform/FFmpeg/ZVFFmpegGIFPalette.h"

#include <algorithm>

namespace {
// Levels of the fixed cube (3 x 3 x 3) that stands beside the picture's own colours.
constexpr uint8_t kCubeLevels[3] = {0, 128, 255};
constexpr int kCubeColors = 27;
// Every pixel of a small picture is looked at; a large one is sampled on a grid.
constexpr int64_t kMostSamples = 1 << 18;

struct Box {
    std::vector<uint32_t>::iterator begin, end;
};

int channel(uint32_t rgb, int c) {
    return int(rgb >> (16 - 8 * c)) & 0xFF;
}

// The channel in which the box's colours spread most, and that spread.
std::pair<int, int> widest(const Box& b) {
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (auto it = b.begin; it != b.end; ++it)
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], channel(*it, c));
            hi[c] = std::max(hi[c], channel(*it, c));
        }
    int best = 0;
    for (int c = 1; c < 3; ++c)
        if (hi[c] - lo[c] > hi[best] - lo[best]) best = c;
    return {best, hi[best] - lo[best]};
}

uint32_t average(const Box& b) {
    uint64_t sum[3] = {0, 0, 0};
    for (auto it = b.begin; it != b.end; ++it)
        for (int c = 0; c < 3; ++c) sum[c] += uint64_t(channel(*it, c));
    const uint64_t n = uint64_t(b.end - b.begin);
    return 0xFF000000u | uint32_t(sum[0] / n) << 16 | uint32_t(sum[1] / n) << 8 |
           uint32_t(sum[2] / n);
}
}  // namespace

ZVFFmpegGIFPalette::ZVFFmpegGIFPalette(const uint8_t* bgra, int width, int height, int stride)
    : _lookup(1 << 15, 0) {
    int n = 0;
    for (uint8_t r : kCubeLevels)
        for (uint8_t g : kCubeLevels)
            for (uint8_t b : kCubeLevels) _colors[n++] = 0xFF000000u | r << 16 | g << 8 | b;

    std::vector<uint32_t> samples;
    const int64_t pixels = int64_t(width) * height;
    const int step = pixels > kMostSamples ? int(pixels / kMostSamples) : 1;
    for (int64_t i = 0; i < pixels; i += step) {
        const uint8_t* p = bgra + (i / width) * stride + (i % width) * 4;
        samples.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    }
    // Median cut: the box with the widest spread is split at its median until there are
    // as many boxes as free colours, or no box holds two colours.
    std::vector<Box> boxes;
    if (!samples.empty()) boxes.push_back({samples.begin(), samples.end()});
    while (int(boxes.size()) < 256 - kCubeColors) {
        int pick = -1, spread = 0, along = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            auto [c, s] = widest(boxes[i]);
            if (s > spread) pick = int(i), spread = s, along = c;
        }
        if (pick < 0) break;
        Box& b = boxes[size_t(pick)];
        auto middle = b.begin + (b.end - b.begin) / 2;
        std::nth_element(b.begin, middle, b.end, [along](uint32_t x, uint32_t y) {
            return channel(x, along) < channel(y, along);
        });
        const Box upper{middle, b.end};
        b.end = middle;
        boxes.push_back(upper);
    }
    for (const Box& b : boxes) _colors[n++] = average(b);
    while (n < 256) _colors[n++] = 0xFF000000u;
}

uint8_t ZVFFmpegGIFPalette::nearest(uint32_t rgb15) {
    uint16_t& known = _lookup[rgb15];
    if (known) return uint8_t(known - 1);
    // The middle of the 15-bit colour's cell.
    const int r = int(rgb15 >> 10 & 31) << 3 | 4, g = int(rgb15 >> 5 & 31) << 3 | 4,
              b = int(rgb15 & 31) << 3 | 4;
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const uint32_t c = _colors[size_t(i)];
        const int dr = channel(c, 0) - r, dg = channel(c, 1) - g, db = channel(c, 2) - b;
        // Green weighs most and blue least, as the eye sees them.
        const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (d < bestDistance) best = i, bestDistance = d;
    }
    known = uint16_t(best + 1);
    return uint8_t(best);
}

void ZVFFmpegGIFPalette::map(const uint8_t* bgra, int width, int height, int stride, uint8_t* out,
                             int outStride) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = bgra + int64_t(y) * stride;
        uint8_t* o = out + int64_t(y) * outStride;
        for (int x = 0; x < width; ++x, p += 4)
            o[x] =
                nearest(uint32_t(p[2] >> 3) << 10 | uint32_t(p[1] >> 3) << 5 | uint32_t(p[0] >> 3));
    }
}
