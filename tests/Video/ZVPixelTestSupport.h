#pragma once
// Reading pixel buffers in tests: one pixel's four bytes, all bytes, by memory row.
#include <array>
#include <cstdint>
#include <vector>

#include "Video/ZVPixelBuffer.h"

namespace zvtest {

// Bytes blue, green, red, alpha of one pixel.
using Pixel = std::array<uint8_t, 4>;

// The pixel at column x of memory row `row`.
inline Pixel pixelAt(const ZVPixelBuffer& b, int x, int row) {
    const uint8_t* p = b.baseAddress() + row * b.bytesPerRow() + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

// Every byte of the buffer, row padding included.
inline std::vector<uint8_t> bytesOf(const ZVPixelBuffer& b) {
    return std::vector<uint8_t>(b.baseAddress(), b.baseAddress() + b.bufferSize());
}

}  // namespace zvtest
