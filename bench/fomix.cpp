// The capture file's block codec on synthetic 1920 x 1080 sequences that look like real
// screen use, measured on the plain functions (no threads, no disk): the writer's encoder
// without and with compression (libdeflate, and zlib's compress2 for comparison), and the
// reader's inflate + apply + copy of the canvas. memcmp of two frames is the yardstick for
// an unchanged frame.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "Storage/ZVFomixBlocks.h"
#include "Storage/ZVFomixDeflate.h"
#include "Video/ZVPixelBufferPool.h"

namespace {

constexpr int kW = 1920, kH = 1080;
const size_t kStride = size_t(ZVPixelBytesPerRow(kW));
const size_t kSize = kStride * kH;
constexpr int kFrames = 8;

using Frame = std::vector<uint8_t>;

void fillRect(Frame& f, int x0, int y0, int w, int h, uint32_t color) {
    for (int y = y0; y < y0 + h && y < kH; ++y)
        for (int x = x0; x < x0 + w && x < kW; ++x) std::memcpy(&f[y * kStride + x * 4], &color, 4);
}

// A desktop: a gradient wallpaper, a window with a title bar and lines of "text".
Frame desktop() {
    Frame f(kSize);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint32_t w = 0xFF000000u | uint32_t((y * 255 / kH) << 16) | uint32_t(x * 255 / kW);
            std::memcpy(&f[y * kStride + x * 4], &w, 4);
        }
    fillRect(f, 200, 100, 1400, 850, 0xFFFFFFFF);
    fillRect(f, 200, 100, 1400, 30, 0xFF303030);
    return f;
}

// Text glyph: a small pattern of ink in a 9 x 16 cell.
void glyph(Frame& f, int x, int y, uint32_t seed) {
    for (int r = 2; r < 14; ++r)
        for (int c = 1; c < 8; ++c)
            if (((seed * 31 + r * 7 + c * 3) % 5) < 2) fillRect(f, x + c, y + r, 1, 1, 0xFF202020);
}

void textLines(Frame& f, int firstLine, int top) {
    for (int line = 0; line < 50; ++line) {
        int y = top + line * 16;
        if (y < 140 || y + 16 > 940) continue;
        for (int col = 0; col < 140; ++col)
            if ((firstLine + line + col) % 13)
                glyph(f, 220 + col * 9, y, uint32_t((firstLine + line) * 140 + col));
    }
}

std::vector<Frame> sequence(int kind) {
    std::vector<Frame> frames;
    Frame base = desktop();
    std::mt19937 rng(5);
    switch (kind) {
        case 0:  // static desktop
            for (int i = 0; i < kFrames; ++i) frames.push_back(base);
            break;
        case 1: {  // typing: one glyph more per frame, and the caret moves
            textLines(base, 0, 140);
            Frame f = base;
            for (int i = 0; i < kFrames; ++i) {
                glyph(f, 220 + (20 + i) * 9, 140 + 30 * 16, uint32_t(i));
                Frame shown = f;
                fillRect(shown, 220 + (21 + i) * 9, 140 + 30 * 16, 2, 16, 0xFF000000);
                frames.push_back(shown);
            }
            break;
        }
        case 2:  // scrolling text: three lines further each frame
            for (int i = 0; i < kFrames; ++i) {
                Frame f = base;
                textLines(f, i * 3, 140);
                frames.push_back(f);
            }
            break;
        case 3:  // a 480 x 270 video playing in a corner of a still desktop
            textLines(base, 0, 140);
            for (int i = 0; i < kFrames; ++i) {
                Frame f = base;
                for (int y = 0; y < 270; ++y)
                    for (int x = 0; x < 480; ++x) {
                        uint32_t w = 0xFF000000u | uint32_t(((x + i * 7) ^ (y * 3)) & 0xFF) << 8 |
                                     uint32_t(rng() & 0x0F);
                        std::memcpy(&f[(700 + y) * kStride + (1300 + x) * 4], &w, 4);
                    }
                frames.push_back(f);
            }
            break;
    }
    return frames;
}

const char* kNames[] = {"static", "typing", "scrolling", "video"};

// What the writer would store for each transition of a sequence.
struct Encoded {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> counts;
};

