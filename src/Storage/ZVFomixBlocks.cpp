#include "Storage/ZVFomixBlocks.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#define ZV_INLINE __attribute__((always_inline))

ZV_INLINE inline uint32_t loadWord(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

ZV_INLINE inline void storeWord(uint8_t* p, uint32_t w) {
    std::memcpy(p, &w, 4);
}

// The scans below are the encoder's hot path: a recording compares every frame with the
// previous one, and most of a screen does not change from one refresh to the next. They
// compare 64 bytes per step and narrow down to the 32-bit word only where they stop.
// All offsets are multiples of 4; each returns `to` when nothing is found.

// Words are compared as they read with an alpha OR-ed in (ma for a's words, mb for b's;
// 0 leaves them as they are), so a picture whose fourth bytes mean nothing compares by its
// colours alone.

// First word offset in [from, to) where a and b differ.
size_t firstDifferent(const uint8_t* a, const uint8_t* b, size_t from, size_t to, uint32_t ma,
                      uint32_t mb) {
    size_t o = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi32(static_cast<int>(ma));
    const __m128i vb = _mm_set1_epi32(static_cast<int>(mb));
    // Inlined even in unoptimised builds, where a call per load would make the scan the
    // slowest part of a sanitizer run.
    auto load = [](const uint8_t* p, __m128i m) ZV_INLINE {
        return _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), m);
    };
    auto lane = [&](size_t at) ZV_INLINE -> int {
        __m128i eq = _mm_cmpeq_epi8(load(a + at, va), load(b + at, vb));
        return _mm_movemask_epi8(eq) ^ 0xFFFF;  // a bit per differing byte
    };
    // When both pictures read alike (the usual case) their raw differences are masked once
    // per step; otherwise each load gets its picture's alpha.
    const __m128i keep = _mm_set1_epi32(ma == mb ? static_cast<int>(~ma) : -1);
    auto scan = [&](auto orAlpha) ZV_INLINE {
        auto word = [&](const uint8_t* p, __m128i m) ZV_INLINE {
            if constexpr (decltype(orAlpha)::value) return load(p, m);
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        for (; o + 64 <= to; o += 64) {
            __m128i x0 = _mm_xor_si128(word(a + o, va), word(b + o, vb));
            __m128i x1 = _mm_xor_si128(word(a + o + 16, va), word(b + o + 16, vb));
            __m128i x2 = _mm_xor_si128(word(a + o + 32, va), word(b + o + 32, vb));
            __m128i x3 = _mm_xor_si128(word(a + o + 48, va), word(b + o + 48, vb));
            __m128i any = _mm_or_si128(_mm_or_si128(x0, x1), _mm_or_si128(x2, x3));
            any = _mm_and_si128(any, keep);
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) break;
        }
    };
    if (ma == mb) {
        scan(std::false_type{});
    } else {
        scan(std::true_type{});
    }
    for (; o + 16 <= to; o += 16) {
        if (int m = lane(o)) return o + (static_cast<size_t>(__builtin_ctz(m)) & ~size_t(3));
    }
#else
    const uint64_t wa = ma | uint64_t{ma} << 32, wb = mb | uint64_t{mb} << 32;
    for (; o + 8 <= to; o += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + o, 8);
        std::memcpy(&y, b + o, 8);
        if ((x | wa) != (y | wb)) break;
    }
#endif
    for (; o < to; o += 4)
        if ((loadWord(a + o) | ma) != (loadWord(b + o) | mb)) return o;
    return to;
}

// First word offset in [from, to) where a and b are equal.
size_t firstEqual(const uint8_t* a, const uint8_t* b, size_t from, size_t to, uint32_t ma,
                  uint32_t mb) {
    size_t o = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi32(static_cast<int>(ma));
    const __m128i vb = _mm_set1_epi32(static_cast<int>(mb));
    for (; o + 16 <= to; o += 16) {
        __m128i x = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + o)), va);
        __m128i y = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + o)), vb);
        __m128i eq = _mm_cmpeq_epi32(x, y);
        if (int m = _mm_movemask_ps(_mm_castsi128_ps(eq))) return o + 4 * __builtin_ctz(m);
    }
#endif
    for (; o < to; o += 4)
        if ((loadWord(a + o) | ma) == (loadWord(b + o) | mb)) return o;
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

// One row of the frame and the reference as the encoder walks it: `len` bytes (the last
// row may be cut short), of which the first `pixels` are pixel words read with the
// pictures' alpha, the rest padding read as it is.
struct RowPair {
    const uint8_t* f;
    const uint8_t* r;
    size_t len;
    size_t pixels;
    uint32_t fa, ra;

