#pragma once
// Cursors as the recorder keeps them, for the tests of movie frames and the cursor list.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "ZorvanInternal.h"

namespace zvtest {

// A w x h cursor of BGRA pixels, each pixel (x, y) {x, y, 200, 255}, or all `bgra` (a word
// in memory order) when given.
inline ZVCursorEntry makeCursor(int w, int h, ZVPoint hotSpot = {}, int32_t id = 0,
                                std::optional<uint32_t> bgra = std::nullopt) {
    auto data = std::make_shared<std::vector<uint8_t>>(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &(*data)[(size_t(y) * w + x) * 4];
            if (bgra) {
                std::memcpy(p, &*bgra, 4);
            } else {
                p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 200, p[3] = 255;
            }
        }
    ZVCursorInfo info{};
    info.size = int32_t(data->size());
    info.bytesPerRow = w * 4;
    info.bounds = ZVMakeRect(0, 0, float(w), float(h));
    info.hotSpot = hotSpot;
    info.depth = 32;
    info.components = 4;
    info.bitsPerComponent = 8;
    return ZVCursorEntry{id, info, data};
}

// The same cursor as a machine of the other byte order recorded it: every field of the
// record and every pixel word reversed.
inline ZVCursorEntry otherByteOrder(const ZVCursorEntry& c) {
    auto swap = [](auto& v) {
        auto* b = reinterpret_cast<uint8_t*>(&v);
        std::reverse(b, b + sizeof v);
    };
    ZVCursorInfo i = c.info;
    swap(i.size), swap(i.bytesPerRow), swap(i.bounds.origin.x), swap(i.bounds.origin.y);
    swap(i.bounds.size.width), swap(i.bounds.size.height), swap(i.hotSpot.x), swap(i.hotSpot.y);
    swap(i.depth), swap(i.components), swap(i.bitsPerComponent);
    auto data = std::make_shared<std::vector<uint8_t>>(*c.data);
    for (size_t o = 0; o + 4 <= data->size(); o += 4) std::reverse(&(*data)[o], &(*data)[o + 4]);
    return ZVCursorEntry{c.id, i, data};
}

}  // namespace zvtest