Encoded encodeAll(const std::vector<Frame>& frames) {
    Encoded e;
    std::vector<uint8_t> out(ZVFomixMaxBlockDataSize(kSize));
    for (int i = 0; i < kFrames; ++i) {
        const Frame& prev = frames[(i + kFrames - 1) % kFrames];
        ZVFomixEncoded r =
            ZVFomixEncodeBlocks(frames[i].data(), prev.data(), kStride, kSize, out.data());
        e.blocks.emplace_back(out.begin(), out.begin() + r.dataSize);
        e.counts.push_back(r.blocks);
    }
    return e;
}

// The yardstick: memcmp of each frame of the static sequence with the one before it, the
// same memory the writer reads for an unchanged frame.
void BM_memcmp1080p(benchmark::State& state) {
    std::vector<Frame> frames = sequence(0);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            std::memcmp(frames[i].data(), frames[(i + kFrames - 1) % kFrames].data(), kSize));
        i = (i + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_memcmp1080p)->Unit(benchmark::kMillisecond);

// mode 0: blocks only; 1: + libdeflate level 1; 2: + zlib compress2 level 1.
void BM_Writer(benchmark::State& state) {
    const int kind = int(state.range(0)), mode = int(state.range(1));
    std::vector<Frame> frames = sequence(kind);
    std::vector<uint8_t> out(ZVFomixMaxBlockDataSize(kSize)),
        packed(ZVFomixMaxBlockDataSize(kSize));
    ZVFomixDeflate deflate;
    size_t stored = 0, n = 0;
    int i = 0;
    for (auto _ : state) {
        const Frame& prev = frames[(i + kFrames - 1) % kFrames];
        ZVFomixEncoded r =
            ZVFomixEncodeBlocks(frames[i].data(), prev.data(), kStride, kSize, out.data());
        size_t bytes = r.dataSize;
        if (mode && r.dataSize > 13) {
            size_t p = 0;
            if (mode == 1) {
                p = deflate.compress(out.data(), r.dataSize, packed.data(), r.dataSize - 13);
            } else {
                uLongf len = uLongf(packed.size());
                if (compress2(packed.data(), &len, out.data(), r.dataSize, 1) == Z_OK &&
                    len + 12 < r.dataSize)
                    p = len;
            }
            if (p) bytes = p + 12;
        }
        stored += 44 + bytes;
        ++n;
        i = (i + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes/frame"] = double(stored) / double(n);
    state.SetLabel(std::string(kNames[kind]) + (mode == 0   ? ""
                                                : mode == 1 ? " libdeflate"
                                                            : " zlib"));
}
BENCHMARK(BM_Writer)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// mode 0: uncompressed file; 1: libdeflate inflate; 2: zlib uncompress.
void BM_Reader(benchmark::State& state) {
    const int kind = int(state.range(0)), mode = int(state.range(1));
    Encoded e;
    {
        std::vector<Frame> frames = sequence(kind);
        e = encodeAll(frames);
    }
    std::vector<std::vector<uint8_t>> payloads = e.blocks;
    ZVFomixDeflate deflate;
    if (mode) {
        for (auto& p : payloads) {
            std::vector<uint8_t> packed(p.size() + 64);
            size_t n =
                p.empty() ? 0 : deflate.compress(p.data(), p.size(), packed.data(), packed.size());
            packed.resize(n);
            p = packed;
        }
    }
    Frame canvas(kSize, 0), handedOn(kSize);
    std::vector<uint8_t> inflated(ZVFomixMaxBlockDataSize(kSize));
    int i = 0;
    for (auto _ : state) {
        const uint8_t* data = e.blocks[i].data();
        const size_t size = e.blocks[i].size();
        if (mode == 1 && size) {
            deflate.inflate(payloads[i].data(), payloads[i].size(), inflated.data(), size);
            data = inflated.data();
        } else if (mode == 2 && size) {
            uLongf len = uLongf(size);
            uncompress(inflated.data(), &len, payloads[i].data(), uLong(payloads[i].size()));
            data = inflated.data();
        }
        ZVFomixApplyBlocks(data, size, e.counts[i], canvas.data(), kStride, kW, kSize, {});
        std::memcpy(handedOn.data(), canvas.data(), kSize);  // the frame handed on
        benchmark::ClobberMemory();
        i = (i + 1) % kFrames;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(std::string(kNames[kind]) + (mode == 0   ? ""
                                                : mode == 1 ? " libdeflate"
                                                            : " zlib"));
}
BENCHMARK(BM_Reader)->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