    // The first offset in [from, to) where `scan` stops: pixel words read with the
    // pictures' alpha, padding without.
    size_t find(size_t (*scan)(const uint8_t*, const uint8_t*, size_t, size_t, uint32_t, uint32_t),
                size_t from, size_t to) const {
        if (from < pixels) {
            const size_t e = std::min(to, pixels);
            const size_t x = scan(f, r, from, e, fa, ra);
            if (x < e) return x;
            from = e;
        }
        return from < to ? scan(f, r, from, to, 0, 0) : to;
    }
    size_t different(size_t from, size_t to) const { return find(firstDifferent, from, to); }
    size_t equal(size_t from, size_t to) const { return find(firstEqual, from, to); }
    // The frame's words [from, to) as stored: pixels with the alpha set. `reference`
    // takes the reference's instead (a word the damage says did not change).
    void copy(uint8_t* out, size_t from, size_t to, bool reference = false) const {
        const uint8_t* src = reference ? r : f;
        const uint32_t alpha = reference ? ra : fa;
        const size_t split = std::clamp(pixels, from, to);
        if (alpha == 0) {
            std::memcpy(out, src + from, split - from);
        } else {
            for (size_t o = from; o < split; o += 4)
                storeWord(out + (o - from), loadWord(src + o) | alpha);
        }
        std::memcpy(out + (split - from), src + split, to - split);
    }
};

}  // namespace

uint32_t ZVFomixOpaqueAlpha() {
    const uint8_t bytes[4] = {0, 0, 0, 0xFF};
    return loadWord(bytes);
}

ZVFomixEncoded ZVFomixEncodeBlocks(const uint8_t* frame, const uint8_t* reference,
                                   size_t bytesPerRow, size_t bufferSize, uint8_t* out) {
    const int64_t step = static_cast<int64_t>(bytesPerRow);
    return ZVFomixEncodeRows({frame, step, 0}, {reference, step, 0}, bytesPerRow, 0, bufferSize,
                             out, nullptr);
}

