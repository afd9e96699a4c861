#include "Platform/PipeWire/ZVPipeWireCursorMeta.h"

#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>
#include <vector>

namespace {
// A cursor bitmap in one of the formats compositors use, to B, G, R, A.
bool cursorPixels(uint32_t format, const uint8_t* s, size_t stride, int32_t w, int32_t h,
                  std::vector<uint8_t>& out) {
    // Where B, G, R and A sit in a source pixel of each format.
    struct Order {
        uint32_t format;
        int at[4];
    };
    static constexpr Order kOrders[] = {{SPA_VIDEO_FORMAT_BGRA, {0, 1, 2, 3}},
                                        {SPA_VIDEO_FORMAT_RGBA, {2, 1, 0, 3}},
                                        {SPA_VIDEO_FORMAT_ARGB, {3, 2, 1, 0}},
                                        {SPA_VIDEO_FORMAT_ABGR, {1, 2, 3, 0}}};
    const Order* found = nullptr;
    for (const Order& o : kOrders)
        if (o.format == format) found = &o;
    if (!found) return false;
    const int* order = found->at;
    out.resize(size_t(w) * size_t(h) * 4);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = s + size_t(y) * stride;
        uint8_t* d = out.data() + size_t(y) * size_t(w) * 4;
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) d[4 * x + c] = row[4 * x + order[c]];
    }
    return true;
}
}  // namespace

ZVPipeWireCursorMeta ZVReadPipeWireCursorMeta(const void* block, size_t size) {
    ZVPipeWireCursorMeta out;
    spa_meta_cursor mc;
    if (!block || size < sizeof mc) return out;
    std::memcpy(&mc, block, sizeof mc);
    if (mc.id == 0) return out;  // nothing new about the cursor in this buffer
    out.valid = true;
    out.x = mc.position.x;
    out.y = mc.position.y;
    spa_meta_bitmap bm;
    if (mc.bitmap_offset < sizeof mc || mc.bitmap_offset > size - sizeof bm)
        return out;  // the same bitmap as before
    const auto* base = static_cast<const uint8_t*>(block) + mc.bitmap_offset;
    std::memcpy(&bm, base, sizeof bm);
    ZVCursorImage image;
    image.hotX = mc.hotspot.x;
    image.hotY = mc.hotspot.y;
    const uint64_t w = bm.size.width, h = bm.size.height;
    const uint64_t stride = bm.stride > 0 ? uint64_t(bm.stride) : w * 4;
    const uint64_t room = size - mc.bitmap_offset;
    // Bitmaps larger than any cursor are taken for damage, as are ones reaching past the block.
    if (w > 0 && h > 0 && w <= 4096 && h <= 4096 && stride >= w * 4 && bm.offset >= sizeof bm &&
        bm.offset <= room && (h - 1) * stride + w * 4 <= room - bm.offset &&
        cursorPixels(bm.format, base + bm.offset, size_t(stride), int32_t(w), int32_t(h),
                     image.pixels)) {
        image.width = int32_t(w);
        image.height = int32_t(h);
    }
    // An empty bitmap is how a compositor says the cursor is hidden.
    out.image = std::move(image);
    return out;
}
