#pragma once
#include "ZVPrivate.h"  // library-internal

// The framework's in-memory picture: one pooled buffer of 32-bit BGRA pixels (bytes blue,
// green, red, alpha). Rows lie bytesPerRow() apart, which may be more than 4 × width; row
// 0 is the first row in memory unless the buffer has a negative stride (then it is the
// last, and bytesPerRow() is negative), and which screen edge it shows is up to the
// producer and the consumer of the pixels. All buffers come from process-wide pools, one per size
// (see ZVPixelBufferPool.h for the stride rule).
//
// A buffer has no lock of its own: it belongs to one stage at a time and is handed on
// through queues.
#include <cstdint>
#include <memory>

#include "Foundation/ZVGeometry.h"
#include "Pipeline/ZVDataFlow.h"
#include "Video/ZVImage.h"
#include "Video/ZVPixelBufferPool.h"

// fminf(fmaxf(min, value), max): value clamped to [min, max]; NaN gives min. Any thread.
float fclampf(float value, float min, float max);

class ZVPixelBuffer : public ZVQueueObject {
  public:
    // A new buffer of `size` (each side truncated toward zero) from the shared pool of
    // that size, made on first use; the pools of the four sizes used last are kept.
    // nullptr after a log line when the pool or the buffer cannot be made. The caller owns
    // the buffer. Any thread.
    static ZVPixelStorageRef createPixelBufferWithSize(ZVSize size);
    // Lets go of the shared pools; buffers already handed out stay valid. Any thread.
    static void releaseSharedPixelBufferPool();
    // The pool used last (nullptr when none), for diagnostics and tests. Any thread.
    static std::shared_ptr<ZVPixelBufferPool> sharedPixelBufferPool();

    // A buffer of `size`. nullptr after the log line "Wrong size for pixel buffer: {w, h}"
    // when the size is empty; throws ZVException ("Could not create pixel storage") when no
    // buffer can be had. Always a plain ZVPixelBuffer. Any thread.
    static std::shared_ptr<ZVPixelBuffer> initWithSize(ZVSize size);
    // The same as initWithSize. Any thread.
    static std::shared_ptr<ZVPixelBuffer> pixelBufferWithSize(ZVSize size);

    ~ZVPixelBuffer() override;
    ZVPixelBuffer(const ZVPixelBuffer&) = delete;
    ZVPixelBuffer& operator=(const ZVPixelBuffer&) = delete;

    // Replaces the buffer (the old one goes back to its pool); the object takes ownership.
    // Owner's thread.
    void setPixelBuffer(ZVPixelStorageRef buffer);
    // The buffer itself, still owned by the object; nullptr when it has none. Owner's thread.
    ZVPixelStorage* coreVideoPixelBuffer() const;

    // Shows the pixels of `source` (its size, row order and alpha meaning) without a copy
    // until something asks for the memory (baseAddress, memoryStart, lock, a draw, a
    // flip): then they are copied into a buffer of its own from the pool, and the source is
    // let go. A consumer that never looks at the pixels costs no copy. The source must not
    // change while it is shared; its owner learns that the last sharer let go through its
    // shared_ptr. The buffer's own is given back first. Owner's thread.
    void sharePixelsOf(std::shared_ptr<const ZVPixelBuffer> source);
    // Whether the pixels are still the source's. Owner's thread.
    bool sharesPixels() const { return !_pixelBuffer && _sharedPixels; }

