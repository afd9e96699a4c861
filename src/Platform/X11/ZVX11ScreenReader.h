#pragma once
#include "ZVPrivate.h"  // library-internal

// Reads of the root window: through the connection's MIT-SHM segment, or plain get_image
// when the server cannot attach one.
#include <cstdint>

class ZVX11Connection;
class ZVPixelStorage;

// Copies the root-space rectangle (x, y, w, h) bottom-up: its top line goes to
// `bottomLeft + (h - 1) * stride`, its bottom line to `bottomLeft`, each pixel's fourth
// byte set to 0xFF. The parts outside the root window are left untouched; rows at or above
// `maxRows` and bytes past `maxBytesPerRow` are never written. False when nothing could be
// read. Owning thread of `c`.
bool ZVX11ReadRootRect(ZVX11Connection& c, int32_t x, int32_t y, int32_t w, int32_t h,
                       uint8_t* bottomLeft, uint32_t stride, uint32_t maxRows,
                       uint32_t maxBytesPerRow);

// Copies `rows` rows of `pixels` 32-bit pixels from `src` (top row first, `srcStride` bytes
// apart) to `dstTop` going downward in memory (`dstStride` may be negative for a bottom-up
// copy), setting each fourth byte to 0xFF; `swap` reverses each pixel's bytes first (a
// server that sends the most significant byte first). Any thread.
void ZVX11CopyOpaqueRows(const uint8_t* src, uint32_t srcStride, uint8_t* dstTop, int64_t dstStride,
                         uint32_t rows, uint32_t pixels, bool swap);

// Reads the root-space rectangle (x, y, w, h), wholly inside the root window, in one
// MIT-SHM request straight into the memory of `buffer`: top line first, rows of exactly
// 4 × w bytes, the fourth bytes as the server leaves them. False, nothing written, when
// that cannot be: a buffer of another size, with padded rows or plain memory; a server
// that cannot attach it, has another pixel layout, or refused the read. Owning thread of
// `c`.
bool ZVX11ReadRootRectInto(ZVX11Connection& c, int32_t x, int32_t y, int32_t w, int32_t h,
                           ZVPixelStorage& buffer);
