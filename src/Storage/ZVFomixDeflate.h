#pragma once
#include "ZVPrivate.h"  // library-internal

// The zlib streams (RFC 1950) of compressed capture-file payloads, made and inflated with
// libdeflate: at level 1 it compresses about 1.5 times and inflates about twice as fast
// as zlib on screen pictures (bench/fomix.cpp), and its streams are plain zlib streams
// that zlib's uncompress inflates. One object per thread: it keeps libdeflate's working
// state, which must not be shared.
#include <cstddef>
#include <cstdint>

struct libdeflate_compressor;
struct libdeflate_decompressor;

class ZVFomixDeflate {
  public:
    ZVFomixDeflate() = default;
    ~ZVFomixDeflate();
    ZVFomixDeflate(const ZVFomixDeflate&) = delete;
    ZVFomixDeflate& operator=(const ZVFomixDeflate&) = delete;

    // Compresses `size` bytes at the fastest level into `out` (`capacity` bytes). Returns
    // the stream's length, or 0 when it does not fit into `capacity` (so a caller that
    // only wants a stream shorter than some bound passes that bound) or the working state
    // cannot be allocated. Owning thread.
    size_t compress(const uint8_t* data, size_t size, uint8_t* out, size_t capacity);

    // Inflates the stream `in` (`size` bytes) into exactly `expected` bytes at `out`.
    // False for a damaged stream, a wrong checksum, or any other inflated length.
    // Owning thread.
    bool inflate(const uint8_t* in, size_t size, uint8_t* out, size_t expected);

  private:
    libdeflate_compressor* _compressor = nullptr;  // made on first use
    libdeflate_decompressor* _decompressor = nullptr;
};
