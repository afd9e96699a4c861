#include "Storage/ZVFomixBlocks.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint32_t loadWord(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

inline void storeWord(uint8_t* p, uint32_t w) {
    std::memcpy(p, &w, 4);
}

// The scans below are the encoder's hot path: a recording compares every frame with the
// previous one, and most of a screen does not change from one refresh to the next. They
// compare 64 bytes per step and narrow down to the 32-bit word only where they stop.
// All offsets are multiples of 4; each returns `to` when nothing is found.

// First word offset in [from, to) where a and b differ.
size_t firstDifferent(const uint8_t* a, const uint8_t* b, size_t from, size_t to) {
    size_t o = from;
#if defined(__SSE2__)
    auto lane = [&](size_t at) -> int {
        __m128i eq = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)));
        return _mm_movemask_epi8(eq) ^ 0xFFFF;  // a bit per differing byte
    };
    for (; o + 64 <= to; o += 64) {
        __m128i x0 = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o)));
        __m128i x1 = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o + 16)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o + 16)));
        __m128i x2 = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o + 32)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o + 32)));
        __m128i x3 = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o + 48)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o + 48)));
        __m128i any = _mm_or_si128(_mm_or_si128(x0, x1), _mm_or_si128(x2, x3));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) break;
    }
    for (; o + 16 <= to; o += 16) {
        if (int m = lane(o)) return o + (static_cast<size_t>(__builtin_ctz(m)) & ~size_t(3));
    }
#else
    for (; o + 8 <= to; o += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + o, 8);
        std::memcpy(&y, b + o, 8);
        if (x != y) break;
    }
#endif
    for (; o < to; o += 4)
        if (loadWord(a + o) != loadWord(b + o)) return o;
    return to;
}

// First word offset in [from, to) where a and b are equal.
size_t firstEqual(const uint8_t* a, const uint8_t* b, size_t from, size_t to) {
    size_t o = from;
#if defined(__SSE2__)
    for (; o + 16 <= to; o += 16) {
        __m128i eq = _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o)));
        if (int m = _mm_movemask_ps(_mm_castsi128_ps(eq))) return o + 4 * __builtin_ctz(m);
    }
#endif
    for (; o < to; o += 4)
        if (loadWord(a + o) == loadWord(b + o)) return o;
    return to;
}

// First word offset in [0, to) that is not zero. A captured frame has opaque pixels, so
// this ends at its first word; only a failed screen read scans the whole buffer.
size_t firstNonZero(const uint8_t* a, size_t to) {
    size_t o = 0;
    for (; o + 8 <= to; o += 8) {
        uint64_t x;
        std::memcpy(&x, a + o, 8);
        if (x) break;
    }
    for (; o < to; o += 4)
        if (loadWord(a + o)) return o;
    return to;
}

}  // namespace

ZVFomixEncoded ZVFomixEncodeBlocks(const uint8_t* frame, const uint8_t* reference,
                                   size_t bytesPerRow, size_t bufferSize, uint8_t* out) {
    ZVFomixEncoded result;
    const size_t n = bufferSize & ~size_t(3);  // whole words only
    const size_t b = bytesPerRow ? bytesPerRow : n;
    result.allZero = firstNonZero(frame, n) == n;
    uint8_t* p = out;
    size_t o = 0;
    while ((o = firstDifferent(frame, reference, o, n)) < n) {
        // A run opens at s. It grows while words differ, but its block (the run and the
        // word after it) may not pass the end of the row that s lies in: the run stops
        // at the row's last word, which is then already inside the block.
        const size_t s = o;
        const size_t rowEnd = (s / b + 1) * b;
        const size_t limit = std::min(std::max(s + 4, rowEnd >= 4 ? rowEnd - 4 : 0), n);
        const size_t stop = firstEqual(frame, reference, s + 4, limit);
        // The word at `stop` closes the block and never opens the next run. A run that
        // reaches the end of the buffer is cut there.
        const size_t end = std::min(stop + 4, n);
        const uint32_t offset = static_cast<uint32_t>(s);
        const uint32_t length = static_cast<uint32_t>(end - s);
        storeWord(p, offset);
        storeWord(p + 4, length);
        std::memcpy(p + 8, frame + s, length);
        p += 8 + length;
        ++result.blocks;
        o = stop + 4;
    }
    result.dataSize = static_cast<uint32_t>(p - out);
    return result;
}

ZVFomixApplyResult ZVFomixApplyBlocks(const uint8_t* data, size_t dataSize, uint32_t blocks,
                                      uint8_t* canvas, size_t bytesPerRow, size_t pixelsWidth,
                                      size_t bufferSize, const ZVFomixBlockLayout& layout) {
    size_t pos = 0;
    for (uint32_t i = 0; i < blocks; ++i) {
        if (dataSize - pos < 8) return ZVFomixApplyResult::ShortData;
        uint32_t offset = loadWord(data + pos);
        uint32_t length = loadWord(data + pos + 4);
        if (layout.swapped) {
            offset = __builtin_bswap32(offset);
            length = __builtin_bswap32(length);
        }
        pos += 8;
        if (length > dataSize - pos) return ZVFomixApplyResult::ShortData;
        int64_t at = offset;
        if (layout.unpaddedWidth > 0) {
            // Rows of the earlier layout were stored without padding; move the offset
            // onto the canvas's stride.
            const int64_t rowBytes = 4 * layout.unpaddedWidth;
            at += (at / rowBytes) *
                  (static_cast<int64_t>(bytesPerRow) - 4 * static_cast<int64_t>(pixelsWidth));
        }
        if (at < 0 || static_cast<uint64_t>(at) >= bufferSize) return ZVFomixApplyResult::BadOffset;
        const size_t start = static_cast<size_t>(at);
        const size_t count = std::min<size_t>(length, bufferSize - start);
        std::memcpy(canvas + start, data + pos, count);
        if (layout.swapped) {
            // BGRA bytes stored as a word of the other order.
            for (size_t w = 0; w + 4 <= count; w += 4)
                storeWord(canvas + start + w, __builtin_bswap32(loadWord(canvas + start + w)));
        }
        pos += length;
    }
    return ZVFomixApplyResult::Applied;
}
