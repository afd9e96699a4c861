// The pooled pixel buffer: pool per size, recycling, stride, flips, copies.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "Video/ZVPixelTestSupport.h"
#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {
using zvtest::bytesOf;

// Every byte of the buffer, padding included, gets a value from its offset.
void fillPattern(ZVPixelBuffer& b) {
    uint8_t* p = b.baseAddress();
    for (int32_t i = 0; i < b.bufferSize(); ++i) p[i] = static_cast<uint8_t>(i * 7 + i / 251);
}

}  // namespace

TEST(ZVPixelBuffer, StrideIsPaddedTo64BytesAndSizesFollowIt) {
    for (float width : {1.f, 15.f, 16.f, 17.f, 640.f, 1366.f, 1920.f}) {
        auto b = ZVPixelBuffer::pixelBufferWithSize({width, 3});
        ASSERT_TRUE(b);
        EXPECT_EQ(b->pixelsWidth(), static_cast<int32_t>(width));
        EXPECT_EQ(b->pixelsHeight(), 3);
        EXPECT_EQ(b->bytesPerRow() % 64, 0);
        EXPECT_GE(b->bytesPerRow(), 4 * b->pixelsWidth());
        EXPECT_LT(b->bytesPerRow(), 4 * b->pixelsWidth() + 64);
        EXPECT_EQ(b->bufferSize(), b->bytesPerRow() * 3);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b->baseAddress()) % 64, 0u);
    }
}

TEST(ZVPixelBuffer, EachSizeKeepsItsPoolAndEarlierBuffersStayValid) {
    ZVPixelBuffer::releaseSharedPixelBufferPool();
    auto a = ZVPixelBuffer::pixelBufferWithSize({640, 480});
    std::weak_ptr<ZVPixelBufferPool> first = ZVPixelBuffer::sharedPixelBufferPool();
    auto b = ZVPixelBuffer::pixelBufferWithSize({800, 600});
    std::weak_ptr<ZVPixelBufferPool> second = ZVPixelBuffer::sharedPixelBufferPool();
    EXPECT_FALSE(first.expired());
    auto c = ZVPixelBuffer::pixelBufferWithSize({640, 480});
    EXPECT_FALSE(second.expired());
    auto pool = ZVPixelBuffer::sharedPixelBufferPool();
    EXPECT_EQ(pool, first.lock());  // taken up again, not rebuilt
    EXPECT_EQ(pool->width(), 640u);
    EXPECT_EQ(pool->height(), 480u);
    // Beyond four sizes the least recently used pool goes.
    for (float w : {10.f, 11.f, 12.f}) ZVPixelBuffer::pixelBufferWithSize({w, 10});
    EXPECT_TRUE(second.expired());
    EXPECT_FALSE(first.expired());

    // All three still hold their own memory of their own size (the address sanitizer
    // watches the writes).
    for (auto* buf : {a.get(), b.get(), c.get()}) fillPattern(*buf);
    EXPECT_EQ(b->bufferSize(), ZVPixelBytesPerRow(800) * 600);
    EXPECT_EQ(c->bufferSize(), ZVPixelBytesPerRow(640) * 480);
    // A buffer of a released pool goes away cleanly (its memory is freed, not pooled).
    ZVPixelBuffer::releaseSharedPixelBufferPool();
    a.reset();
}

TEST(ZVPixelBuffer, BuffersAreRecycledAndTheFreeListIsBounded) {
    ZVPixelBuffer::releaseSharedPixelBufferPool();
    auto a = ZVPixelBuffer::pixelBufferWithSize({320, 200});
    EXPECT_FALSE(a->coreVideoPixelBuffer()->wasRecycled());
    uint8_t* memory = a->baseAddress();
    a.reset();
    auto b = ZVPixelBuffer::pixelBufferWithSize({320, 200});
    EXPECT_TRUE(b->coreVideoPixelBuffer()->wasRecycled());
    EXPECT_EQ(b->baseAddress(), memory);

    // A burst: far more buffers out than the free list keeps.
    std::vector<std::shared_ptr<ZVPixelBuffer>> burst;
    for (size_t i = 0; i < 3 * kZVPixelBufferPoolFreeLimit; ++i)
        burst.push_back(ZVPixelBuffer::pixelBufferWithSize({320, 200}));
    burst.clear();
    EXPECT_EQ(ZVPixelBuffer::sharedPixelBufferPool()->freeCount(), kZVPixelBufferPoolFreeLimit);
}

