#pragma once
// Checks of a bottom-up buffer read by ZVSnap against the test client's pattern.
#include <gtest/gtest.h>

#include <cstring>

#include "Zorvan.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"

namespace zvtest {

inline constexpr uint8_t kUntouched = 0xAB;

// A test whose whole 3840x1080 root shows the pattern (a window over it), so every pixel
// read can be checked.
class PatternScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        ASSERT_TRUE(client.ok());
        window = client.showPattern(0, 0, 3840, 1080);
    }
    void TearDown() override { client.destroyWindow(window); }

    X11TestClient client;
    uint32_t window = 0;
};

// A buffer of rect's size filled with kUntouched, padding included.
inline std::shared_ptr<ZVPixelBuffer> sentinelBuffer(ZVRect rect) {
    auto b = ZVPixelBuffer::initWithSize(rect.size);
    if (b) std::memset(b->baseAddress(), kUntouched, size_t(b->bufferSize()));
    return b;
}

// Whether buffer pixel (column c, row r) shows the pattern of desktop point (x, y), given
// the primary monitor's height in root pixels (its root origin is 0, 0): desktop line y
// is root row primaryHeight - 1 - y.
inline ::testing::AssertionResult showsPattern(const ZVPixelBuffer& b, int c, int r, int x, int y,
                                               int primaryHeight) {
    const uint8_t* p = b.baseAddress() + size_t(r) * b.bytesPerRow() + 4 * size_t(c);
    const uint32_t want = X11TestClient::patternPixel(x, primaryHeight - 1 - y);
    if (p[0] == (want & 0xFF) && p[1] == ((want >> 8) & 0xFF) && p[2] == ((want >> 16) & 0xFF) &&
        p[3] == 0xFF)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel " << c << "," << r << " is " << int(p[0]) << "," << int(p[1]) << ","
           << int(p[2]) << "," << int(p[3]) << ", want pattern of desktop " << x << "," << y;
}

inline bool untouched(const ZVPixelBuffer& b, int c, int r) {
    const uint8_t* p = b.baseAddress() + size_t(r) * b.bytesPerRow() + 4 * size_t(c);
    return p[0] == kUntouched && p[1] == kUntouched && p[2] == kUntouched && p[3] == kUntouched;
}

// Reads `rect` with a ZVSnap into a sentinel buffer.
inline std::shared_ptr<ZVPixelBuffer> snapRead(ZVRect rect) {
    auto snap = ZVSnap::initWithCaptureRect(rect);
    auto b = sentinelBuffer(rect);
    snap->lockFocus();
    snap->readRectToBuffer(*b);
    snap->unlockFocus();
    return b;
}

// Every pixel of `b` (read from `rect`) shows the pattern where `onDisplay(x, y)`, and is
// untouched elsewhere; the row padding is untouched. Stops at the first wrong pixel.
template <typename OnDisplay>
::testing::AssertionResult matchesLayout(const ZVPixelBuffer& b, ZVRect rect, int primaryHeight,
                                         OnDisplay&& onDisplay) {
    const int w = int(rect.size.width), h = int(rect.size.height);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const int x = int(rect.origin.x) + c, y = int(rect.origin.y) + r;
            if (onDisplay(x, y)) {
                auto ok = showsPattern(b, c, r, x, y, primaryHeight);
                if (!ok) return ok;
            } else if (!untouched(b, c, r)) {
                return ::testing::AssertionFailure()
                       << "pixel " << c << "," << r << " (desktop " << x << "," << y
                       << ") lies on no display but was written";
            }
        }
        const uint8_t* row = b.baseAddress() + size_t(r) * b.bytesPerRow();
        for (int i = w * 4; i < b.bytesPerRow(); ++i)
            if (row[i] != kUntouched)
                return ::testing::AssertionFailure() << "padding of row " << r << " written";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace zvtest
