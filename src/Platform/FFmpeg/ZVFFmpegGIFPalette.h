#pragma once
#include "ZVPrivate.h"  // library-internal

// The 256 colours of an animated GIF, made from a picture of the recording: median cut over
// its pixels, beside a coarse cube of colours that any later picture may need (a window
// that turns red in a grey recording). Pixels map to their nearest colour through a table
// of 15-bit colours filled as they are met, so a frame costs one look-up per pixel.
//
// One per GIF session; one thread at a time.
#include <array>
#include <cstdint>
#include <vector>

class ZVFFmpegGIFPalette {
  public:
    // From the BGRA picture `bgra` (rows `stride` bytes apart).
    ZVFFmpegGIFPalette(const uint8_t* bgra, int width, int height, int stride);

    // 256 opaque colours as 0xAARRGGBB words, as a PAL8 picture's palette holds them.
    const std::array<uint32_t, 256>& colors() const { return _colors; }
    // Writes the index of each BGRA pixel's nearest colour to `out` (rows `outStride` apart).
    void map(const uint8_t* bgra, int width, int height, int stride, uint8_t* out, int outStride);

  private:
    uint8_t nearest(uint32_t rgb15);

    std::array<uint32_t, 256> _colors{};
    std::vector<uint16_t> _lookup;  // by 15-bit colour: index + 1, 0 while not known
};
