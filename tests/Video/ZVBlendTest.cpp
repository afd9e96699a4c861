// Blending small images into a pixel buffer: the arithmetic, the opacity, the clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Video/ZVPixelTestSupport.h"
#include "ZorvanInternal.h"

namespace {
using zvtest::bytesOf;
using zvtest::Pixel;
constexpr auto at = zvtest::pixelAt;

void fill(ZVPixelBuffer& b, Pixel value) {
    uint8_t* base = b.baseAddress();
    for (int r = 0; r < b.pixelsHeight(); ++r)
        for (int x = 0; x < b.pixelsWidth(); ++x)
            std::memcpy(base + r * b.bytesPerRow() + 4 * x, value.data(), 4);
}

// A w × h source of one pixel value, rows tightly packed.
std::vector<uint8_t> solid(int w, int h, Pixel value) {
    std::vector<uint8_t> s(size_t(w) * h * 4);
    for (size_t i = 0; i < s.size(); i += 4) std::memcpy(&s[i], value.data(), 4);
    return s;
}

// Blends one source pixel over one destination pixel and returns the result.
Pixel blendOne(Pixel dst, Pixel src, float opacity, int format = 1) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({1, 1});
    fill(*b, dst);
    b->drawImage(src.data(), 4, 1, 1, format, opacity, {0, 0});
    return at(*b, 0, 0);
}
}  // namespace