TEST(ZVPixelBuffer, BuffersMayBeTakenAndReturnedOnManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                // Two sizes, so the pool is replaced under the others' feet.
                ZVSize size = (i + t) % 2 ? ZVSize{64, 32} : ZVSize{32, 64};
                auto b = ZVPixelBuffer::pixelBufferWithSize(size);
                ASSERT_TRUE(b);
                b->clearBuffer();
                EXPECT_EQ(b->pixelsWidth(), int32_t(size.width));
            }
        });
    for (auto& t : threads) t.join();
}

TEST(ZVPixelBuffer, FlipsAgreeOnPixelsAndDifferOnlyInPadding) {
    // Width 17: 68 pixel bytes in a 128-byte row; 5000: rows wider than one stack chunk.
    for (auto [width, height] : {std::pair{17, 1}, {17, 2}, {17, 5}, {17, 6}, {5000, 3}}) {
        SCOPED_TRACE(height);
        auto whole = ZVPixelBuffer::pixelBufferWithSize({float(width), float(height)});
        auto contents = ZVPixelBuffer::pixelBufferWithSize({float(width), float(height)});
        fillPattern(*whole);
        fillPattern(*contents);
        const auto before = bytesOf(*whole);
        whole->flipImageData();
        contents->flipBufferContents();
        const int stride = whole->bytesPerRow();
        const int pixelBytes = 4 * width;
        for (int r = 0; r < height; ++r) {
            const uint8_t* w = whole->baseAddress() + r * stride;
            const uint8_t* c = contents->baseAddress() + r * stride;
            const uint8_t* src = before.data() + (height - 1 - r) * stride;
            const uint8_t* same = before.data() + r * stride;
            EXPECT_EQ(0, std::memcmp(w, src, stride)) << "whole row " << r;
            EXPECT_EQ(0, std::memcmp(c, src, pixelBytes)) << "pixels of row " << r;
            EXPECT_EQ(0, std::memcmp(c + pixelBytes, same + pixelBytes, stride - pixelBytes))
                << "padding of row " << r << " stays";
        }
        whole->flipImageData();
        contents->flipBufferContents();
        EXPECT_EQ(bytesOf(*whole), before);
        EXPECT_EQ(bytesOf(*contents), before);
    }
}

TEST(ZVPixelBuffer, ClearCopyAndBufferReplacement) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({33, 7});
    fillPattern(*b);
    auto copy = b->copy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(std::dynamic_pointer_cast<ZVMovieFrame>(copy), nullptr);
    EXPECT_NE(copy->baseAddress(), b->baseAddress());
    EXPECT_EQ(bytesOf(*copy), bytesOf(*b));
    b->clearBuffer();
    EXPECT_EQ(bytesOf(*b), std::vector<uint8_t>(b->bufferSize(), 0));
    EXPECT_NE(bytesOf(*copy), bytesOf(*b));

    // The object owns what it is given and gives back what it had.
    b->setPixelBuffer(ZVPixelBuffer::createPixelBufferWithSize({10, 10}));
    EXPECT_EQ(b->pixelsWidth(), 10);
    b->setPixelBuffer(nullptr);
    EXPECT_EQ(b->bufferSize(), 0);
    EXPECT_EQ(b->baseAddress(), nullptr);
    b->flipImageData();  // without a buffer every operation does nothing
    b->flipBufferContents();
    b->clearBuffer();
}

TEST(ZVPixelBuffer, ImageConversionFlipsTheReceiver) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({4, 3});
    b->clearBuffer();
    uint8_t* p = b->baseAddress();
    p[0] = 10;                          // row 0: blue 10
    p[2 * b->bytesPerRow() + 2] = 200;  // row 2: red 200
    auto first = b->createRGBImageFromBufferData();
    ASSERT_TRUE(first);
    // After the flip the old last row is row 0, the image's top.
    EXPECT_EQ(first->rgbaAt(0, 0), (std::array<uint8_t, 4>{200, 0, 0, 255}));
    EXPECT_EQ(first->rgbaAt(0, 2), (std::array<uint8_t, 4>{0, 0, 10, 255}));
    EXPECT_EQ(p[2], 200);
    auto second = b->createRGBImageFromBufferData();
    EXPECT_EQ(second->rgbaAt(0, 0), (std::array<uint8_t, 4>{0, 0, 10, 255}));
    EXPECT_EQ(second->rgbaAt(0, 2), (std::array<uint8_t, 4>{200, 0, 0, 255}));
}
