#pragma once
#include "ZVPrivate.h"  // library-internal

// The block codec of the capture file, as plain functions over raw pixel memory (base
// address, row stride, byte size), so that frames from the pool (padded rows) and plain
// byte arrays (the examples the tests hold to) go through the same code.
//
// Block data is `blocks` blocks back to back: a 32-bit byte offset into the buffer, a
// 32-bit byte length, then that many bytes of the frame. A block covers a run of changed
// 32-bit words and the one word after it; it never goes past the end of the row in which
// it starts (the word that cuts it is inside it already), and never past the end of the
// buffer (a run opened on the buffer's last word makes a 4-byte block).
#include <cstddef>
#include <cstdint>

#include "Video/ZVDamage.h"

struct ZVFomixEncoded {
    uint32_t blocks = 0;
    uint32_t dataSize = 0;  // bytes of block data written
    bool allZero = true;    // every 32-bit word of the frame is zero
};

// The most block data one frame of `bufferSize` bytes can make. Any thread.
constexpr size_t ZVFomixMaxBlockDataSize(size_t bufferSize) {
    return 2 * bufferSize + 8;
}

// Encodes `frame` against `reference`: both are `bufferSize` bytes with rows `bytesPerRow`
// apart (bytesPerRow > 0). `out` must hold ZVFomixMaxBlockDataSize(bufferSize) bytes.
// Numbers are written in host byte order. Any thread (the buffers are the caller's).
ZVFomixEncoded ZVFomixEncodeBlocks(const uint8_t* frame, const uint8_t* reference,
                                   size_t bytesPerRow, size_t bufferSize, uint8_t* out);

// Where the rows of one picture lie in memory, whatever their order, and what its fourth
// bytes mean.
struct ZVFomixRows {
    const uint8_t* row0 = nullptr;  // the first byte of row 0
    int64_t step = 0;               // from one row to the next; negative for bottom-up memory
    // OR-ed into each pixel word as it is read: the alpha bits for a picture whose fourth
    // bytes mean nothing (every pixel opaque), else 0.
    uint32_t alpha = 0;
};

// The 32-bit word of a pixel whose fourth byte is 0xFF and the others 0, in memory order.
uint32_t ZVFomixOpaqueAlpha();

// The same encoding as ZVFomixEncodeBlocks of the two pictures laid out contiguously,
// `bytesPerRow` (a multiple of 4) a row, `bufferSize` bytes in all: offsets count in that
// layout, whatever the rows' places in memory. The first `pixelsWidth` words of each row
// are pixels and are read with their picture's alpha (0: every word); the rest is padding,
// read as it is. Stored words carry the alpha bits, so an opaque picture whose fourth
// bytes mean nothing is stored exactly as one with 0xFF there. Any thread.
//
// With `damage` (rectangles of pixels in rows as stored, row 0 first) only the pixels it
// covers are compared, and a run is cut where its rectangles end: where nothing else
// changed, the blocks are exactly those of the whole comparison; a change outside the
// damage is not stored. nullptr compares everything.
ZVFomixEncoded ZVFomixEncodeRows(const ZVFomixRows& frame, const ZVFomixRows& reference,
                                 size_t bytesPerRow, size_t pixelsWidth, size_t bufferSize,
                                 uint8_t* out, const ZVDamage* damage = nullptr);

// Copies `blocks` blocks of `data`, as ZVFomixEncodeRows made them for rows `bytesPerRow`
// long, onto the picture whose row 0 starts at `row0` with the next `step` bytes on
// (negative for bottom-up memory). The data is trusted: the writer patches its own
// reference with what it just stored. Any thread (the memory is the caller's).
void ZVFomixPatchRows(const uint8_t* data, uint32_t blocks, uint8_t* row0, int64_t step,
                      size_t bytesPerRow);

// How block data from a file maps onto a canvas.
struct ZVFomixBlockLayout {
    bool swapped = false;  // offsets, lengths and pixel words are in the other byte order
    // Earlier layout: offsets count rows of 4 x this width with no padding (0: offsets
    // are already counted with the canvas stride).
    int64_t unpaddedWidth = 0;
};

enum class ZVFomixApplyResult {
    Applied,
    BadOffset,  // a block's offset is at or beyond the canvas's byte size
    ShortData,  // the block data ends inside a block's offset, length or bytes
};

// Copies `blocks` blocks from `data` (`dataSize` bytes) onto the canvas (`bufferSize`
// bytes, rows `bytesPerRow` apart, `pixelsWidth` pixels of each row in use). A block
// that starts inside the canvas but runs past its end is cut at the end. On a result
// other than Applied the blocks before the bad one stay applied and nothing after it is
// read. Never reads or writes outside the given ranges. Any thread.
ZVFomixApplyResult ZVFomixApplyBlocks(const uint8_t* data, size_t dataSize, uint32_t blocks,
                                      uint8_t* canvas, size_t bytesPerRow, size_t pixelsWidth,
                                      size_t bufferSize, const ZVFomixBlockLayout& layout);