TEST(ZVBlend, OnePixelOverAnother) {
    const struct {
        Pixel dst, src;
        float opacity;
        int format;  // 1 BGRA, anything else RGBA
        Pixel want;
    } cases[] = {
        // Alpha 128 at full opacity over opaque: 128/255 squared plus half of 255 gives 191.
        {{0, 0, 0, 255}, {0, 0, 0, 128}, 1, 1, {0, 0, 0, 191}},
        {{0, 0, 0, 0}, {0, 0, 0, 128}, 1, 1, {0, 0, 0, 64}},
        // Colours 100·(1-a) + src·a, the float steps truncate: 150.19…, 49.8…, 177.8….
        {{100, 100, 100, 255}, {200, 0, 255, 128}, 1, 1, {150, 49, 177, 191}},
        // Opacity is clamped to 0…1 and NaN counts as 0.
        {{10, 20, 30, 40}, {200, 150, 100, 255}, 2.5f, 1, {200, 150, 100, 255}},
        {{10, 20, 30, 40}, {200, 150, 100, 255}, 0, 1, {10, 20, 30, 40}},
        {{10, 20, 30, 40}, {200, 150, 100, 255}, -1, 1, {10, 20, 30, 40}},
        {{10, 20, 30, 40}, {200, 150, 100, 255}, NAN, 1, {10, 20, 30, 40}},
        // Opacity scales the alpha before it is cut to a byte: 255 × 0.5 = 127, as alpha 127.
        {{0, 0, 0, 0}, {0, 0, 0, 255}, 0.5f, 1, blendOne({0, 0, 0, 0}, {0, 0, 0, 127}, 1)},
        // RGBA sources swap red and blue.
        {{0, 0, 0, 0}, {1, 2, 3, 255}, 1, 0, {3, 2, 1, 255}},
        {{0, 0, 0, 0}, {1, 2, 3, 255}, 1, 7, {3, 2, 1, 255}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(blendOne(c.dst, c.src, c.opacity, c.format), c.want) << c.opacity;
    EXPECT_EQ(fclampf(NAN, 3, 7), 3.0f);  // NaN takes the lower bound
    auto b = ZVPixelBuffer::pixelBufferWithSize({1, 1});
    fill(*b, {0, 0, 0, 0});
    b->drawRGBAImage(Pixel{1, 2, 3, 255}.data(), 4, 1, 1, 1, {0, 0});
    EXPECT_EQ(at(*b, 0, 0), (Pixel{3, 2, 1, 255}));
}

TEST(ZVBlend, WeightsZeroAndOneAreExactForEveryByteValue) {
    // Destination pixel (x, y) holds x in every byte, the source's colour is y: every pair
    // of byte values meets once.
    for (uint8_t alpha : {uint8_t(0), uint8_t(255)}) {
        auto b = ZVPixelBuffer::pixelBufferWithSize({256, 256});
        std::vector<uint8_t> src(256 * 256 * 4);
        for (int r = 0; r < 256; ++r)
            for (int x = 0; x < 256; ++x) {
                std::memset(b->baseAddress() + r * b->bytesPerRow() + 4 * x, x, 4);
                std::memset(&src[(r * 256 + x) * 4], r, 3);
                src[(r * 256 + x) * 4 + 3] = alpha;
            }
        b->drawBGRAImage(src.data(), 256 * 4, 256, 256, 1.0f, {0, 0});
        int wrong = 0;
        for (int r = 0; r < 256; ++r)
            for (int x = 0; x < 256; ++x) {
                const uint8_t v = uint8_t(alpha ? r : x);
                wrong += at(*b, x, r) != Pixel{v, v, v, alpha ? uint8_t(255) : v};
            }
        EXPECT_EQ(wrong, 0) << "alpha " << int(alpha);
    }
}

namespace {
// Draws a 32 × 32 opaque image at `point` into a 17 × 20 buffer (stride 128, so every row
// has 60 bytes of padding) and counts the changed pixels; padding must never change.
struct ClipCase {
    ZVPoint point;
    int expectedPixels;
    int firstColumn, firstRow;  // top-left changed pixel, when any
};

void checkClip(const ClipCase& c) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({17, 20});
    std::memset(b->baseAddress(), 0x5A, b->bufferSize());
    auto src = solid(32, 32, {1, 2, 3, 255});
    b->drawBGRAImage(src.data(), 32 * 4, 32, 32, 1.0f, c.point);
    int changed = 0, minX = 1000, minY = 1000, maxX = -1, maxY = -1;
    for (int r = 0; r < 20; ++r) {
        const uint8_t* row = b->baseAddress() + r * b->bytesPerRow();
        for (int i = 17 * 4; i < b->bytesPerRow(); ++i)
            ASSERT_EQ(row[i], 0x5A) << "padding of row " << r << " at " << c.point.x;
        for (int x = 0; x < 17; ++x)
            if (at(*b, x, r) != Pixel{0x5A, 0x5A, 0x5A, 0x5A}) {
                ASSERT_EQ(at(*b, x, r), (Pixel{1, 2, 3, 255}));
                ++changed;
                minX = std::min(minX, x), minY = std::min(minY, r);
                maxX = std::max(maxX, x), maxY = std::max(maxY, r);
            }
    }
    EXPECT_EQ(changed, c.expectedPixels) << "at " << ZVStringFromPoint(c.point);
    if (changed) {
        EXPECT_EQ(minX, c.firstColumn);
        EXPECT_EQ(minY, c.firstRow);
        // What changed is one rectangle.
        EXPECT_EQ((maxX - minX + 1) * (maxY - minY + 1), changed);
    }
}
}  // namespace

TEST(ZVBlend, ClipsPixelByPixelAtEveryEdge) {
    const ClipCase cases[] = {
        {{-25, -28}, 7 * 4, 0, 0},        // top-left corner: the image's last 7 columns, 4 rows
        {{12, 0}, 5 * 20, 12, 0},         // right edge: a 5-pixel strip (17 - 12)
        {{0, 15}, 17 * 5, 0, 15},         // last rows
        {{-31, -31}, 1, 0, 0},            // only the image's bottom-right pixel
        {{16, 19}, 1, 16, 19},            // only its top-left pixel, in the buffer's last pixel
        {{17, 0}, 0, 0, 0},               // just right of the buffer
        {{-32, 0}, 0, 0, 0},              // just left
        {{0, 20}, 0, 0, 0},               // just below the last row
        {{0, -32}, 0, 0, 0},              // just above row 0
        {{-10.9f, 3.9f}, 17 * 17, 0, 3},  // truncated toward zero: (-10, 3)
        {{1e30f, 0}, 0, 0, 0},            // far away draws nothing and does not overflow
        {{NAN, -1e30f}, 0, 0, 0},
    };
    for (const auto& c : cases) checkClip(c);
}

TEST(ZVBlend, SourceRowsFollowTheirOwnStrideAndEmptyImagesDrawNothing) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({4, 2});
    b->clearBuffer();
    // 2 × 2 pixels in rows of 12 bytes; the third pixel of each row must not be read.
    std::vector<uint8_t> src(24, 0);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
            uint8_t* p = &src[r * 12 + c * 4];
            p[0] = uint8_t(10 * r + c + 1);
            p[3] = c < 2 ? 255 : 0;
        }
    b->drawBGRAImage(src.data(), 12, 2, 2, 1, {1, 0});
    EXPECT_EQ(at(*b, 1, 0)[0], 1);
    EXPECT_EQ(at(*b, 2, 0)[0], 2);
    EXPECT_EQ(at(*b, 1, 1)[0], 11);
    EXPECT_EQ(at(*b, 2, 1)[0], 12);
    EXPECT_EQ(at(*b, 3, 0)[3], 0);
    const auto before = bytesOf(*b);
    b->drawBGRAImage(src.data(), 12, 0, 2, 1, {0, 0});
    b->drawBGRAImage(src.data(), 12, 2, -2, 1, {0, 0});
    b->drawBGRAImage(nullptr, 12, 2, 2, 1, {0, 0});
    EXPECT_EQ(bytesOf(*b), before);
}