ZVFomixEncoded ZVFomixEncodeRows(const ZVFomixRows& frame, const ZVFomixRows& reference,
                                 size_t bytesPerRow, size_t pixelsWidth, size_t bufferSize,
                                 uint8_t* out, const ZVDamage* damage) {
    ZVFomixEncoded result;
    const size_t n = bufferSize & ~size_t(3);  // whole words only
    if (n == 0) return result;
    const size_t b = bytesPerRow ? bytesPerRow : n;
    const size_t pixelBytes = pixelsWidth ? std::min(4 * pixelsWidth, b) : b;
    const size_t rows = (n + b - 1) / b;
    auto rowAt = [&](size_t i) {
        const int64_t r = static_cast<int64_t>(i);
        const size_t len = std::min(b, n - i * b);
        return RowPair{frame.row0 + r * frame.step,
                       reference.row0 + r * reference.step,
                       len,
                       std::min(pixelBytes, len),
                       frame.alpha,
                       reference.alpha};
    };
    // A captured frame has opaque pixels, so this ends at its first word; only a failed
    // screen read scans the whole buffer.
    for (size_t i = 0; i < rows && result.allZero; ++i) {
        const RowPair row = rowAt(i);
        result.allZero = !(row.fa && row.pixels) && firstNonZero(row.f, row.len) == row.len;
    }
    uint8_t* p = out;
    size_t spilled = SIZE_MAX;  // the row whose first word closed a block of the row before
    // Whether row i's first pixel lies outside the damage (never with none).
    auto undamagedStart = [&](size_t i) {
        if (!damage || pixelBytes == 0) return false;
        for (const ZVDamageRect& r : *damage)
            if (r.x <= 0 && r.x + r.width > 0 && r.y <= int64_t(i) &&
                int64_t(i) < int64_t{r.y} + r.height)
                return false;
        return true;
    };
    // Stores the runs that open in [o, e) of row i; a run is cut at e, past which nothing is
    // compared. A word outside the damage that a block carries (the closing word at e, the
    // next row's first word) is the reference's: it is what the file holds there already
    // when the damage is right, and a change the damage left out is never stored. Returns
    // where the row's scan goes on.
    auto runs = [&](size_t i, const RowPair& row, size_t o, size_t e) {
        while ((o = row.different(o, e)) < e) {
            // A run opens at s. It grows while words differ, but its block (the run and the
            // word after it) may not pass the end of the row: the run stops at the row's
            // last word, which is then already inside the block. A run opened on that last
            // word takes the next row's first word as its closing word.
            const size_t s = o;
            const size_t limit = std::min({std::max(s + 4, b - 4), row.len, e});
            const size_t stop = row.equal(s + 4, limit);
            const size_t end = std::min(stop + 4, row.len);
            const bool spill = stop + 4 > row.len && i + 1 < rows;
            const uint32_t length = static_cast<uint32_t>(end - s + (spill ? 4 : 0));
            storeWord(p, static_cast<uint32_t>(i * b + s));
            storeWord(p + 4, length);
            row.copy(p + 8, s, stop);
            row.copy(p + 8 + (stop - s), stop, end, stop == e && e < row.len);
            if (spill) {
                // That word never opens the next run: the next row's scan starts after it.
                rowAt(i + 1).copy(p + 8 + (end - s), 0, 4, undamagedStart(i + 1));
                spilled = i + 1;
            }
            p += 8 + length;
            ++result.blocks;
            o = stop + 4;
        }
        return o;
    };
    auto firstScan = [&](size_t i) -> size_t { return spilled == i ? 4 : 0; };
    if (!damage) {
        for (size_t i = 0; i < rows; ++i) {
            const RowPair row = rowAt(i);
            runs(i, row, firstScan(i), row.len);
        }
    } else {
        // Band by band (rows that the same rectangles cover), the covered columns of each
        // row merged into spans. Outside them the frame is taken to equal the reference:
        // what the encoder would find there is a change the damage did not report. A run
        // that reaches a span's end closes on the word after it, as a scan of the whole
        // row closes it on the first equal word.
        struct Area {
            size_t row0, row1, from, to;  // rows [row0, row1), bytes [from, to)
        };
        std::vector<Area> areas;
        std::vector<size_t> edges;
        for (const ZVDamageRect& r : *damage) {
            const int64_t x0 = std::max<int64_t>(r.x, 0), y0 = std::max<int64_t>(r.y, 0);
            const int64_t x1 = std::min<int64_t>(int64_t{r.x} + r.width, int64_t(pixelBytes / 4));
            const int64_t y1 = std::min<int64_t>(int64_t{r.y} + r.height, int64_t(rows));
            if (x1 <= x0 || y1 <= y0) continue;
            areas.push_back({size_t(y0), size_t(y1), size_t(4 * x0), size_t(4 * x1)});
            edges.push_back(size_t(y0));
            edges.push_back(size_t(y1));
        }
        std::sort(edges.begin(), edges.end());
        edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
        std::vector<std::pair<size_t, size_t>> spans;
        for (size_t k = 0; k + 1 < edges.size(); ++k) {
            spans.clear();
            for (const Area& a : areas)
                if (a.row0 <= edges[k] && edges[k] < a.row1) spans.emplace_back(a.from, a.to);
            if (spans.empty()) continue;
            std::sort(spans.begin(), spans.end());
            size_t merged = 0;
            for (size_t j = 1; j < spans.size(); ++j) {
                if (spans[j].first <= spans[merged].second) {
                    spans[merged].second = std::max(spans[merged].second, spans[j].second);
                } else {
                    spans[++merged] = spans[j];
                }
            }
            spans.resize(merged + 1);
            for (size_t i = edges[k]; i < edges[k + 1]; ++i) {
                const RowPair row = rowAt(i);
                size_t o = firstScan(i);
                for (const auto& [from, to] : spans) o = runs(i, row, std::max(o, from), to);
            }
        }
    }
    result.dataSize = static_cast<uint32_t>(p - out);
    return result;
}

void ZVFomixPatchRows(const uint8_t* data, uint32_t blocks, uint8_t* row0, int64_t step,
                      size_t bytesPerRow) {
    size_t pos = 0;
    for (uint32_t i = 0; i < blocks; ++i) {
        const size_t offset = loadWord(data + pos);
        size_t length = loadWord(data + pos + 4);
        pos += 8;
        // A block stays in its row but for the closing word it may take from the next.
        size_t row = offset / bytesPerRow, column = offset % bytesPerRow;
        while (length > 0) {
            const size_t piece = std::min(length, bytesPerRow - column);
            std::memcpy(row0 + static_cast<int64_t>(row) * step + column, data + pos, piece);
            pos += piece;
            length -= piece;
            ++row;
            column = 0;
        }
    }
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
