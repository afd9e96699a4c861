#include "Storage/ZVFomixDeflate.h"

#include <libdeflate.h>

ZVFomixDeflate::~ZVFomixDeflate() {
    libdeflate_free_compressor(_compressor);
    libdeflate_free_decompressor(_decompressor);
}

size_t ZVFomixDeflate::compress(const uint8_t* data, size_t size, uint8_t* out, size_t capacity) {
    if (!_compressor) _compressor = libdeflate_alloc_compressor(1);
    if (!_compressor || capacity == 0) return 0;
    return libdeflate_zlib_compress(_compressor, data, size, out, capacity);
}

bool ZVFomixDeflate::inflate(const uint8_t* in, size_t size, uint8_t* out, size_t expected) {
    if (!_decompressor) _decompressor = libdeflate_alloc_decompressor();
    if (!_decompressor) return false;
    // No "actual length" argument: libdeflate then succeeds only when the stream fills
    // exactly `expected` bytes.
    return libdeflate_zlib_decompress(_decompressor, in, size, out, expected, nullptr) ==
           LIBDEFLATE_SUCCESS;
}