    // Geometry of the buffer; 0 when the object has no buffer. bytesPerRow() is negative
    // for a buffer with a negative stride. Owner's thread.
    int32_t pixelsWidth() const;
    int32_t pixelsHeight() const;
    int32_t bytesPerRow() const;
    // The row order in memory. With a negative stride row 0 is the last row in memory and
    // each next row lies before it: a picture written top row first (a screen read) is
    // then the bottom-up picture that frames hold, without a copy. Only the view changes,
    // no byte moves; a new buffer (setPixelBuffer) starts with a positive stride. Owner's
    // thread.
    void setNegativeStride(bool negative) { _negativeStride = negative; }
    bool hasNegativeStride() const { return _negativeStride; }
    // Whether the fourth byte of each pixel means nothing and every pixel is opaque: a
    // screen read leaves the server's own byte there (0 on X11) rather than spend a pass
    // over the picture setting it; readers that care take it as 0xFF. A new buffer starts
    // without it. Owner's thread.
    void setAlphaIgnored(bool ignored) { _alphaIgnored = ignored; }
    bool alphaIgnored() const { return _alphaIgnored; }
    // All bytes of the buffer, row padding included. Owner's thread.
    int32_t bufferSize() const;
    // bufferSize(), what a queue weighs the object by. Any thread (never changes while
    // queued).
    int64_t dataSize() const override;
    // The first byte of row 0; nullptr without a buffer. The memory never moves while the
    // object keeps its buffer. Owner's thread.
    uint8_t* baseAddress() const;
    // The buffer's lowest byte, where its bufferSize() bytes begin (row 0 only with a
    // positive stride); nullptr without a buffer. Owner's thread.
    uint8_t* memoryStart() const;
    // Pin the base address around a longer access (balanced). Owner's thread.
    void lock();
    void unlock();

    // Sets every byte (padding included) to zero. Owner's thread.
    void clearBuffer();
    // Exchanges row i and row H-1-i for i < H/2, whole rows with their padding, through a
    // heap row; logs "ME-8: flipImageData failed with malloc error" and changes nothing when
    // that row cannot be had. A buffer with a negative stride takes a positive one instead,
    // which shows the same exchange without moving a byte. Owner's thread.
    void flipImageData();
    // The same exchange of the pixel part of each row only (padding stays); allocates
    // nothing. Runs once per exported frame. Owner's thread (as flipImageData for a
    // negative stride).
    void flipBufferContents();
    // Flips the receiver (flipImageData; the pixels stay flipped) and returns its pixels as
    // a BGRX image whose top row is the buffer's new row 0, alpha ignored. Owner's thread.
    std::shared_ptr<ZVImage> createRGBImageFromBufferData();

    // Blends a w × h image (rows `rowBytes` apart) into the buffer with its top-left at
    // `point` (truncated toward zero) in memory-row order, pixel by pixel: pixels that fall
    // outside the buffer are skipped. format 1 reads BGRA bytes, any other value RGBA.
    // Colours are weighted a on the source side and 1-a on the destination side, the alpha
    // byte gets a×a + dst×(1-a), where a = source alpha × opacity (opacity clamped to 0..1).
    // Owner's thread.
    void drawImage(const uint8_t* bytes, int32_t rowBytes, int32_t width, int32_t height,
                   int32_t format, float opacity, ZVPoint point);
    void drawBGRAImage(const uint8_t* bytes, int32_t rowBytes, int32_t width, int32_t height,
                       float opacity, ZVPoint point);
    void drawRGBAImage(const uint8_t* bytes, int32_t rowBytes, int32_t width, int32_t height,
                       float opacity, ZVPoint point);

    // A new object of the receiver's own class and size with the same bytes (its own
    // buffer, from the shared pool). Subclasses add their fields. The caller owns it; it
    // may throw as initWithSize does. Owner's thread.
    virtual std::shared_ptr<ZVPixelBuffer> copy() const;

  protected:
    ZVPixelBuffer() = default;
    // The initialiser that the factories of this class and its subclasses share: false
    // after the log line for an empty size; throws when no buffer can be had.
    bool initializeWithSize(ZVSize size);
    // Copies bufferSize() bytes from `source` (same size and stride) into this buffer,
    // with its row order and alpha meaning.
    void copyPixelsFrom(const ZVPixelBuffer& source);

  private:
    // Flips the view of a buffer with a negative stride; false for a positive one.
    bool flipByStride();
    // The storage whose geometry the buffer has: its own, else the shared source's.
    const ZVPixelStorage* storage() const;
    // Copies the shared pixels into a buffer of its own (logged and left without pixels
    // when none can be had).
    void ownPixels() const;

    // Both change on the first look at shared pixels, which may come through a const
    // accessor.
    mutable ZVPixelStorageRef _pixelBuffer;
    mutable std::shared_ptr<const ZVPixelBuffer> _sharedPixels;
    bool _negativeStride = false;
    bool _alphaIgnored = false;
};
